// Start-up probe: starts a Windows program, times its main window's first
// paint from outside, reads its peak working set, and closes it.
//
//   startup_probe [options] EXE
//     --class NAME     the main window's class (default: the biggest visible
//                      top-level window of the process)
//     --poll MS        polling interval (default 2)
//     --settle MS      wait after the full paint before the memory is read (default 500)
//     --timeout MS     give up on the window after this long (default 30000)
//     --stamp FILE     set KESTRO_BENCH_PAINT_STAMP=FILE for the program (see
//                      bench/empty_window.cpp) and report the moment it wrote there
//
// Prints one line of key=value pairs, times in milliseconds from just
// before CreateProcess:
//   visible_ms      the main window was first seen visible
//   paint_ms        the main window's own client area had no update region
//                   left, i.e. its first WM_PAINT had run (BeginPaint validates)
//   full_paint_ms   the same held for every visible descendant too
//   peak_ws_kb      GetProcessMemoryInfo's PeakWorkingSetSize, read --settle ms
//                   after the full paint, before the program is closed
//   self_paint_ms   with --stamp: the program's own first-paint moment
//   exit            the program's exit code after WM_CLOSE
// Nothing is installed into the program: only window state is read, with
// IsWindowVisible and GetUpdateRect, which leave it as it is. The window
// becomes visible and gets its update region in one step (SetWindowPos with
// SWP_SHOWWINDOW exposes it at once), so "visible with no update region"
// is only ever true after a paint.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Options {
    std::wstring exe;
    std::wstring windowClass;
    std::wstring stamp;
    DWORD poll = 2;
    DWORD settle = 500;
    DWORD timeout = 30000;
};

LARGE_INTEGER frequency;
LARGE_INTEGER start;

double MillisecondsSince(const LARGE_INTEGER& from, LONGLONG to) {
    return static_cast<double>(to - from.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

double Elapsed() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return MillisecondsSince(start, now.QuadPart);
}

struct Search {
    DWORD process;
    const std::wstring* windowClass;
    HWND found;
    LONG area;
};

BOOL CALLBACK FindMain(HWND window, LPARAM lParam) {
    auto* search = reinterpret_cast<Search*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != search->process || !IsWindowVisible(window)) return TRUE;
    if (!search->windowClass->empty()) {
        wchar_t cls[256] = {};
        GetClassNameW(window, cls, 256);
        if (*search->windowClass == cls) {
            search->found = window;
            return FALSE;
        }
        return TRUE;
    }
    RECT rc;
    GetClientRect(window, &rc);
    const LONG area = (rc.right - rc.left) * (rc.bottom - rc.top);
    if (area > search->area) {
        search->found = window;
        search->area = area;
    }
    return TRUE;
}

HWND FindMainWindow(DWORD process, const std::wstring& windowClass) {
    Search search = {process, &windowClass, nullptr, 0};
    EnumWindows(FindMain, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// GetUpdateRect with no rectangle and no erase asks the window manager
// only: no message reaches the window.
bool NeedsPaint(HWND window) { return GetUpdateRect(window, nullptr, FALSE) != FALSE; }

BOOL CALLBACK FindUnpainted(HWND child, LPARAM lParam) {
    if (IsWindowVisible(child) && NeedsPaint(child)) {
        *reinterpret_cast<bool*>(lParam) = true;
        return FALSE;
    }
    return TRUE;
}

bool FullyPainted(HWND window) {
    if (NeedsPaint(window)) return false;
    bool unpainted = false;
    EnumChildWindows(window, FindUnpainted, reinterpret_cast<LPARAM>(&unpainted));
    return !unpainted;
}

bool ParseOptions(int argc, wchar_t** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == L"--class" && hasValue) options->windowClass = argv[++i];
        else if (arg == L"--stamp" && hasValue) options->stamp = argv[++i];
        else if (arg == L"--poll" && hasValue) options->poll = static_cast<DWORD>(_wtoi(argv[++i]));
        else if (arg == L"--settle" && hasValue) options->settle = static_cast<DWORD>(_wtoi(argv[++i]));
        else if (arg == L"--timeout" && hasValue) options->timeout = static_cast<DWORD>(_wtoi(argv[++i]));
        else if (arg.size() > 2 && arg.compare(0, 2, L"--") == 0) return false;
        else options->exe = arg;
    }
    return !options->exe.empty();
}

