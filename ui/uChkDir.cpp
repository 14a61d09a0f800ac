#include "ui/uChkDir.h"

#include "ui/application.h"
#include "ui/uMain.h"

namespace kestro {

TfrmChkDir* frmChkDir = nullptr;

namespace {

constexpr wchar_t kChkDirClass[] = L"TfrmChkDir";
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
constexpr int kClientWidth = 337;
constexpr int kClientHeight = 226;

}  // namespace

bool TfrmChkDir::Create(HINSTANCE instance, HWND owner) {
    instance_ = instance;
    RegisterWindowClass(instance, kChkDirClass, nullptr);
    RECT rc = {0, 0, kClientWidth, kClientHeight};
    AdjustWindowRectEx(&rc, kStyle, FALSE, kExStyle);
    const int width = rc.right - rc.left, height = rc.bottom - rc.top;
    const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    return CreateWindowObject(kExStyle, kChkDirClass, L"Выбор каталога", kStyle, x, y, width, height, owner,
                              instance) != nullptr;
}

void TfrmChkDir::ShowChooser() {
    ShowWindow(Hwnd(), SW_SHOW);
    SetForegroundWindow(Hwnd());
}

void TfrmChkDir::bbOKClick() { ShowWindow(Hwnd(), SW_HIDE), FormClose(); }

void TfrmChkDir::bbCancelClick() {
    FSelectedDir.clear();
    ShowWindow(Hwnd(), SW_HIDE);
    FormClose();
}

void TfrmChkDir::FormClose() {
    if (!FSelectedDir.empty() && frmMain) frmMain->SetText("edFolder", FSelectedDir);
}

LRESULT TfrmChkDir::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CLOSE:
            ShowWindow(Hwnd(), SW_HIDE);
            FormClose();
            return 0;
    }
    return DefaultProc(message, wParam, lParam);
}

}  // namespace kestro
