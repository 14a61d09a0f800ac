#include "tests/ui/ui_fixture.h"

#include "settings/catalogue.h"
#include "tools/message_box.h"

#include <commctrl.h>
#include <objbase.h>

namespace kestro::test {

void PumpMessages(int ms) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(ms);
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(5);
    } while (static_cast<int>(end - GetTickCount()) > 0);
}

void PumpDialogMessages(int ms) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(ms);
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (Application().TranslateDialogMessage(msg)) continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(5);
    } while (static_cast<int>(end - GetTickCount()) > 0);
}

namespace {

std::wstring WindowText(HWND window) {
    wchar_t buffer[1024] = {};
    GetWindowTextW(window, buffer, 1024);
    return buffer;
}

}  // namespace

DialogWatcher::DialogWatcher(HWND mainWindow, int answer) : main_(mainWindow), answer_(answer) {
    InitializeCriticalSection(&lock_);
    thread_ = std::thread([this] { Loop(); });
}

DialogWatcher::~DialogWatcher() {
    stop_ = true;
    thread_.join();
    DeleteCriticalSection(&lock_);
}

std::vector<DialogWatcher::Seen> DialogWatcher::Seen_() const {
    EnterCriticalSection(&lock_);
    std::vector<Seen> copy = seen_;
    LeaveCriticalSection(&lock_);
    return copy;
}

void DialogWatcher::Loop() {
    while (!stop_) {
        const HWND box = FindMessageBoxOf(GetCurrentProcessId());
        if (box) {
            Sleep(50);  // let it finish laying out
            Seen seen;
            seen.caption = WindowText(box);
            seen.text = WindowText(GetDlgItem(box, 0xFFFF));  // the message box's text
            seen.owner = GetWindow(box, GW_OWNER);
            seen.mainWindowDisabled = main_ && !IsWindowEnabled(main_);
            // Windows numbers the icon 0x14; Wine's box uses stc1.
            HWND icon = GetDlgItem(box, 0x14);
            if (!icon) icon = GetDlgItem(box, 0x440);
            seen.icon = icon ? reinterpret_cast<HICON>(SendMessageW(icon, STM_GETICON, 0, 0)) : nullptr;
            EnterCriticalSection(&lock_);
            seen_.push_back(seen);
            LeaveCriticalSection(&lock_);
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer_, BN_CLICKED), 0);
            for (int i = 0; i < 100 && IsWindow(box) && IsWindowVisible(box); ++i) Sleep(10);
        }
        Sleep(20);
    }
}

TempFolder::TempFolder(const std::wstring& name) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    wchar_t longTemp[MAX_PATH] = {};
    if (!GetLongPathNameW(temp, longTemp, MAX_PATH)) lstrcpynW(longTemp, temp, MAX_PATH);
    path_ = longTemp;
    if (!path_.empty() && path_.back() == L'\\') path_.pop_back();
    path_ += L"\\" + name + L"-" + std::to_wstring(GetCurrentProcessId());
    RemoveTree(path_);
    CreateDirectoryW(path_.c_str(), nullptr);
}

TempFolder::~TempFolder() { RemoveTree(path_); }

void RemoveTree(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileW(path.c_str());
        return;
    }
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name != L"." && name != L"..") RemoveTree(path + L"\\" + name);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
}

bool ReadFileBytes(const std::wstring& path, std::string* bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bytes->clear();
    char buffer[4096];
    DWORD read = 0;
    bool ok = true;
    while ((ok = ReadFile(file, buffer, sizeof buffer, &read, nullptr) != FALSE) && read > 0) bytes->append(buffer, read);
    CloseHandle(file);
    return ok;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
    CloseHandle(file);
    return ok;
}

