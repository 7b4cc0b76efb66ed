#pragma once
// The desktop's top-level windows as the shop search sees them, and the
// active window that keystrokes reach.

#include <QString>
#include <cstdint>
#include <vector>

namespace vt {

// A title longer than this is cut: the search has always seen only this much.
inline constexpr int kMaxWindowTitle = 254;

struct TopLevelWindow {
    uint64_t handle = 0;
    QString title;
    QString classname;
    int32_t processid = 0;
    bool visible = false;  // viewable and not minimised
};

class WindowSystem {
  public:
    virtual ~WindowSystem() = default;
    // Every client window of the desktop, visible, minimised or unmapped,
    // topmost first. Empty when there is no display.
    virtual std::vector<TopLevelWindow> top_level_windows() = 0;
    // 0 when no window is active or there is no display.
    virtual uint64_t active_window() = 0;
    // True when keystrokes sent now would reach `handle`: it is the active
    // window and the server's input focus lies in it.
    virtual bool has_keyboard_focus(uint64_t handle) = 0;
    virtual bool window_exists(uint64_t handle) = 0;
    // Asks for `handle` to become the active window (de-iconifying it) and
    // waits up to `timeout_ms` until it is; true when it is active.
    virtual bool activate(uint64_t handle, int timeout_ms) = 0;
    // For one of our own windows, hidden while it was minimised: its next
    // map shows it normally. A window manager keeps a window iconic when it
    // is mapped with an iconic start hint, and a hide does not clear it.
    virtual void map_normally_next(uint64_t handle) { (void)handle; }
    // While held, the display carries out no other client's requests: a
    // focus seen then stays where it is until the keys sent meanwhile have
    // reached it. Held only for a look and a few keys.
    virtual void hold(bool on) = 0;
};

// Holds the display for its lifetime.
class DisplayHold {
  public:
    DisplayHold();
    ~DisplayHold();
    DisplayHold(const DisplayHold&) = delete;
    DisplayHold& operator=(const DisplayHold&) = delete;
};

// The desktop this process runs on (X11 on Linux).
WindowSystem& window_system();

}  // namespace vt
