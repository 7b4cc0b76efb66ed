#include "platform/linux/x11_display.h"

#include <map>
#include <string>

namespace vt::x11 {
namespace {

bool g_error = false;

int RecordError(Display*, XErrorEvent*) {
    g_error = true;
    return 0;
}

}  // namespace

Display* display() {
    static Display* const d = XOpenDisplay(nullptr);
    return d;
}

Atom atom(const char* name) {
    static std::map<std::string, Atom> cache;
    auto it = cache.find(name);
    if (it != cache.end())
        return it->second;
    Display* d = display();
    if (!d)
        return None;
    const Atom a = XInternAtom(d, name, False);
    cache.emplace(name, a);
    return a;
}

ErrorTrap::ErrorTrap(Display* d) : display_(d) {
    XSync(display_, False);
    // A trap inside another keeps its errors to itself.
    outer_error_ = g_error;
    g_error = false;
    previous_ = XSetErrorHandler(RecordError);
}

ErrorTrap::~ErrorTrap() {
    XSync(display_, False);
    XSetErrorHandler(previous_);
    g_error = outer_error_;
}

bool ErrorTrap::failed() {
    XSync(display_, False);
    return g_error;
}

}  // namespace vt::x11