void ResetCatalogueKeys() {
    for (const Setting& row : kCatalogue) {
        if (row.shape == WriteShape::SystemParameters) {
            // Off through user32, which keeps what it read: a deleted value
            // would not be seen in this process.
            Zfunctions::WriteSetting(row, SettingArgument::Number(row.argUp));
            continue;
        }
        HKEY root = row.root == kHkeyClassesRoot ? HKEY_CLASSES_ROOT
                    : row.root == kHkeyLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
        HKEY key = nullptr;
        if (RegOpenKeyExA(root, row.keyPath, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) continue;
        if (row.shape == WriteShape::RemoveSubkey) {
            RegistryCursor cursor;
            Zfunctions::OpenKeyPath(cursor, row.keyPath);
            cursor.RemoveKeyTree(row.valueNames[0]);
        } else {
            for (std::size_t i = 0; i < row.ValueCount(); ++i) RegDeleteValueA(key, row.valueNames[i]);
        }
        RegCloseKey(key);
    }
}

std::wstring TooltipOf(HWND tooltip, HWND control) {
    wchar_t buffer[1024] = {};
    TOOLINFOW info = {};
    info.cbSize = TTTOOLINFOW_V2_SIZE;
    info.hwnd = GetParent(control);
    info.uId = reinterpret_cast<UINT_PTR>(control);
    info.lpszText = buffer;
    SendMessageW(tooltip, TTM_GETTEXTW, 1024, reinterpret_cast<LPARAM>(&info));
    return buffer;
}

void MainWindowTest::SetUpTestSuite() {
    static bool initialized = false;
    if (initialized) return;
    initialized = true;
    CoInitialize(nullptr);
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_TAB_CLASSES | ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&controls);
    ASSERT_TRUE(Application().Initialize(GetModuleHandleW(nullptr)));
}

void MainWindowTest::SetUp() { ResetCatalogueKeys(); }

void MainWindowTest::TearDown() {
    DestroyWindows();
    Application().SetTitle(L"");
}

void MainWindowTest::CreateWindows(bool realErrorBox) {
    DestroyWindows();
    Application().RedirectErrors(realErrorBox ? nullptr : &errors_);
    main_ = std::make_unique<TfrmMain>();
    ASSERT_TRUE(main_->Create(GetModuleHandleW(nullptr), Application().Hwnd()));
    Application().SetMainWindow(main_->Hwnd());
    chooser_ = std::make_unique<TfrmChkDir>();
    ASSERT_TRUE(chooser_->Create(GetModuleHandleW(nullptr), main_->Hwnd()));
    main_->ConnectChooser(chooser_.get());
    Application().AddDialogWindow(main_->Hwnd(), main_.get());
    Application().AddDialogWindow(chooser_->Hwnd());
    Application().ShowMainWindow();
    PumpMessages();
}

void MainWindowTest::DestroyWindows() {
    if (main_) main_->ConnectChooser(nullptr);
    chooser_.reset();
    main_.reset();
    Application().SetMainWindow(nullptr);
    Application().RedirectErrors(nullptr);
    // The main window's end posted WM_QUIT; the next test must not see it.
    MSG msg;
    while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
}

HWND MainWindowTest::Control(const char* name) const {
    if (HWND control = main_->Control(name)) return control;
    // "seNumRemDocuments.Arrows" lives on the page of "seNumRemDocuments".
    const std::string row = std::string(name).substr(0, std::string(name).find('.'));
    const ControlDef* def = FindControlDef(row.c_str());
    if (def && def->page != PageId::Window) main_->SelectPage(static_cast<int>(def->page));
    return main_->Control(name);
}

std::wstring MainWindowTest::TextOf(HWND window) const { return WindowText(window); }

void MainWindowTest::Click(const char* name) {
    HWND control = Control(name);
    RECT rc;
    GetClientRect(control, &rc);
    const LPARAM at = MAKELPARAM(rc.right / 2, rc.bottom / 2);
    SendMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(control, WM_LBUTTONUP, 0, at);
    PumpMessages(10);
}

void MainWindowTest::PressKey(WORD key, bool ctrl, bool shift) {
    // The modifiers as GetKeyState reads them in this thread.
    BYTE state[256] = {};
    GetKeyboardState(state);
    state[VK_CONTROL] = state[VK_LCONTROL] = ctrl ? 0x80 : 0;
    state[VK_SHIFT] = state[VK_LSHIFT] = shift ? 0x80 : 0;
    SetKeyboardState(state);
    HWND target = GetFocus() ? GetFocus() : main_->Hwnd();
    const UINT scan = MapVirtualKeyW(key, 0);
    PostMessageW(target, WM_KEYDOWN, key, static_cast<LPARAM>(1 | (scan << 16)));
    PumpDialogMessages(20);
    PostMessageW(GetFocus() ? GetFocus() : target, WM_KEYUP, key, static_cast<LPARAM>(1 | (scan << 16) | 0xC0000000u));
    PumpDialogMessages(20);
    state[VK_CONTROL] = state[VK_LCONTROL] = state[VK_SHIFT] = state[VK_LSHIFT] = 0;
    SetKeyboardState(state);
}

}  // namespace kestro::test
