// A minimal XEmbed notification area for tests: it owns the system tray
// selection of screen 0, docks every icon that asks into a row at the top
// left of the screen and prints "docked <window> <x> <y>" for each, so a test
// knows where to click.

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdio>

namespace {
constexpr long kRequestDock = 0;
constexpr long kEmbeddedNotify = 0;
constexpr int kIconSize = 22;
}  // namespace

int main() {
    Display* d = XOpenDisplay(nullptr);
    if (!d)
        return 1;
    const Window root = DefaultRootWindow(d);
    const Window tray =
        XCreateSimpleWindow(d, root, 0, 0, 8 * kIconSize, kIconSize, 0, 0, 0xDDDDDD);
    XSetWindowAttributes attrs{};
    attrs.override_redirect = True;
    XChangeWindowAttributes(d, tray, CWOverrideRedirect, &attrs);
    XMapRaised(d, tray);

    const Atom selection = XInternAtom(d, "_NET_SYSTEM_TRAY_S0", False);
    const Atom opcode = XInternAtom(d, "_NET_SYSTEM_TRAY_OPCODE", False);
    const Atom manager = XInternAtom(d, "MANAGER", False);
    const Atom xembed = XInternAtom(d, "_XEMBED", False);
    const Atom orientation = XInternAtom(d, "_NET_SYSTEM_TRAY_ORIENTATION", False);
    long horizontal = 0;
    XChangeProperty(d, tray, orientation, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&horizontal), 1);
    XSetSelectionOwner(d, selection, tray, CurrentTime);
    if (XGetSelectionOwner(d, selection) != tray)
        return 1;

    XClientMessageEvent announce{};
    announce.type = ClientMessage;
    announce.window = root;
    announce.message_type = manager;
    announce.format = 32;
    announce.data.l[0] = CurrentTime;
    announce.data.l[1] = static_cast<long>(selection);
    announce.data.l[2] = static_cast<long>(tray);
    XSendEvent(d, root, False, StructureNotifyMask, reinterpret_cast<XEvent*>(&announce));
    XFlush(d);
    std::printf("ready %lu\n", tray);
    std::fflush(stdout);

    int next_x = 0;
    for (;;) {
        XEvent ev;
        XNextEvent(d, &ev);
        if (ev.type != ClientMessage || ev.xclient.message_type != opcode ||
            ev.xclient.data.l[1] != kRequestDock) {
            continue;
        }
        const Window icon = static_cast<Window>(ev.xclient.data.l[2]);
        XReparentWindow(d, icon, tray, next_x, 0);
        XResizeWindow(d, icon, kIconSize, kIconSize);
        XMapRaised(d, icon);
        XClientMessageEvent notify{};
        notify.type = ClientMessage;
        notify.window = icon;
        notify.message_type = xembed;
        notify.format = 32;
        notify.data.l[0] = CurrentTime;
        notify.data.l[1] = kEmbeddedNotify;
        notify.data.l[3] = static_cast<long>(tray);
        XSendEvent(d, icon, False, NoEventMask, reinterpret_cast<XEvent*>(&notify));
        XFlush(d);
        std::printf("docked %lu %d %d\n", icon, next_x + kIconSize / 2, kIconSize / 2);
        std::fflush(stdout);
        next_x += kIconSize;
    }
}