std::wstring FolderOf(const std::wstring& path) {
    const std::wstring::size_type slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

void PrintTime(const char* key, double value) {
    if (value < 0) std::printf(" %s=NA", key);
    else std::printf(" %s=%.1f", key, value);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        std::fprintf(stderr,
                     "usage: startup_probe [--class NAME] [--poll MS] [--settle MS] [--timeout MS] "
                     "[--stamp FILE] EXE\n");
        return 2;
    }
    QueryPerformanceFrequency(&frequency);

    if (!options.stamp.empty()) {
        DeleteFileW(options.stamp.c_str());
        SetEnvironmentVariableW(L"KESTRO_BENCH_PAINT_STAMP", options.stamp.c_str());
    }

    std::vector<wchar_t> commandLine;
    const std::wstring quoted = L"\"" + options.exe + L"\"";
    commandLine.assign(quoted.begin(), quoted.end());
    commandLine.push_back(L'\0');
    const std::wstring folder = FolderOf(options.exe);

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    QueryPerformanceCounter(&start);
    if (!CreateProcessW(options.exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &process)) {
        std::fprintf(stderr, "startup_probe: CreateProcess failed (%lu)\n", GetLastError());
        return 1;
    }

    double visible = -1, paint = -1, fullPaint = -1;
    HWND main = nullptr;
    bool exitedEarly = false;
    const DWORD began = GetTickCount();
    while (fullPaint < 0) {
        if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0) {
            exitedEarly = true;
            break;
        }
        if (GetTickCount() - began > options.timeout) break;
        if (!main || !IsWindow(main)) main = FindMainWindow(process.dwProcessId, options.windowClass);
        if (main && IsWindowVisible(main)) {
            const double now = Elapsed();
            if (visible < 0) visible = now;
            if (paint < 0 && !NeedsPaint(main)) paint = Elapsed();
            if (paint >= 0 && FullyPainted(main)) fullPaint = Elapsed();
            if (fullPaint >= 0) break;
        }
        Sleep(options.poll);
    }

    SIZE_T peak = 0;
    if (!exitedEarly && fullPaint >= 0) {
        Sleep(options.settle);
        PROCESS_MEMORY_COUNTERS counters = {};
        counters.cb = sizeof counters;
        if (GetProcessMemoryInfo(process.hProcess, &counters, sizeof counters)) peak = counters.PeakWorkingSetSize;
    }

    // Close it as a user would; if it does not end, end it.
    DWORD code = STILL_ACTIVE;
    if (!exitedEarly) {
        if (main && IsWindow(main)) PostMessageW(main, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) {
            std::fprintf(stderr, "startup_probe: the program did not end after WM_CLOSE; terminating it\n");
            TerminateProcess(process.hProcess, 255);
            WaitForSingleObject(process.hProcess, 5000);
        }
    }
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    double selfPaint = -1;
    if (!options.stamp.empty()) {
        if (FILE* file = _wfopen(options.stamp.c_str(), L"r")) {
            long long stamp = 0;
            if (std::fscanf(file, "%lld", &stamp) == 1) selfPaint = MillisecondsSince(start, stamp);
            std::fclose(file);
        }
    }

    PrintTime("visible_ms", visible);
    PrintTime("paint_ms", paint);
    PrintTime("full_paint_ms", fullPaint);
    if (peak) std::printf(" peak_ws_kb=%lu", static_cast<unsigned long>(peak / 1024));
    else std::printf(" peak_ws_kb=NA");
    if (!options.stamp.empty()) PrintTime("self_paint_ms", selfPaint);
    std::printf(" exit=%lu\n", static_cast<unsigned long>(code));
    return fullPaint >= 0 && peak ? 0 : 1;
}
