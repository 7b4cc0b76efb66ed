#pragma once
// The X11 connection of the window, keyboard and clipboard seams.
//
// It is a connection of our own (XOpenDisplay on $DISPLAY), not Qt's: Qt
// reads its xcb connection on a thread of its own, while these seams need
// plain round trips (XSync after each injected key, property reads) and
// must trap the errors a window that vanished meanwhile raises. Atoms are
// server-wide, so values interned here also compare with Qt's events.

#include <X11/Xlib.h>

namespace vt::x11 {

// nullptr when no display can be opened.
Display* display();
Atom atom(const char* name);

// Turns the X errors of its lifetime into a flag instead of Xlib's default
// handler, which ends the process.
class ErrorTrap {
  public:
    explicit ErrorTrap(Display* d);
    ~ErrorTrap();
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;
    // Syncs, then tells whether any request since the trap began failed.
    bool failed();

  private:
    Display* display_;
    int (*previous_)(Display*, XErrorEvent*);
    bool outer_error_ = false;
};

}  // namespace vt::x11
