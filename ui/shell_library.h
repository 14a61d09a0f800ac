// The shell, its path helpers, the common dialogs and COM, loaded when first needed: a start
// that only reads settings back into the window never maps shell32,
// comdlg32 or ole32, nor the libraries they bring along.
//
// Each function has the signature of the system function of the same name
// and fails as it would (a null result, an error code) when the library or
// the function cannot be found.
#pragma once

#include <windows.h>
#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>

namespace kestro::shell {

// COM for this thread (an apartment, as CoInitialize gives), started on
// the first call. Whatever needs COM calls it first.
bool EnsureCom();
// Ends what EnsureCom started; the program calls it once every COM object
// of its own is released.
void EndCom();
bool ComStarted();

// True once any of these libraries has been loaded by this process
// through these functions.
bool AnyLoaded();

// ole32
LPVOID CoTaskMemAlloc(SIZE_T size);
void CoTaskMemFree(LPVOID memory);

// shell32
HRESULT SHGetDesktopFolder(IShellFolder** folder);
HRESULT SHGetSpecialFolderLocation(HWND owner, int folder, LPITEMIDLIST* pidl);
DWORD_PTR SHGetFileInfoW(LPCWSTR path, DWORD attributes, SHFILEINFOW* info, UINT size, UINT flags);
void SHGetSettings(LPSHELLFLAGSTATE state, DWORD mask);
LPITEMIDLIST ILCombine(LPCITEMIDLIST first, LPCITEMIDLIST second);
LPITEMIDLIST ILFindLastID(LPCITEMIDLIST pidl);
HINSTANCE ShellExecuteW(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR folder, INT show);

// shlwapi
BOOL PathMakeSystemFolderW(LPCWSTR path);

// comdlg32
BOOL GetOpenFileNameW(LPOPENFILENAMEW dialog);

}  // namespace kestro::shell
