// The desktop seams on Win32: the top-level windows as EnumWindows lists
// them, the foreground window, injected keys and the Caps Lock state.
#include <windows.h>

#include <QThread>
#include <chrono>

#include "platform/clipboard_watch.h"
#include "platform/keyboard.h"
#include "platform/window_system.h"

namespace vt {
namespace {

HWND Hwnd(uint64_t handle) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(handle)); }
uint64_t Handle(HWND w) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(w)); }

BOOL CALLBACK Collect(HWND w, LPARAM out) {
    auto* list = reinterpret_cast<std::vector<TopLevelWindow>*>(out);
    TopLevelWindow t;
    t.handle = Handle(w);
    wchar_t title[kMaxWindowTitle + 1] = {};
    const int n = GetWindowTextW(w, title, kMaxWindowTitle + 1);
    t.title = QString::fromWCharArray(title, n > 0 ? n : 0);
    wchar_t cls[256] = {};
    const int c = GetClassNameW(w, cls, 256);
    t.classname = QString::fromWCharArray(cls, c > 0 ? c : 0);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    t.processid = int32_t(pid);
    t.visible = IsWindowVisible(w) && !IsIconic(w);
    list->push_back(std::move(t));
    return TRUE;
}

class Win32WindowSystem final : public WindowSystem {
  public:
    // EnumWindows goes from the top of the Z order down.
    std::vector<TopLevelWindow> top_level_windows() override {
        std::vector<TopLevelWindow> out;
        EnumWindows(Collect, reinterpret_cast<LPARAM>(&out));
        return out;
    }
    uint64_t active_window() override { return Handle(GetForegroundWindow()); }
    bool has_keyboard_focus(uint64_t handle) override {
        return handle != 0 && GetForegroundWindow() == Hwnd(handle);
    }
    bool window_exists(uint64_t handle) override { return handle != 0 && IsWindow(Hwnd(handle)); }
    bool activate(uint64_t handle, int timeout_ms) override {
        HWND w = Hwnd(handle);
        if (handle == 0 || !IsWindow(w))
            return false;
        if (IsIconic(w))
            ShowWindow(w, SW_RESTORE);
        SetForegroundWindow(w);
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (GetForegroundWindow() != w) {
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            QThread::msleep(10);
        }
        return true;
    }
    // Windows hands input to the foreground thread's queue in order; there
    // is no server to hold.
    void hold(bool) override {}
};

class Win32Keyboard final : public Keyboard {
  public:
    bool has_key(int vk) override {
        return vk == vk::Menu || vk == vk::Control || vk == vk::Capital ||
               (vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z');
    }
    bool key_down(int vk) override { return send(vk, 0); }
    bool key_up(int vk) override { return send(vk, KEYEVENTF_KEYUP); }
    // The low bit is the toggle state.
    bool caps_lock_on() override { return (GetKeyState(VK_CAPITAL) & 1) != 0; }

  private:
    bool send(int vk, DWORD flags) {
        if (!has_key(vk))
            return false;
        INPUT in{};
        in.type = INPUT_KEYBOARD;
        in.ki.wVk = WORD(vk);
        in.ki.wScan = WORD(MapVirtualKeyW(UINT(vk), MAPVK_VK_TO_VSC));
        in.ki.dwFlags = flags;
        return SendInput(1, &in, sizeof in) == 1;
    }
};

// Fetches of the clipboard's text are not counted on Windows yet, so none is
// ever seen: a paste that relied on one would count as failed, never as done.
class Win32ClipboardWatch final : public ClipboardWatch {
  public:
    uint64_t served_text_requests() override { return 0; }
    uint64_t serve_waiting_requests() override { return 0; }
    bool wait_for_fetch(uint64_t, int) override { return false; }
};

}  // namespace

WindowSystem& window_system() {
    static Win32WindowSystem w;
    return w;
}

Keyboard& keyboard() {
    static Win32Keyboard k;
    return k;
}

ClipboardWatch& clipboard_watch() {
    static Win32ClipboardWatch c;
    return c;
}

DisplayHold::DisplayHold() { window_system().hold(true); }

DisplayHold::~DisplayHold() { window_system().hold(false); }

}  // namespace vt
