#include "ui/colours.h"

namespace kestro::colours {

namespace {

struct Change {
    WPARAM wParam;
    LPARAM lParam;
};

BOOL CALLBACK TellChild(HWND child, LPARAM lParam) {
    const Change& change = *reinterpret_cast<const Change*>(lParam);
    SendMessageW(child, WM_SYSCOLORCHANGE, change.wParam, change.lParam);
    return TRUE;
}

int Luminance(COLORREF colour) {
    return (299 * GetRValue(colour) + 587 * GetGValue(colour) + 114 * GetBValue(colour)) / 1000;
}

// Whether light button text would stand on the light checked ground.
bool CheckedGroundSwallowsText() {
    return Luminance(GetSysColor(COLOR_BTNTEXT)) >= 128 && Luminance(GetSysColor(COLOR_BTNHIGHLIGHT)) >= 128;
}

bool IsDownToggle(HWND button) {
    const LONG style = GetWindowLongW(button, GWL_STYLE);
    return (style & BS_PUSHLIKE) && (style & BS_TYPEMASK) == BS_AUTOCHECKBOX &&
           SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void DrawDownToggle(HWND button, HDC dc, RECT rc) {
    FillRect(dc, &rc, GetSysColorBrush(COLOR_HIGHLIGHT));
    DrawEdge(dc, &rc, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
    OffsetRect(&rc, 1, 1);  // pressed in, as the button draws it
    BUTTON_IMAGELIST images = {};
    if (SendMessageW(button, BCM_GETIMAGELIST, 0, reinterpret_cast<LPARAM>(&images)) && images.himl) {
        int width = 0, height = 0;
        ImageList_GetIconSize(images.himl, &width, &height);
        ImageList_Draw(images.himl, 0, dc, rc.left + images.margin.left, rc.top + (rc.bottom - rc.top - height) / 2,
                       ILD_NORMAL);
    }
    wchar_t text[256] = {};
    const int length = GetWindowTextW(button, text, 256);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(button, WM_GETFONT, 0, 0)));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
    DrawTextW(dc, text, length, &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, old);
}

}  // namespace

LRESULT CustomDrawButton(const NMHDR& header) {
    const auto& draw = reinterpret_cast<const NMCUSTOMDRAW&>(header);
    if ((draw.dwDrawStage != CDDS_PREERASE && draw.dwDrawStage != CDDS_PREPAINT) || !IsDownToggle(header.hwndFrom) ||
        !CheckedGroundSwallowsText())
        return CDRF_DODEFAULT;
    RECT rc;
    GetClientRect(header.hwndFrom, &rc);
    DrawDownToggle(header.hwndFrom, draw.hdc, rc);
    return CDRF_SKIPDEFAULT;
}

HBRUSH ClassBackground() { return reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1)); }

LRESULT ControlColours(HDC dc) {
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    SetBkColor(dc, GetSysColor(COLOR_WINDOW));
    return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
}

void SysColorChange(HWND window, WPARAM wParam, LPARAM lParam) {
    Change change = {wParam, lParam};
    // EnumChildWindows reaches the children's children too: the pages'
    // controls.
    EnumChildWindows(window, TellChild, reinterpret_cast<LPARAM>(&change));
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
}

}  // namespace kestro::colours
