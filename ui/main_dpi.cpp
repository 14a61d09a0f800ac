// The main window at its monitor's DPI: the control table's 96-DPI places
// scaled, the fonts made for the DPI, and all of it again when the window
// moves to a monitor of another DPI.
#include "ui/uMain.h"

#include "ui/dpi.h"
#include "ui/form_font.h"

#include <commctrl.h>

namespace kestro {

// The chooser opens on the main window's monitor; at start that is the
// system's DPI.
HFONT MakeFormFont(int weight) { return dpi::MakeUiFont(dpi::OfSystem(), weight); }

void TfrmMain::PlacePages() {
    // The tab control's display area, in the window's client coordinates.
    HWND tab = Control(ControlId::PageControl);
    RECT area;
    GetClientRect(tab, &area);
    SendMessageW(tab, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
    MapWindowPoints(tab, Hwnd(), reinterpret_cast<POINT*>(&area), 2);
    for (HWND page : pages_)
        if (page)
            SetWindowPos(page, nullptr, area.left, area.top, area.right - area.left, area.bottom - area.top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
}

void TfrmMain::PlaceWindow(POINT corner) {
    RECT frame = {0, 0, Scaled(kMainClientWidth), Scaled(kMainClientHeight)};
    dpi::AdjustWindowRect(&frame, static_cast<DWORD>(GetWindowLongW(Hwnd(), GWL_STYLE)),
                          static_cast<DWORD>(GetWindowLongW(Hwnd(), GWL_EXSTYLE)), dpi_);
    const RECT work = dpi::WorkAreaAt(corner);
    Box window = {corner.x, corner.y, corner.x + frame.right - frame.left, corner.y + frame.bottom - frame.top};
    PlaceInside(Box{work.left, work.top, work.right, work.bottom}, &window);
    SetWindowPos(Hwnd(), nullptr, window.left, window.top, window.Width(), window.Height(),
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

int TfrmMain::Scaled(int pixels) const { return dpi::Scale(pixels, dpi_); }

void TfrmMain::MakeFonts() {
    font_.Reset(dpi::MakeUiFont(dpi_));
    boldFont_.Reset(dpi::MakeUiFont(dpi_, FW_BOLD));
    tabFont_.Reset(dpi::MakeUiFont(dpi_, FW_NORMAL, RUSSIAN_CHARSET));
}


TfrmMain::Placed TfrmMain::PlaceOf(const ControlDef& def) const {
    Placed place = {Scaled(def.left), Scaled(def.top), Scaled(def.width), Scaled(def.height), 0};
    if (def.kind == ControlKind::SpinEdit) {
        place.arrowsWidth = dpi::SystemMetric(SM_CXVSCROLL, dpi_);
        place.width -= place.arrowsWidth;
    }
    return place;
}

void TfrmMain::PlaceLabelAbove(HWND label, const Placed& edit) {
    const SIZE size = FitLabel(label);
    SetWindowPos(label, nullptr, edit.left, edit.top - size.cy - Scaled(3), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TfrmMain::PlaceControl(const Entry& entry) {
    const ControlDef& def = *entry.def;
    HWND hwnd = entry.hwnd;
    const Placed place = PlaceOf(def);
    UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
    const bool label = def.kind == ControlKind::Label || def.kind == ControlKind::BoldLabel;
    // A picture is the size of its bitmap; a label without a width, of its text.
    if (def.kind == ControlKind::Picture) flags |= SWP_NOSIZE;
    if (label && def.width == 0) {
        FitLabel(hwnd);
        flags |= SWP_NOSIZE;
    }
    SetWindowPos(hwnd, nullptr, place.left, place.top, place.width, place.height, flags);
    if (def.kind == ControlKind::SpinEdit)
        SetWindowPos(entry.arrows, nullptr, place.left + place.width, place.top, place.arrowsWidth,
                     place.height, SWP_NOZORDER | SWP_NOACTIVATE);
    if (def.kind == ControlKind::LabeledEdit) PlaceLabelAbove(entry.label, place);
}

void TfrmMain::ApplyDpi(int dpi, const RECT* suggested) {
    dpi_ = dpi;
    // The old fonts, glyphs and pictures stay alive until every control
    // has let go of them.
    GdiObject<HFONT> oldFonts[] = {std::move(font_), std::move(boldFont_), std::move(tabFont_)};
    GdiObject<HBITMAP> oldPictures[] = {std::move(logo_), std::move(help_)};
    std::map<std::string, HIMAGELIST> oldGlyphs;
    oldGlyphs.swap(imageLists_);
    MakeFonts();
    SendMessageW(Hwnd(), WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), FALSE);
    for (const Entry& entry : entries_)
        if (entry.label) SendMessageW(entry.label, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), TRUE);
    for (const Entry& entry : entries_) {
        if (!entry.hwnd) continue;
        const ControlDef& def = *entry.def;
        SendMessageW(entry.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(FontOf(def.kind)), TRUE);
        if (def.glyph) SetGlyph(entry.hwnd, def.glyph);
        if (def.picture != PictureId::None)
            SendMessageW(entry.hwnd, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(LoadPicture(def.picture)));
        PlaceControl(entry);
    }
    for (const auto& list : oldGlyphs)
        if (list.second) ImageList_Destroy(list.second);
    PlacePages();
    SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, Scaled(kTipWidth));
    if (suggested) {
        SetWindowPos(Hwnd(), nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    } else {
        RECT rc;
        GetWindowRect(Hwnd(), &rc);
        PlaceWindow(POINT{rc.left, rc.top});
    }
    RedrawWindow(Hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
}

}  // namespace kestro
