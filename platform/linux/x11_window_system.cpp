// Top-level windows and the active window through Xlib and the EWMH hints.

#include <unistd.h>

#include <QElapsedTimer>
#include <algorithm>

#include "platform/window_system.h"

// Xlib's macros (CursorShape, None, Bool...) clash with Qt's names: after Qt.
#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include "platform/linux/x11_display.h"

namespace vt {
namespace {

using x11::atom;

// The items of a property of format 32 (Xlib hands them over as longs).
std::vector<unsigned long> LongProperty(Display* d, Window w, Atom property, Atom type) {
    std::vector<unsigned long> values;
    Atom actual_type = None;
    int actual_format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, w, property, 0, 1L << 16, False, type, &actual_type, &actual_format,
                           &count, &after, &data) == Success &&
        data && actual_format == 32) {
        const auto* items = reinterpret_cast<const unsigned long*>(data);
        values.assign(items, items + count);
    }
    if (data)
        XFree(data);
    return values;
}

QString Utf8Property(Display* d, Window w, Atom property) {
    Atom actual_type = None;
    int actual_format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    QString text;
    if (XGetWindowProperty(d, w, property, 0, 1L << 16, False, atom("UTF8_STRING"), &actual_type,
                           &actual_format, &count, &after, &data) == Success &&
        data && actual_format == 8) {
        text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<int>(count));
    }
    if (data)
        XFree(data);
    return text;
}

QString WindowTitle(Display* d, Window w) {
    QString title = Utf8Property(d, w, atom("_NET_WM_NAME"));
    if (title.isEmpty()) {
        XTextProperty prop{};
        if (XGetWMName(d, w, &prop) && prop.value) {
            char** list = nullptr;
            int n = 0;
            if (Xutf8TextPropertyToTextList(d, &prop, &list, &n) >= Success && list) {
                if (n > 0)
                    title = QString::fromUtf8(list[0]);
                XFreeStringList(list);
            }
            XFree(prop.value);
        }
    }
    return title.left(kMaxWindowTitle);
}

bool HasWmState(Display* d, Window w) {
    Atom actual_type = None;
    int actual_format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const bool has =
        XGetWindowProperty(d, w, atom("WM_STATE"), 0, 0, False, AnyPropertyType, &actual_type,
                           &actual_format, &count, &after, &data) == Success &&
        actual_type != None;
    if (data)
        XFree(data);
    return has;
}

std::vector<Window> Children(Display* d, Window w) {
    Window root = 0, parent = 0;
    Window* kids = nullptr;
    unsigned int n = 0;
    std::vector<Window> result;
    if (XQueryTree(d, w, &root, &parent, &kids, &n) && kids)
        result.assign(kids, kids + n);
    if (kids)
        XFree(kids);
    return result;  // bottom of the stack first
}

// The client window inside a frame: the first descendant carrying WM_STATE.
Window ClientIn(Display* d, Window frame) {
    if (HasWmState(d, frame))
        return frame;
    for (Window child : Children(d, frame)) {
        if (Window client = ClientIn(d, child))
            return client;
    }
    return 0;
}

bool WindowManagerRuns(Display* d) {
    const Window root = DefaultRootWindow(d);
    const auto check = LongProperty(d, root, atom("_NET_SUPPORTING_WM_CHECK"), XA_WINDOW);
    if (check.empty())
        return false;
    x11::ErrorTrap trap(d);
    const auto self = LongProperty(d, check[0], atom("_NET_SUPPORTING_WM_CHECK"), XA_WINDOW);
    return !trap.failed() && !self.empty() && self[0] == check[0];
}

class X11WindowSystem final : public WindowSystem {
  public:
    std::vector<TopLevelWindow> top_level_windows() override {
        std::vector<TopLevelWindow> result;
        Display* d = x11::display();
        if (!d)
            return result;
        for (Window w : StackTopFirst(d)) {
            x11::ErrorTrap trap(d);
            XWindowAttributes attributes{};
            if (!XGetWindowAttributes(d, w, &attributes))
                continue;
            TopLevelWindow info;
            info.handle = w;
            info.title = WindowTitle(d, w);
            XClassHint hint{};
            if (XGetClassHint(d, w, &hint)) {
                info.classname = QString::fromLocal8Bit(hint.res_class).left(kMaxWindowTitle);
                XFree(hint.res_name);
                XFree(hint.res_class);
            }
            const auto pid = LongProperty(d, w, atom("_NET_WM_PID"), XA_CARDINAL);
            info.processid = pid.empty() ? 0 : static_cast<int32_t>(pid[0]);
            const auto states = LongProperty(d, w, atom("_NET_WM_STATE"), XA_ATOM);
            const bool hidden = std::find(states.begin(), states.end(),
                                          atom("_NET_WM_STATE_HIDDEN")) != states.end();
            info.visible = attributes.map_state == IsViewable && !hidden;
            if (trap.failed())
                continue;  // vanished while being read
            result.push_back(std::move(info));
        }
        return result;
    }

