// The message box a process shows, for the programs that watch one from
// outside its code: the probe of a running kestro.exe and the window tests.
#pragma once

#include <windows.h>

namespace kestro {

struct MessageBoxSearch {
    DWORD process;
    HWND found;
};

// EnumWindows' callback: a lambda cannot be CALLBACK (stdcall) on i686.
inline BOOL CALLBACK MatchMessageBox(HWND window, LPARAM lParam) {
    auto* search = reinterpret_cast<MessageBoxSearch*>(lParam);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t cls[32] = {};
    GetClassNameW(window, cls, 32);
    if (owner != search->process || lstrcmpW(cls, L"#32770") != 0 || !IsWindowVisible(window)) return TRUE;
    search->found = window;
    return FALSE;
}

// A visible dialog-class window ("#32770", as MessageBox makes) of
// `process`, or null.
inline HWND FindMessageBoxOf(DWORD process) {
    MessageBoxSearch search = {process, nullptr};
    EnumWindows(MatchMessageBox, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace kestro
