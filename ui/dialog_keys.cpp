#include "ui/dialog_keys.h"

namespace kestro {

namespace {

// Both keep the class's own procedure in the control's user data slot,
// which neither class uses.
WNDPROC ClassProc(HWND control) { return reinterpret_cast<WNDPROC>(GetWindowLongPtrW(control, GWLP_USERDATA)); }

void Subclass(HWND control, WNDPROC proc) {
    SetWindowLongPtrW(control, GWLP_USERDATA, GetWindowLongPtrW(control, GWLP_WNDPROC));
    SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc));
}

void Unsubclass(HWND control) {
    SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ClassProc(control)));
    SetWindowLongPtrW(control, GWLP_USERDATA, 0);
}

LRESULT CALLBACK DialogMemoProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam) {
    const WNDPROC old = ClassProc(edit);
    switch (message) {
        case WM_GETDLGCODE:
            return CallWindowProcW(old, edit, message, wParam, lParam) &
                   ~static_cast<LRESULT>(DLGC_WANTALLKEYS | DLGC_WANTMESSAGE | DLGC_WANTTAB);
        case WM_NCDESTROY:
            Unsubclass(edit);
            break;
    }
    return CallWindowProcW(old, edit, message, wParam, lParam);
}

LRESULT CALLBACK FocusablePictureProc(HWND picture, UINT message, WPARAM wParam, LPARAM lParam) {
    const WNDPROC old = ClassProc(picture);
    switch (message) {
        case WM_SETFOCUS:
        case WM_KILLFOCUS:
        case WM_UPDATEUISTATE: {
            const LRESULT result = CallWindowProcW(old, picture, message, wParam, lParam);
            InvalidateRect(picture, nullptr, FALSE);
            return result;
        }
        case WM_PAINT: {
            const LRESULT result = CallWindowProcW(old, picture, message, wParam, lParam);
            const bool cues = !(SendMessageW(picture, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS);
            if (GetFocus() == picture && cues) {
                RECT rc;
                GetClientRect(picture, &rc);
                HDC dc = GetDC(picture);
                DrawFocusRect(dc, &rc);
                ReleaseDC(picture, dc);
            }
            return result;
        }
        case WM_NCDESTROY:
            Unsubclass(picture);
            break;
    }
    return CallWindowProcW(old, picture, message, wParam, lParam);
}

}  // namespace

void MakeDialogMemo(HWND edit) { Subclass(edit, DialogMemoProc); }

void MakeFocusablePicture(HWND picture) { Subclass(picture, FocusablePictureProc); }

}  // namespace kestro
