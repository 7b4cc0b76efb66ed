// Windows programs for the keystroke tests under Wine, none of them ours:
//   win_form form <title>            an order form as a Windows dialog has it:
//                                    a button that has the focus at start and
//                                    a field reached by its label's access key
//                                    Alt+A ("&Artikel")
//   win_form text <title>            prints the text of the first edit control
//                                    of the window titled <title> (UTF-8), exit
//                                    1 when there is no such window
//   win_form steal <title> <watched> <n>
//                                    once the edit of <watched> holds <n> line
//                                    ends, opens a window <title> with an edit
//                                    of its own and takes the foreground, as a
//                                    program that pops up in the middle of a
//                                    transfer; prints "stolen" then
// Plain Win32, so what arrives is what Windows' own controls make of it.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/tools/win32_edit.h"

namespace {

std::wstring Wide(const char* s) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, s, -1, nullptr, 0);
    std::wstring w(size_t(n > 0 ? n - 1 : 0), L'\0');
    if (n > 1)
        MultiByteToWideChar(CP_UTF8, 0, s, -1, w.data(), n);
    return w;
}

void Print(const std::wstring& w) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string s(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), s.data(), n, nullptr, nullptr);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), s.data(), DWORD(s.size()), &written, nullptr);
}

// The text of the window's edit; false when the window or its edit is not there.
bool EditText(const std::wstring& title, std::wstring* text) {
    const HWND edit = vt::win32::EditOf(title);
    return edit && vt::win32::TextOf(edit, text);
}

// The control that had the focus when the window went to the back gets it
// again when it comes to the front, as in a dialog.
HWND g_focus = nullptr;
HWND g_field = nullptr;

LRESULT CALLBACK FormProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_ACTIVATE:
        if (LOWORD(wp) == WA_INACTIVE) {
            const HWND had = GetFocus();
            if (had && IsChild(w, had))
                g_focus = had;
        } else if (g_focus) {
            SetFocus(g_focus);
        }
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(w, msg, wp, lp);
    }
}

// The form (button, label, field; the button has the focus) or, for the
// window that steals the front, a bare field that has it.
HWND Window(const std::wstring& title, bool with_button) {
    const HINSTANCE self = GetModuleHandleW(nullptr);
    WNDCLASSW wc{};
    wc.lpfnWndProc = FormProc;
    wc.hInstance = self;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = L"VtTestForm";
    RegisterClassW(&wc);
    HWND top = CreateWindowExW(WS_EX_CONTROLPARENT, wc.lpszClassName, title.c_str(),
                               WS_OVERLAPPEDWINDOW | WS_VISIBLE, 80, 80, 520, 360, nullptr,
                               nullptr, self, nullptr);
    HWND first = nullptr;
    int y = 10;
    if (with_button) {
        first = CreateWindowExW(0, L"BUTTON", L"&Weiter", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 10,
                                y, 120, 28, top, nullptr, self, nullptr);
        y += 40;
        CreateWindowExW(0, L"STATIC", L"&Artikel:", WS_CHILD | WS_VISIBLE, 10, y, 120, 20, top,
                        nullptr, self, nullptr);
        y += 24;
    }
    HWND edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                                WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE |
                                    ES_WANTRETURN | ES_AUTOVSCROLL,
                                10, y, 480, 220, top, nullptr, self, nullptr);
    g_field = edit;
    g_focus = first ? first : edit;
    SetFocus(g_focus);
    return top;
}

int Loop(HWND top) {
    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0) > 0) {
        // The field's access key, as a web page's accesskey attribute: the
        // page takes Alt+A before any control sees it.
        if (m.message == WM_SYSKEYDOWN && m.wParam == 'A' && g_field) {
            SetFocus(g_field);
            continue;
        }
        if ((m.message == WM_SYSCHAR || m.message == WM_SYSKEYUP) &&
            (m.wParam == 'a' || m.wParam == 'A'))
            continue;
        if (IsDialogMessageW(top, &m))
            continue;
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
    return 0;
}

int CountLineEnds(const std::wstring& text) {
    int n = 0;
    for (wchar_t c : text)
        n += c == L'\r' ? 1 : 0;
    return n;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc >= 2 ? argv[1] : "";
    if (mode == "form" && argc == 3) {
        return Loop(Window(Wide(argv[2]), true));
    }
    if (mode == "text" && argc == 3) {
        std::wstring text;
        if (!EditText(Wide(argv[2]), &text))
            return 1;
        Print(text);
        return 0;
    }
    if (mode == "steal" && argc == 5) {
        const std::wstring watched = Wide(argv[3]);
        const int lines = std::atoi(argv[4]);
        for (;;) {
            std::wstring text;
            if (EditText(watched, &text) && CountLineEnds(text) >= lines)
                break;
            Sleep(5);
        }
        HWND top = Window(Wide(argv[2]), false);
        SetForegroundWindow(top);
        Print(L"stolen\n");
        return Loop(top);
    }
    Print(L"usage: win_form form <title> | text <title> | steal <title> <watched> <n>\n");
    return 2;
}
