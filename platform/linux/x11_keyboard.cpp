// Key events through XTest; the Caps Lock state from XKB.

#include "platform/keyboard.h"

#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include "platform/linux/x11_display.h"

namespace vt {
namespace {

KeySym KeySymFor(int code) {
    switch (code) {
        case vk::Menu:
            return XK_Alt_L;
        case vk::Control:
            return XK_Control_L;
        case vk::Capital:
            return XK_Caps_Lock;
        default:
            break;
    }
    if (code >= '0' && code <= '9')
        return XK_0 + (code - '0');
    // The unshifted symbol, so that no Shift is implied; the key is the same.
    if (code >= 'A' && code <= 'Z')
        return XK_a + (code - 'A');
    return NoSymbol;
}

class X11Keyboard final : public Keyboard {
  public:
    bool has_key(int code) override { return KeyCodeFor(code) != 0; }
    bool key_down(int code) override { return Send(code, true); }
    bool key_up(int code) override { return Send(code, false); }

    bool caps_lock_on() override {
        Display* d = x11::display();
        if (!d)
            return false;
        XkbStateRec state{};
        if (XkbGetState(d, XkbUseCoreKbd, &state) != Success)
            return false;
        return (state.locked_mods & LockMask) != 0;
    }

  private:
    static KeyCode KeyCodeFor(int code) {
        Display* d = x11::display();
        const KeySym sym = KeySymFor(code);
        if (!d || sym == NoSymbol)
            return 0;
        const KeyCode key = XKeysymToKeycode(d, sym);
        // Only a key whose first level is this symbol: a key that needs a
        // modifier to give it would type something else.
        if (key == 0 || XkbKeycodeToKeysym(d, key, 0, 0) != sym)
            return 0;
        return key;
    }

    static bool Send(int code, bool down) {
        const KeyCode key = KeyCodeFor(code);
        if (key == 0)
            return false;
        Display* d = x11::display();
        XTestFakeKeyEvent(d, key, down ? True : False, CurrentTime);
        // Synced, so the server has queued each event before the next step
        // (the clipboard owner change runs on another connection).
        XSync(d, False);
        return true;
    }
};

}  // namespace

Keyboard& keyboard() {
    static X11Keyboard k;
    return k;
}

}  // namespace vt
