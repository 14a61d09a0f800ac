#include "ui/shell_library.h"

#include <objbase.h>

namespace kestro::shell {

namespace {

// One system library, loaded on first use and freed with the process's
// static objects.
class Library {
public:
    explicit Library(const wchar_t* name) : name_(name) {}
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    ~Library() {
        if (module_) FreeLibrary(module_);
    }

    bool Loaded() const { return module_ != nullptr; }

    template <typename Function>
    Function Find(const char* function) {
        if (!module_ && !tried_) {
            tried_ = true;
            module_ = LoadLibraryW(name_);
        }
        return module_ ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module_, function)))
                       : nullptr;
    }

private:
    const wchar_t* name_;
    HMODULE module_ = nullptr;
    bool tried_ = false;
};

// Declared in this order, so that COM's library goes last at exit.
Library ole32(L"ole32.dll");
Library shell32(L"shell32.dll");
Library comdlg32(L"comdlg32.dll");
Library shlwapi(L"shlwapi.dll");
bool comStarted = false;

}  // namespace

bool EnsureCom() {
    if (comStarted) return true;
    using Initialize = HRESULT(WINAPI*)(LPVOID);
    static const Initialize initialize = ole32.Find<Initialize>("CoInitialize");
    // S_FALSE: this thread had COM already; it is ours to end all the same.
    comStarted = initialize && SUCCEEDED(initialize(nullptr));
    return comStarted;
}

void EndCom() {
    if (!comStarted) return;
    using Uninitialize = void(WINAPI*)();
    static const Uninitialize uninitialize = ole32.Find<Uninitialize>("CoUninitialize");
    if (uninitialize) uninitialize();
    comStarted = false;
}

bool ComStarted() { return comStarted; }

bool AnyLoaded() { return ole32.Loaded() || shell32.Loaded() || comdlg32.Loaded() || shlwapi.Loaded(); }

LPVOID CoTaskMemAlloc(SIZE_T size) {
    using Function = LPVOID(WINAPI*)(SIZE_T);
    static const Function function = ole32.Find<Function>("CoTaskMemAlloc");
    return function ? function(size) : nullptr;
}

void CoTaskMemFree(LPVOID memory) {
    if (!memory) return;
    using Function = void(WINAPI*)(LPVOID);
    static const Function function = ole32.Find<Function>("CoTaskMemFree");
    if (function) function(memory);
}

HRESULT SHGetDesktopFolder(IShellFolder** folder) {
    using Function = HRESULT(WINAPI*)(IShellFolder**);
    static const Function function = shell32.Find<Function>("SHGetDesktopFolder");
    if (folder) *folder = nullptr;
    return function ? function(folder) : E_NOTIMPL;
}

HRESULT SHGetSpecialFolderLocation(HWND owner, int folder, LPITEMIDLIST* pidl) {
    using Function = HRESULT(WINAPI*)(HWND, int, LPITEMIDLIST*);
    static const Function function = shell32.Find<Function>("SHGetSpecialFolderLocation");
    if (pidl) *pidl = nullptr;
    return function ? function(owner, folder, pidl) : E_NOTIMPL;
}

DWORD_PTR SHGetFileInfoW(LPCWSTR path, DWORD attributes, SHFILEINFOW* info, UINT size, UINT flags) {
    using Function = DWORD_PTR(WINAPI*)(LPCWSTR, DWORD, SHFILEINFOW*, UINT, UINT);
    static const Function function = shell32.Find<Function>("SHGetFileInfoW");
    return function ? function(path, attributes, info, size, flags) : 0;
}

void SHGetSettings(LPSHELLFLAGSTATE state, DWORD mask) {
    using Function = void(WINAPI*)(LPSHELLFLAGSTATE, DWORD);
    static const Function function = shell32.Find<Function>("SHGetSettings");
    if (function) function(state, mask);
}

LPITEMIDLIST ILCombine(LPCITEMIDLIST first, LPCITEMIDLIST second) {
    using Function = LPITEMIDLIST(WINAPI*)(LPCITEMIDLIST, LPCITEMIDLIST);
    static const Function function = shell32.Find<Function>("ILCombine");
    return function ? function(first, second) : nullptr;
}

LPITEMIDLIST ILFindLastID(LPCITEMIDLIST pidl) {
    using Function = LPITEMIDLIST(WINAPI*)(LPCITEMIDLIST);
    static const Function function = shell32.Find<Function>("ILFindLastID");
    return function ? function(pidl) : nullptr;
}

HINSTANCE ShellExecuteW(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR folder, INT show) {
    using Function = HINSTANCE(WINAPI*)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);
    static const Function function = shell32.Find<Function>("ShellExecuteW");
    // What ShellExecute itself returns when it finds nothing to run.
    return function ? function(owner, verb, file, parameters, folder, show)
                    : reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(SE_ERR_DLLNOTFOUND));
}

BOOL PathMakeSystemFolderW(LPCWSTR path) {
    using Function = BOOL(WINAPI*)(LPCWSTR);
    static const Function function = shlwapi.Find<Function>("PathMakeSystemFolderW");
    return function ? function(path) : FALSE;
}

BOOL GetOpenFileNameW(LPOPENFILENAMEW dialog) {
    using Function = BOOL(WINAPI*)(LPOPENFILENAMEW);
    static const Function function = comdlg32.Find<Function>("GetOpenFileNameW");
    return function ? function(dialog) : FALSE;
}

}  // namespace kestro::shell