    uint64_t active_window() override {
        Display* d = x11::display();
        if (!d)
            return 0;
        if (WindowManagerRuns(d)) {
            const auto active =
                LongProperty(d, DefaultRootWindow(d), atom("_NET_ACTIVE_WINDOW"), XA_WINDOW);
            return active.empty() ? 0 : active[0];
        }
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(d, &focus, &revert);
        return focus == PointerRoot ? 0 : focus;
    }

    bool has_keyboard_focus(uint64_t handle) override {
        Display* d = x11::display();
        if (!d || handle == 0 || active_window() != handle)
            return false;
        // The window manager announces the active window before or after it
        // moves the focus; injected keys follow the focus alone.
        x11::ErrorTrap trap(d);
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(d, &focus, &revert);
        for (int depth = 0; focus != 0 && focus != PointerRoot && depth < 64; ++depth) {
            if (focus == handle)
                return !trap.failed();
            Window root = 0, parent = 0;
            Window* children = nullptr;
            unsigned int count = 0;
            if (!XQueryTree(d, focus, &root, &parent, &children, &count))
                return false;
            if (children)
                XFree(children);
            if (parent == root)
                break;
            focus = parent;
        }
        return false;
    }

    void map_normally_next(uint64_t handle) override {
        Display* d = x11::display();
        if (!d || handle == 0)
            return;
        x11::ErrorTrap trap(d);
        XWMHints* hints = XGetWMHints(d, handle);
        XWMHints normal{};
        XWMHints* h = hints ? hints : &normal;
        h->flags |= StateHint;
        h->initial_state = NormalState;
        XSetWMHints(d, handle, h);
        if (hints)
            XFree(hints);
        (void)trap.failed();  // syncs: the hint is in place before the map
    }

    bool window_exists(uint64_t handle) override {
        Display* d = x11::display();
        if (!d || handle == 0)
            return false;
        x11::ErrorTrap trap(d);
        XWindowAttributes attributes{};
        const bool ok = XGetWindowAttributes(d, handle, &attributes);
        return ok && !trap.failed();
    }

    void hold(bool on) override {
        Display* d = x11::display();
        if (!d)
            return;
        if (on) {
            XGrabServer(d);
            XSync(d, False);
        } else {
            XUngrabServer(d);
            XFlush(d);
        }
    }

    bool activate(uint64_t handle, int timeout_ms) override {
        Display* d = x11::display();
        if (!d || handle == 0)
            return false;
        if (active_window() == handle)
            return true;
        const bool managed = WindowManagerRuns(d);
        {
            x11::ErrorTrap trap(d);
            if (managed) {
                XEvent e{};
                e.xclient.type = ClientMessage;
                e.xclient.window = handle;
                e.xclient.message_type = atom("_NET_ACTIVE_WINDOW");
                e.xclient.format = 32;
                e.xclient.data.l[0] = 2;  // a pager's request: window managers honour it
                e.xclient.data.l[1] = static_cast<long>(ServerTime(d));
                e.xclient.data.l[2] = 0;
                XSendEvent(d, DefaultRootWindow(d), False,
                           SubstructureRedirectMask | SubstructureNotifyMask, &e);
            } else {
                XMapRaised(d, handle);
                XSync(d, False);
                XSetInputFocus(d, handle, RevertToParent, CurrentTime);
            }
            if (trap.failed())
                return false;
        }
        QElapsedTimer timer;
        timer.start();
        while (active_window() != handle) {
            if (timer.elapsed() >= timeout_ms)
                return false;
            usleep(2000);
        }
        return true;
    }

  private:
    static std::vector<Window> StackTopFirst(Display* d) {
        std::vector<Window> windows;
        if (WindowManagerRuns(d)) {
            for (unsigned long w : LongProperty(d, DefaultRootWindow(d),
                                                atom("_NET_CLIENT_LIST_STACKING"), XA_WINDOW)) {
                windows.push_back(w);
            }
        } else {
            x11::ErrorTrap trap(d);
            for (Window child : Children(d, DefaultRootWindow(d))) {
                const Window client = ClientIn(d, child);
                windows.push_back(client ? client : child);
            }
        }
        std::reverse(windows.begin(), windows.end());
        return windows;
    }

    // The server's current time, which the activation request must carry:
    // the time stamp of a property change on a window of our own.
    Time ServerTime(Display* d) {
        if (!time_window_) {
            XSetWindowAttributes attributes{};
            attributes.event_mask = PropertyChangeMask;
            time_window_ = XCreateWindow(d, DefaultRootWindow(d), -1, -1, 1, 1, 0, 0, InputOnly,
                                         CopyFromParent, CWEventMask, &attributes);
        }
        const Atom stamp = atom("_VT_TIME_STAMP");
        XChangeProperty(d, time_window_, stamp, XA_INTEGER, 32, PropModeAppend, nullptr, 0);
        XEvent e{};
        XWindowEvent(d, time_window_, PropertyChangeMask, &e);
        return e.xproperty.time;
    }

    Window time_window_ = 0;
};

}  // namespace

WindowSystem& window_system() {
    static X11WindowSystem system;
    return system;
}

}  // namespace vt

namespace vt {

DisplayHold::DisplayHold() {
    window_system().hold(true);
}

DisplayHold::~DisplayHold() {
    window_system().hold(false);
}

}  // namespace vt
