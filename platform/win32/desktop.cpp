// The desktop seams on Win32: the top-level windows as EnumWindows lists
// them, the foreground window, injected keys, the Caps Lock state and the
// fetches of the clipboard's text.
#include <windows.h>

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QThread>
#include <algorithm>
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

// Windows gives the foreground to a background process only when the
// foreground window's thread agrees; sharing its input state for the call
// counts as that. Without it the request merely flashes the taskbar button
// and the keys would go to the window in front.
void ToForeground(HWND w) {
    if (SetForegroundWindow(w) && GetForegroundWindow() == w)
        return;
    const HWND front = GetForegroundWindow();
    const DWORD ours = GetCurrentThreadId();
    const DWORD theirs = front ? GetWindowThreadProcessId(front, nullptr) : 0;
    const bool attached = theirs != 0 && theirs != ours && AttachThreadInput(ours, theirs, TRUE);
    BringWindowToTop(w);
    SetForegroundWindow(w);
    if (attached)
        AttachThreadInput(ours, theirs, FALSE);
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
        if (GetForegroundWindow() != w)
            ToForeground(w);
        SetActiveWindow(w);
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
    // Toggled on and not held down: a held key is left alone, the user is
    // pressing it.
    bool caps_lock_on() override { return GetKeyState(VK_CAPITAL) == 1; }

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

// Windows tells the clipboard's owner of a fetch only for a format it
// renders late. So before each paste the text that Qt has put on the
// clipboard is taken over into a late-rendered copy of our own: the first
// program that asks for it (in any text format; the system converts from
// CF_UNICODETEXT) makes the owner render it, and that is the fetch counted.
// Later fetches of the same copy are served by the system, unseen, which is
// why a paste counts as fetched with its first request.
class Win32ClipboardWatch final : public ClipboardWatch {
  public:
    Win32ClipboardWatch() {
        WNDCLASSW wc{};
        wc.lpfnWndProc = &Win32ClipboardWatch::Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"VantorTransClipboardOwner";
        RegisterClassW(&wc);
        owner_ = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 wc.hInstance, nullptr);
        SetWindowLongPtrW(owner_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        // What is still to be rendered at the end would be gone with the
        // window: it stays on the clipboard for the user.
        if (auto* app = QCoreApplication::instance())
            QObject::connect(app, &QCoreApplication::aboutToQuit, app, [this] { render_all(); });
    }

    uint64_t served_text_requests() override {
        serve_sent();
        return served_;
    }

    uint64_t serve_waiting_requests() override {
        serve_sent();
        take_over();
        return served_;
    }

    bool wait_for_fetch(uint64_t seen, int timeout_ms) override {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        for (;;) {
            serve_sent();
            if (served_ > seen)
                return true;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            // Only the requests sent to the owner window wake us: the rest
            // of the queue stays for the program's own loop.
            MsgWaitForMultipleObjects(0, nullptr, FALSE, DWORD(std::min<long long>(left.count(), 50)),
                                      QS_SENDMESSAGE);
        }
    }

  private:
    static LRESULT CALLBACK Proc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
        auto* self = reinterpret_cast<Win32ClipboardWatch*>(GetWindowLongPtrW(w, GWLP_USERDATA));
        if (self) {
            switch (msg) {
            case WM_RENDERFORMAT:
                if (wp == CF_UNICODETEXT) {
                    ++self->served_;
                    self->render();
                }
                return 0;
            case WM_RENDERALLFORMATS:
                self->render_all();
                return 0;
            default:
                break;
            }
        }
        return DefWindowProcW(w, msg, wp, lp);
    }

    // Until another program (or Qt) puts something on the clipboard.
    bool owns() const { return owner_ && GetClipboardOwner() == owner_; }

    // Sent messages are handled by any peek, posted ones stay queued.
    static void serve_sent() {
        MSG m;
        PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }

    // Another program may hold the clipboard for a moment.
    bool open() {
        for (int i = 0; i < 20; ++i) {
            if (OpenClipboard(owner_))
                return true;
            QThread::msleep(5);
        }
        return false;
    }

    void take_over() {
        if (!owner_ || owns())
            return;
        const QString text = QGuiApplication::clipboard()->text();
        if (!open())
            return;  // the text stays Qt's; its fetch is then not seen
        EmptyClipboard();
        text_ = text;
        // A late-rendered format has no handle to give back; should it
        // fail, the clipboard is empty and ours, and the paste fetches
        // nothing, which counts as a failed paste.
        SetClipboardData(CF_UNICODETEXT, nullptr);
        CloseClipboard();
    }

    // Inside WM_RENDERFORMAT the clipboard is open for us already.
    void render() {
        const size_t bytes = size_t(text_.size() + 1) * sizeof(wchar_t);
        HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, bytes);
        if (!h)
            return;
        if (auto* p = static_cast<wchar_t*>(GlobalLock(h))) {
            const int n = text_.toWCharArray(p);
            p[n] = 0;
            GlobalUnlock(h);
        }
        if (!SetClipboardData(CF_UNICODETEXT, h))
            GlobalFree(h);
    }

    void render_all() {
        if (!owns() || !open())
            return;
        render();
        CloseClipboard();
    }

    HWND owner_ = nullptr;
    QString text_;
    uint64_t served_ = 0;
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
