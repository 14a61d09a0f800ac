#include "ui/speed_button.h"

#include <commctrl.h>

namespace kestro {

namespace {

// Every message of the page's buttons passes here, so the common path asks
// the window server nothing: the button class's own procedure is kept in
// the button's user data slot, a toggle is known by its style, and the
// tooltip gets the mouse messages from here rather than through a subclass
// of its own. Properties (a server request each) only serve the mouse: the
// button being pressed, and the main window's tooltip, kept once on the
// main window.
constexpr wchar_t kPressedProp[] = L"KestroPressed";
constexpr wchar_t kTooltipProp[] = L"KestroTooltip";

bool CursorInside(HWND button, LPARAM lParam) {
    RECT rc;
    GetClientRect(button, &rc);
    POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    return PtInRect(&rc, pt) != FALSE;
}

void RelayToTooltip(HWND button, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND tooltip = static_cast<HWND>(GetPropW(GetAncestor(button, GA_ROOT), kTooltipProp));
    if (!tooltip) return;
    MSG msg = {button, message, wParam, lParam, static_cast<DWORD>(GetMessageTime()), {}};
    const DWORD pos = GetMessagePos();
    msg.pt = {static_cast<short>(LOWORD(pos)), static_cast<short>(HIWORD(pos))};
    SendMessageW(tooltip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&msg));
}

bool IsMouseButtonOrMove(UINT message) {
    switch (message) {
        case WM_MOUSEMOVE:
        case WM_LBUTTONDOWN:
        case WM_LBUTTONUP:
        case WM_MBUTTONDOWN:
        case WM_MBUTTONUP:
        case WM_RBUTTONDOWN:
        case WM_RBUTTONUP:
            return true;
    }
    return false;
}

// Whether the left button went down on this button and is still held.
bool HeldDown(HWND button) { return GetCapture() == button && GetPropW(button, kPressedProp); }

void Press(HWND button) {
    SetCapture(button);
    SetPropW(button, kPressedProp, reinterpret_cast<HANDLE>(1));
    SendMessageW(button, BM_SETSTATE, TRUE, 0);
}

// The left button comes up: a click when the cursor is still over the
// button, as the button class would report it.
void Release(HWND button, LPARAM lParam) {
    RemovePropW(button, kPressedProp);
    ReleaseCapture();
    SendMessageW(button, BM_SETSTATE, FALSE, 0);
    if (!CursorInside(button, lParam)) return;
    // The state flips first; the handler then sees the new one.
    if (IsToggleButton(button)) {
        LRESULT checked = SendMessageW(button, BM_GETCHECK, 0, 0);
        SendMessageW(button, BM_SETCHECK, checked == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED, 0);
    }
    SendMessageW(GetParent(button), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
}

LRESULT CALLBACK SpeedButtonProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam) {
    auto old = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(button, GWLP_USERDATA));
    if (IsMouseButtonOrMove(message)) RelayToTooltip(button, message, wParam, lParam);
    switch (message) {
        case WM_NCPAINT:
            return 0;  // a button has no border: there is no frame to draw
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
            // No SetFocus, as the button class would do: a click leaves
            // the focus where it was.
            if (IsWindowEnabled(button)) Press(button);
            return 0;
        case WM_MOUSEMOVE:
            if (HeldDown(button)) SendMessageW(button, BM_SETSTATE, CursorInside(button, lParam), 0);
            return 0;
        case WM_LBUTTONUP:
            if (HeldDown(button)) Release(button, lParam);
            return 0;
        case WM_CAPTURECHANGED:
            if (GetPropW(button, kPressedProp)) {
                RemovePropW(button, kPressedProp);
                SendMessageW(button, BM_SETSTATE, FALSE, 0);
                return 0;
            }
            break;  // Space held down: the button class's own capture
        case WM_NCDESTROY:
            RemovePropW(button, kPressedProp);
            SetWindowLongPtrW(button, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(old));
            SetWindowLongPtrW(button, GWLP_USERDATA, 0);
            break;
    }
    return CallWindowProcW(old, button, message, wParam, lParam);
}

}  // namespace

bool IsToggleButton(HWND button) { return (GetWindowLongW(button, GWL_STYLE) & BS_TYPEMASK) == BS_AUTOCHECKBOX; }

void MakeSpeedButton(HWND button) {
    SetWindowLongPtrW(button, GWLP_USERDATA, GetWindowLongPtrW(button, GWLP_WNDPROC));
    SetWindowLongPtrW(button, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SpeedButtonProc));
}

bool IsSpeedButton(HWND control) {
    return GetWindowLongPtrW(control, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(SpeedButtonProc);
}

void SetSpeedButtonTooltip(HWND root, HWND tooltip) {
    if (tooltip)
        SetPropW(root, kTooltipProp, tooltip);
    else
        RemovePropW(root, kTooltipProp);
}

void ToggleButton::SetDown(bool down) {
    down_ = down;
    if (button_) SendMessageW(button_, BM_SETCHECK, down ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool ToggleButton::Down() const {
    return button_ ? SendMessageW(button_, BM_GETCHECK, 0, 0) == BST_CHECKED : down_;
}

void ToggleButton::Attach(HWND button) {
    button_ = button;
    if (down_) SetDown(true);
}

}  // namespace kestro
