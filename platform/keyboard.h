#pragma once
// Injected key events by Windows virtual-key code, and the Caps Lock state.
// The events go to whichever window has the keyboard focus.

namespace vt {

namespace vk {
inline constexpr int Control = 17;
inline constexpr int Menu = 18;     // Alt
inline constexpr int Capital = 20;  // Caps Lock
inline constexpr int V = 86;
}  // namespace vk

class Keyboard {
  public:
    virtual ~Keyboard() = default;
    // Whether the current keymap has a key for this code. Codes served:
    // Alt, Control, Caps Lock, "0"-"9" (48-57) and "A"-"Z" (65-90).
    virtual bool has_key(int vk) = 0;
    // False when the code has no key; nothing is sent then.
    virtual bool key_down(int vk) = 0;
    virtual bool key_up(int vk) = 0;
    virtual bool caps_lock_on() = 0;
};

Keyboard& keyboard();

}  // namespace vt
