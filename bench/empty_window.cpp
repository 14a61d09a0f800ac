// The baselines for the start-up figures: a plain Win32 program that shows
// one empty window and nothing else. Same outer size and place as Kestro's
// main window, same static C++ runtime.
//
// Built twice: empty_window.exe has no manifest and no common controls;
// manifest_window.exe (KESTRO_BENCH_COMMON_CONTROLS) carries kestro.exe's
// own manifest, so it loads comctl32 version 6, and makes the same
// InitCommonControlsEx call as kestro.exe: the price any tabbed window pays.
//
// When KESTRO_BENCH_PAINT_STAMP names a file, the program writes the
// performance counter's value at the end of its first WM_PAINT there, so
// that the start-up probe's outside detection of the first paint can be
// checked against the moment the program itself saw. Off by default.
#include <windows.h>
#ifdef KESTRO_BENCH_COMMON_CONTROLS
#include <commctrl.h>
#endif

#include <cstdio>

namespace {

const wchar_t kClass[] = L"KestroBenchEmptyWindow";
const wchar_t kCaption[] = L"Kestro empty window";
const int kClientWidth = 521;
const int kClientHeight = 586;
const DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

bool painted = false;

void WritePaintStamp() {
    wchar_t path[MAX_PATH] = {};
    if (!GetEnvironmentVariableW(L"KESTRO_BENCH_PAINT_STAMP", path, MAX_PATH)) return;
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    if (FILE* file = _wfopen(path, L"w")) {
        std::fprintf(file, "%lld\n", static_cast<long long>(now.QuadPart));
        std::fclose(file);
    }
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT ps;
            BeginPaint(hwnd, &ps);
            EndPaint(hwnd, &ps);
            if (!painted) {
                painted = true;
                WritePaintStamp();
            }
            return 0;
        }
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
#ifdef KESTRO_BENCH_COMMON_CONTROLS
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_TAB_CLASSES | ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&controls);
#endif
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = kClass;
    if (!RegisterClassExW(&wc)) return 1;

    RECT rc = {0, 0, kClientWidth, kClientHeight};
    AdjustWindowRectEx(&rc, kStyle, FALSE, 0);
    HWND hwnd = CreateWindowExW(0, kClass, kCaption, kStyle, 248, 99, rc.right - rc.left, rc.bottom - rc.top, nullptr,
                                nullptr, instance, nullptr);
    if (!hwnd) return 1;
    ShowWindow(hwnd, show);
    UpdateWindow(hwnd);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}
