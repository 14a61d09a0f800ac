// A top-level window that writes down every WM_SETTINGCHANGE it receives,
// for kestroctl_wine.sh's notification cases, and what those cases need
// besides.
//
//   settingchange_recorder record FILE   the window; one line per message,
//                                        "WPARAM TEXT" (UTF-8), appended to
//                                        FILE as it comes; runs until stopped
//   settingchange_recorder wait          exits 0 once the window exists (30 s at most)
//   settingchange_recorder stop          closes the window and waits for it to go
//   settingchange_recorder volatile KEY  makes HKEY_CURRENT_USER\KEY a volatile key:
//                                        a key that is kept on disk cannot be
//                                        made below it, so a writer fails there
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

const wchar_t kClass[] = L"KestroSettingChangeRecorder";
std::wstring g_file;

std::string Utf8(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return std::string();
    std::string bytes(static_cast<std::size_t>(size - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &bytes[0], size, nullptr, nullptr);
    return bytes;
}

// Opened, written and closed per message: the line is on disk before the
// sender's SendMessageTimeout returns.
void Append(WPARAM wParam, LPARAM lParam) {
    const std::string text = lParam ? Utf8(reinterpret_cast<const wchar_t*>(lParam)) : std::string("(null)");
    FILE* out = _wfopen(g_file.c_str(), L"ab");
    if (!out) return;
    std::fprintf(out, "%lu %s\n", static_cast<unsigned long>(wParam), text.c_str());
    std::fclose(out);
}

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SETTINGCHANGE:
            Append(wParam, lParam);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int Record(const wchar_t* file) {
    g_file = file;
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kClass;
    if (!RegisterClassExW(&windowClass)) return 1;
    // Hidden but top-level: a broadcast reaches it; a message-only window
    // would hear nothing.
    HWND window = CreateWindowExW(0, kClass, L"settingchange recorder", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                  nullptr, windowClass.hInstance, nullptr);
    if (!window) return 1;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

int Wait() {
    for (int i = 0; i < 300; ++i) {
        if (FindWindowW(kClass, nullptr)) return 0;
        Sleep(100);
    }
    return 1;
}

int Stop() {
    HWND window = FindWindowW(kClass, nullptr);
    if (!window) return 1;
    PostMessageW(window, WM_CLOSE, 0, 0);
    for (int i = 0; i < 300; ++i) {
        if (!IsWindow(window)) return 0;
        Sleep(100);
    }
    return 1;
}

int MakeVolatile(const wchar_t* path) {
    HKEY key = nullptr;
    const LONG result = RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                                        nullptr, &key, nullptr);
    if (result != ERROR_SUCCESS) return 1;
    RegCloseKey(key);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"record" && argc == 3) return Record(argv[2]);
    if (mode == L"wait") return Wait();
    if (mode == L"stop") return Stop();
    if (mode == L"volatile" && argc == 3) return MakeVolatile(argv[2]);
    std::fprintf(stderr, "usage: settingchange_recorder record FILE | wait | stop | volatile KEY\n");
    return 2;
}
