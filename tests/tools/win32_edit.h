#pragma once
// Reads what the edit control of another program's window holds, as the
// Windows tests and benchmarks check what arrived: the window by its exact
// title, its first child of class "Edit", its text through WM_GETTEXT.

#include <windows.h>

#include <string>

namespace vt::win32 {

inline BOOL CALLBACK FirstEditOf(HWND w, LPARAM out) {
    wchar_t cls[32] = {};
    GetClassNameW(w, cls, 32);
    if (_wcsicmp(cls, L"Edit") != 0)
        return TRUE;
    *reinterpret_cast<HWND*>(out) = w;
    return FALSE;
}

// Nothing when there is no such window or it has no edit.
inline HWND EditOf(const std::wstring& title) {
    const HWND top = FindWindowW(nullptr, title.c_str());
    HWND edit = nullptr;
    if (top)
        EnumChildWindows(top, FirstEditOf, reinterpret_cast<LPARAM>(&edit));
    return edit;
}

// False when the edit's program did not answer within 5 s.
inline bool TextOf(HWND edit, std::wstring* text) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(edit, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length))
        return false;
    std::wstring buffer(size_t(length) + 1, L'\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(edit, WM_GETTEXT, WPARAM(buffer.size()),
                             reinterpret_cast<LPARAM>(buffer.data()), SMTO_ABORTIFHUNG, 5000, &got))
        return false;
    buffer.resize(size_t(got));
    *text = buffer;
    return true;
}

}  // namespace vt::win32
