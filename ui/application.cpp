#include "ui/application.h"

#include "resources/resource.h"

#include <vector>

namespace kestro {

namespace {

constexpr wchar_t kApplicationClass[] = L"KestroApplication";

BOOL CALLBACK CollectEnabled(HWND window, LPARAM lParam) {
    if (IsWindowVisible(window) && IsWindowEnabled(window)) reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(window);
    return TRUE;
}

}  // namespace

TApplication& Application() {
    static TApplication application;
    return application;
}

TApplication::TApplication() {
    SetHandlerErrorSink([](const std::exception& error) { Application().ShowException(error); });
}

bool TApplication::Initialize(HINSTANCE instance) {
    instance_ = instance;
    icon_ = LoadIconW(instance, MAKEINTRESOURCEW(IDI_KESTRO));
    RegisterWindowClass(instance, kApplicationClass, icon_);
    const int x = GetSystemMetrics(SM_CXSCREEN) / 2;
    const int y = GetSystemMetrics(SM_CYSCREEN) / 2;
    return CreateWindowObject(0, kApplicationClass, kApplicationTitle,
                              WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX, x, y, 0, 0,
                              nullptr, instance) != nullptr;
}

void TApplication::SetTitle(const std::wstring& title) { SetWindowTextW(Hwnd(), title.c_str()); }

std::wstring TApplication::Title() const {
    wchar_t buffer[256] = {};
    GetWindowTextW(Hwnd(), buffer, 256);
    return buffer;
}

void TApplication::AddDialogWindow(HWND window, IKeyPreview* preview) {
    for (DialogWindow& slot : dialogs_)
        if (!slot.window || !IsWindow(slot.window)) {
            slot = {window, preview};
            return;
        }
}

bool TApplication::TranslateDialogMessage(MSG& msg) {
    for (const DialogWindow& dialog : dialogs_) {
        if (!dialog.window || !IsWindow(dialog.window)) continue;
        if (msg.hwnd != dialog.window && !IsChild(dialog.window, msg.hwnd)) continue;
        if (dialog.preview && dialog.preview->PreviewKey(msg)) return true;
        return IsDialogMessageW(dialog.window, &msg) != FALSE;
    }
    return false;
}

void TApplication::ShowMainWindow() {
    ShowWindow(Hwnd(), SW_SHOWNOACTIVATE);
    if (main_) {
        ShowWindow(main_, SW_SHOW);
        SetForegroundWindow(main_);
    }
}

void TApplication::Minimize() {
    // The task-bar button belongs to the application window: minimise it,
    // and hide the main window until it is restored.
    if (main_) ShowWindow(main_, SW_HIDE);
    ShowWindow(Hwnd(), SW_MINIMIZE);
}

int TApplication::Run() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (TranslateDialogMessage(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

int TApplication::ModalMessageBox(const std::wstring& text, const std::wstring& caption, UINT type) {
    std::vector<HWND> disabled;
    EnumThreadWindows(GetCurrentThreadId(), CollectEnabled, reinterpret_cast<LPARAM>(&disabled));
    for (HWND window : disabled)
        if (window != Hwnd()) EnableWindow(window, FALSE);
    const int result = MessageBoxW(Hwnd(), text.c_str(), caption.c_str(), type | MB_APPLMODAL);
    for (HWND window : disabled)
        if (window != Hwnd() && IsWindow(window)) EnableWindow(window, TRUE);
    if (main_ && IsWindowVisible(main_)) SetActiveWindow(main_);
    return result;
}

void TApplication::ShowError(const std::wstring& text) {
    if (redirect_) {
        redirect_->ShowError(text);
        return;
    }
    ModalMessageBox(text, Title(), MB_OK | MB_ICONSTOP);
}

LRESULT TApplication::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_ACTIVATE:
            // Clicking the task-bar button activates this window: pass it on.
            if (LOWORD(wParam) != WA_INACTIVE && main_ && IsWindowVisible(main_) && IsWindowEnabled(main_))
                SetActiveWindow(main_);
            return 0;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == SC_RESTORE) {
                LRESULT result = DefaultProc(message, wParam, lParam);
                if (main_) {
                    ShowWindow(main_, SW_SHOW);
                    SetActiveWindow(main_);
                }
                return result;
            }
            if ((wParam & 0xFFF0) == SC_CLOSE) {
                if (main_) PostMessageW(main_, WM_CLOSE, 0, 0);
                return 0;
            }
            break;
        case WM_CLOSE:
            if (main_) PostMessageW(main_, WM_CLOSE, 0, 0);
            return 0;
    }
    return DefaultProc(message, wParam, lParam);
}

}  // namespace kestro
