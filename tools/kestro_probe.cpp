// A small inspector for a running kestro.exe, run under the same Wine
// prefix: waits for its window, reads its toggles' states, closes it.
//
//   kestro_probe wait [ms]         exits 0 once the main window is visible
//   kestro_probe checked NAME...   prints "NAME 1" or "NAME 0" per toggle (BM_GETCHECK)
//   kestro_probe page N            clicks the button of page N (0-3) of the tab control
//   kestro_probe rect              prints the main window's screen rectangle: left top width height
//   kestro_probe close             asks the main window to close
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

HWND FindMain() { return FindWindowW(L"TfrmMain", nullptr); }

struct Search {
    std::wstring caption;
    HWND found;
};

// Toggles are found by their caption: the only names an outside program has.
BOOL CALLBACK FindByCaption(HWND window, LPARAM lParam) {
    auto* search = reinterpret_cast<Search*>(lParam);
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    if (search->caption == text) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// TCM_GETITEMRECT writes into the tab control's own process: lend it a
// buffer there and read it back.
bool RemoteItemRect(HWND tab, int index, RECT* out) {
    DWORD pid = 0;
    GetWindowThreadProcessId(tab, &pid);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!process) return false;
    bool ok = false;
    void* remote = VirtualAllocEx(process, nullptr, sizeof(RECT), MEM_COMMIT, PAGE_READWRITE);
    if (remote) {
        if (SendMessageW(tab, TCM_GETITEMRECT, index, reinterpret_cast<LPARAM>(remote)))
            ok = ReadProcessMemory(process, remote, out, sizeof(RECT), nullptr) != FALSE;
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    }
    CloseHandle(process);
    return ok;
}

std::wstring Widen(const char* utf8) {
    wchar_t buffer[512] = {};
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, buffer, 512);
    return buffer;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: kestro_probe wait [ms] | checked CAPTION... | close\n");
        return 2;
    }
    const std::string command = argv[1];
    if (command == "wait") {
        const DWORD limit = argc > 2 ? static_cast<DWORD>(std::atoi(argv[2])) : 30000;
        const DWORD start = GetTickCount();
        for (;;) {
            HWND main = FindMain();
            if (main && IsWindowVisible(main)) return 0;
            if (GetTickCount() - start > limit) return 1;
            Sleep(100);
        }
    }
    HWND main = FindMain();
    if (!main) {
        std::fprintf(stderr, "kestro_probe: no main window\n");
        return 1;
    }
    if (command == "rect") {
        RECT rc;
        GetWindowRect(main, &rc);
        std::printf("%ld %ld %ld %ld\n", rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top);
        return 0;
    }
    if (command == "page" && argc > 2) {
        HWND tab = FindWindowExW(main, nullptr, L"SysTabControl32", nullptr);
        if (!tab) return 1;
        RECT item;
        if (!RemoteItemRect(tab, std::atoi(argv[2]), &item)) return 1;
        // A click on the tab's button, as the mouse gives it.
        const LPARAM at = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
        SendMessageW(tab, WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageW(tab, WM_LBUTTONUP, 0, at);
        return SendMessageW(tab, TCM_GETCURSEL, 0, 0) == std::atoi(argv[2]) ? 0 : 1;
    }
    if (command == "close") {
        PostMessageW(main, WM_CLOSE, 0, 0);
        return 0;
    }
    if (command == "checked") {
        int status = 0;
        for (int i = 2; i < argc; ++i) {
            Search search = {Widen(argv[i]), nullptr};
            EnumChildWindows(main, FindByCaption, reinterpret_cast<LPARAM>(&search));
            if (!search.found) {
                std::printf("%s ?\n", argv[i]);
                status = 1;
                continue;
            }
            std::printf("%s %d\n", argv[i], SendMessageW(search.found, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0);
        }
        return status;
    }
    std::fprintf(stderr, "kestro_probe: unknown command %s\n", command.c_str());
    return 2;
}
