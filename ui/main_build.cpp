// The main window made: its class, its pages, and each control from its
// row of the control table, a page's when that page is first shown.
#include "ui/uMain.h"

#include "form/accessible_names.h"
#include "resources/resource.h"
#include "ui/policy_prompt.h"
#include "settings/catalogue.h"
#include "ui/accessible_name.h"
#include "ui/application.h"
#include "ui/colours.h"
#include "ui/dialog_keys.h"
#include "ui/dpi.h"
#include "ui/jpeg_picture.h"
#include "ui/speed_button.h"

#include <stdexcept>

namespace kestro {

namespace {

constexpr wchar_t kMainClass[] = L"TfrmMain";
constexpr wchar_t kPageClass[] = L"KestroPage";
// A spin edit's arrows: the id of its edit, this far on.
constexpr int kSpinArrowsIdOffset = 5000;
constexpr DWORD kMainStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
// A glyph's side at 96 DPI.
constexpr int kGlyphSide = 16;

// A page of the tab control: a plain white window that hands what its
// controls report to the main window.
LRESULT CALLBACK PageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_NCPAINT:
            return 0;  // no border either
        case WM_CLOSE:
            return 0;  // an edit in dialog mode closes its parent on Escape: a page lives as long as the window
        case WM_COMMAND:
        case WM_NOTIFY:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORBTN:
        case WM_SETCURSOR:
            return SendMessageW(GetParent(page), message, wParam, lParam);
    }
    return DefWindowProcW(page, message, wParam, lParam);
}

bool IsSpeedButtonKind(ControlKind kind) { return kind == ControlKind::Toggle || kind == ControlKind::SpringButton; }

// The arrow keys move within a group: a column of speed buttons is one,
// every other control a group of its own.
bool StartsGroup(std::size_t index) {
    const ControlDef& def = kMainControls[index];
    if (!IsSpeedButtonKind(def.kind) || index == 0) return true;
    const ControlDef& before = kMainControls[index - 1];
    return before.page != def.page || !IsSpeedButtonKind(before.kind) || before.left != def.left;
}

// BCM_SETSHIELD: a button's shield, from Windows Vista on (XP's buttons
// ignore the message, and its headers do not declare it).
constexpr UINT kSetShield = 0x1600 + 0x000C;
// TokenElevation, which XP's GetTokenInformation refuses.
constexpr int kTokenElevation = 20;

// Whether this Windows asks for elevation and the program runs without it:
// then a write to the machine's keys fails. XP answers no (it has no
// elevation; a limited account's writes fail with the usual error box).
bool RunsUnelevated() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    struct Owner {
        HANDLE handle;
        ~Owner() { CloseHandle(handle); }
    } owner{token};
    DWORD elevated = 0, size = 0;
    if (!GetTokenInformation(token, static_cast<TOKEN_INFORMATION_CLASS>(kTokenElevation), &elevated,
                             sizeof elevated, &size))
        return false;
    return elevated == 0;
}

}  // namespace

void TfrmMain::RegisterPageClass() {
    WNDCLASSEXW page = {};
    page.cbSize = sizeof page;
    if (GetClassInfoExW(instance_, kPageClass, &page)) return;
    page.lpfnWndProc = PageProc;
    page.hInstance = instance_;
    page.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    page.hbrBackground = colours::ClassBackground();
    page.lpszClassName = kPageClass;
    RegisterClassExW(&page);
}

bool TfrmMain::Create(HINSTANCE instance, HWND owner) {
    instance_ = instance;
    RegisterWindowClass(instance, kMainClass, Application().Icon());
    RegisterPageClass();

    // Made at its design place first: the DPI of the monitor it is on then
    // gives its size, and the work area of that monitor its place.
    if (!CreateWindowObject(WS_EX_CONTROLPARENT, kMainClass, kMainCaption, kMainStyle, kMainLeft, kMainTop,
                            kMainClientWidth, kMainClientHeight, owner, instance))
        return false;
    dpi_ = dpi::OfWindow(Hwnd());
    // The design place counts from the work area's corner, in the
    // monitor's pixels.
    const RECT work = dpi::WorkAreaAt(POINT{kMainLeft, kMainTop});
    PlaceWindow(POINT{work.left + Scaled(kMainLeft), work.top + Scaled(kMainTop)});
    BuildControls();
    InitFocusCues();
    SelectPage(0);
    RunHandler(Application(), [this] { FormCreate(*this); });
    return true;
}

void TfrmMain::BuildPages() {
    HWND tab = Control(ControlId::PageControl);
    for (int i = 0; i < kMainPageCount; ++i) {
        TCITEMW item = {};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<wchar_t*>(kMainPages[i].caption);
        SendMessageW(tab, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
    }
    // The pages go just above the tab control in the Z order, which would
    // otherwise paint over them (TabOrder still puts the strip first).
    HWND above = GetWindow(tab, GW_HWNDPREV);
    for (int i = 0; i < kMainPageCount; ++i) {
        pages_[i] = CreateWindowExW(WS_EX_CONTROLPARENT, kPageClass, kMainPages[i].caption,
                                    WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0, 0, 0, Hwnd(), nullptr,
                                    instance_, nullptr);
        SetWindowPos(pages_[i], above ? above : HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        above = pages_[i];
    }
    PlacePages();
}

void TfrmMain::BuildControls() {
    MakeFonts();
    SendMessageW(Hwnd(), WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), FALSE);

    tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, Hwnd(), nullptr, instance_,
                               nullptr);
    SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, Scaled(kTipWidth));
    SetSpeedButtonTooltip(Hwnd(), tooltip_);

    // The window's own controls now; a page's when it is first shown.
    for (std::size_t i = 0; i < kMainControlCount; ++i) {
        Entry& entry = entries_[i];
        const ControlDef& def = *entry.def;
        if (def.page != PageId::Window && !pages_[0]) BuildPages();
        if (def.page == PageId::Window) {
            entry.hwnd = CreateControl(def, static_cast<int>(i));
            if (entry.toggle) entry.toggle->Attach(entry.hwnd);
        }
        if (def.kind == ControlKind::TabControl) BuildPages();
    }
}

void TfrmMain::BuildPage(int index) {
    if (index < 0 || index >= kMainPageCount || built_[index]) return;
    built_[index] = true;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        Entry& entry = entries_[i];
        if (static_cast<int>(entry.def->page) != index) continue;
        entry.hwnd = CreateControl(*entry.def, static_cast<int>(i));
        if (entry.toggle) entry.toggle->Attach(entry.hwnd);
        if (entry.hasText) {
            SetWindowTextW(entry.hwnd, entry.text.c_str());
            entry.hasText = false;
            entry.text.clear();
        }
    }
    InheritUiState(pages_[index]);
}

HWND TfrmMain::ParentOf(const ControlDef& def) const {
    return def.page == PageId::Window ? Hwnd() : pages_[static_cast<int>(def.page)];
}

// Where a control goes: its row, its parent and its command id.
struct TfrmMain::Site {
    const ControlDef& def;
    HWND parent;
    int index;
    HMENU Id() const { return reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + index)); }
};

HWND TfrmMain::CreateControl(const ControlDef& def, int index) {
    // A control with nothing of its own to be named by gets a hidden label
    // just before it, which is where screen readers look for an edit's or a
    // picture's name; a button is named by its text, so one that says
    // nothing answers their request itself.
    const wchar_t* name = AccessibleNameOf(def.name);
    if (name)
        entries_[static_cast<std::size_t>(index)].nameLabel =
            CreateWindowExW(0, L"STATIC", name, WS_CHILD | SS_LEFTNOWORDWRAP | SS_NOPREFIX, def.left, def.top, 0, 0,
                            ParentOf(def), nullptr, instance_, nullptr);
    HWND hwnd = BuildControl(Site{def, ParentOf(def), index});
    if (!hwnd) throw std::runtime_error(std::string("Cannot create the control ") + def.name);
    // Pictures too: a proxy may name a picture by its label, or not at all
    // (this Wine's does not).
    if (name && (def.kind == ControlKind::PushButton || def.kind == ControlKind::Picture)) SetAccessibleName(hwnd, name);
    // A control that writes to the machine's keys carries the shield when
    // those writes would fail for want of elevation.
    const Setting* row = FindSettingByControl(def.name);
    if (row && row->IsMachineWide() && Unelevated()) SendMessageW(hwnd, kSetShield, 0, TRUE);
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(FontOf(def.kind)), FALSE);
    std::wstring tooltip = TooltipOf(def, row);
    const auto source = settingSources_.find(def.name);
    if (source != settingSources_.end() && !tooltip.empty()) tooltip = TooltipWithSource(tooltip.c_str(), source->second);
    if (!tooltip.empty()) AddTooltip(hwnd, tooltip.c_str());
    if (def.glyph) SetGlyph(hwnd, def.glyph);
    if (def.picture != PictureId::None)
        SendMessageW(hwnd, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(LoadPicture(def.picture)));
    return hwnd;
}

// One builder for each kind of control.
HWND TfrmMain::BuildControl(const Site& site) {
    switch (site.def.kind) {
        case ControlKind::Picture: {
            // A picture that does something is reached by the keyboard too.
            if (site.def.handler == HandlerId::None) return MakeChild(site, 0, L"STATIC", SS_BITMAP | SS_NOTIFY);
            HWND picture = MakeChild(site, 0, L"STATIC", SS_BITMAP | SS_NOTIFY | WS_TABSTOP);
            MakeFocusablePicture(picture);
            return picture;
        }
        case ControlKind::BoldLabel:
        case ControlKind::Label:
            return MakeLabel(site);
        case ControlKind::TabControl:
            return MakeChild(site, 0, WC_TABCONTROLW, TCS_BUTTONS | TCS_FLATBUTTONS | WS_CLIPSIBLINGS | WS_TABSTOP);
        case ControlKind::Toggle:
            return MakeSpeedButton(site, BS_AUTOCHECKBOX | BS_PUSHLIKE);
        case ControlKind::SpringButton:
            return MakeSpeedButton(site, BS_PUSHBUTTON);
        case ControlKind::PushButton:
            return MakeChild(site, 0, L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP);
        case ControlKind::SpinEdit:
            return MakeSpinEdit(site);
        case ControlKind::LabeledEdit:
            return MakeLabeledEdit(site);
        case ControlKind::ReadOnlyEdit:
            return MakeChild(site, WS_EX_CLIENTEDGE, L"EDIT", ES_LEFT | ES_AUTOHSCROLL | ES_READONLY | WS_TABSTOP);
        case ControlKind::Memo: {
            // It shows what the program found: read, selected and copied,
            // never typed into.
            HWND memo = MakeChild(site, WS_EX_CLIENTEDGE, L"EDIT",
                                  ES_LEFT | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY | WS_TABSTOP);
            MakeDialogMemo(memo);
            return memo;
        }
    }
    return nullptr;
}

HFONT TfrmMain::FontOf(ControlKind kind) const {
    if (kind == ControlKind::BoldLabel) return boldFont_.Get();
    if (kind == ControlKind::TabControl) return tabFont_.Get();
    return font_.Get();
}

HWND TfrmMain::MakeChild(const Site& site, DWORD exStyle, const wchar_t* cls, DWORD style, const wchar_t* caption,
                         int width) {
    const Placed place = PlaceOf(site.def);
    const DWORD group = StartsGroup(static_cast<std::size_t>(site.index)) ? WS_GROUP : 0;
    return CreateWindowExW(exStyle, cls, caption, WS_CHILD | WS_VISIBLE | group | style, place.left, place.top, width,
                           place.height, site.parent, site.Id(), instance_, nullptr);
}

HWND TfrmMain::MakeChild(const Site& site, DWORD exStyle, const wchar_t* cls, DWORD style) {
    return MakeChild(site, exStyle, cls, style, site.def.caption ? site.def.caption : L"", PlaceOf(site.def).width);
}

HWND TfrmMain::MakeLabel(const Site& site) {
    HWND label = MakeChild(site, 0, L"STATIC", SS_LEFTNOWORDWRAP | SS_NOPREFIX);
    // Measured in its own font.
    SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(FontOf(site.def.kind)), FALSE);
    if (site.def.width == 0) FitLabel(label);
    return label;
}

HWND TfrmMain::MakeSpeedButton(const Site& site, DWORD style) {
    HWND button = MakeChild(site, 0, L"BUTTON", style | WS_TABSTOP);
    kestro::MakeSpeedButton(button);
    return button;
}

HWND TfrmMain::MakeSpinEdit(const Site& site) {
    const ControlDef& def = site.def;
    // The arrows stand inside the control's width, at its right.
    const Placed place = PlaceOf(def);
    HWND edit = MakeChild(site, WS_EX_CLIENTEDGE, L"EDIT", ES_LEFT | ES_AUTOHSCROLL | WS_TABSTOP,
                          def.caption ? def.caption : L"", place.width);
    // They step by one, with no bounds: the handler of UDN_DELTAPOS
    // moves the number itself, so text that is not a number counts
    // as 0.
    const int arrowsLeft = place.left + place.width;
    HWND arrows = CreateWindowExW(0, UPDOWN_CLASSW, nullptr, WS_CHILD | WS_VISIBLE | WS_GROUP | UDS_ARROWKEYS, arrowsLeft,
                                  place.top, place.arrowsWidth, place.height, site.parent, nullptr, instance_, nullptr);
    SendMessageW(arrows, UDM_SETBUDDY, reinterpret_cast<WPARAM>(edit), 0);
    SetWindowPos(arrows, nullptr, arrowsLeft, place.top, place.arrowsWidth, place.height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(arrows, UDM_SETRANGE32, static_cast<WPARAM>(-0x7FFFFFFF), 0x7FFFFFFF);
    SetWindowLongPtrW(arrows, GWLP_ID, kFirstControlId + site.index + kSpinArrowsIdOffset);
    entries_[static_cast<std::size_t>(site.index)].arrows = arrows;
    return edit;
}

HWND TfrmMain::MakeLabeledEdit(const Site& site) {
    const ControlDef& def = site.def;
    // The label, with the row's caption, stands above the edit, three
    // pixels apart.
    const Placed place = PlaceOf(def);
    HWND label = CreateWindowExW(0, L"STATIC", def.caption ? def.caption : L"",
                                 WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFTNOWORDWRAP | SS_NOPREFIX, place.left, place.top, 0, 0,
                                 site.parent, nullptr, instance_, nullptr);
    SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(FontOf(def.kind)), FALSE);
    PlaceLabelAbove(label, place);
    entries_[static_cast<std::size_t>(site.index)].label = label;
    return MakeChild(site, WS_EX_CLIENTEDGE, L"EDIT", ES_LEFT | ES_AUTOHSCROLL | WS_TABSTOP, L"", place.width);
}

HBITMAP TfrmMain::LoadPicture(PictureId picture) {
    GdiObject<HBITMAP>* kept = nullptr;
    HBITMAP loaded = nullptr;
    switch (picture) {
        case PictureId::Logo: {
            std::string error;
            kept = &logo_;
            loaded = LoadJpegResource(instance_, IDR_LOGO, &error);
            break;
        }
        case PictureId::Help:
            kept = &help_;
            loaded = static_cast<HBITMAP>(
                LoadImageW(instance_, MAKEINTRESOURCEW(IDB_HELP), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
            break;
        case PictureId::None:
            return nullptr;
    }
    kept->Reset(loaded);
    BITMAP size = {};
    if (loaded && dpi_ != dpi::kDesign && GetObjectW(loaded, sizeof size, &size)) {
        if (HBITMAP scaled = dpi::StretchBitmap(loaded, Scaled(size.bmWidth), Scaled(size.bmHeight), true))
            kept->Reset(scaled);
    }
    return kept->Get();
}

void TfrmMain::AddTooltip(HWND control, const wchar_t* text) {
    TOOLINFOW info = {};
    info.cbSize = TTTOOLINFOW_V2_SIZE;  // XP's comctl32 knows no later layout
    // A speed button passes the mouse on itself; any other control is
    // watched by the tooltip's own subclass.
    info.uFlags = IsSpeedButton(control) ? TTF_IDISHWND : TTF_IDISHWND | TTF_SUBCLASS;
    info.hwnd = GetParent(control);
    info.uId = reinterpret_cast<UINT_PTR>(control);
    info.lpszText = const_cast<wchar_t*>(text);
    SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
}

void TfrmMain::SetGlyph(HWND button, const char* glyph) {
    // Buttons with the same glyph share one list.
    HIMAGELIST& list = imageLists_[glyph];
    if (!list) {
        // The program's bitmaps are loaded as DIB sections, in its own
        // memory: a bitmap compatible with the screen may live in the display
        // server (Wine keeps it as an X pixmap), and every step of making the
        // mask would then be a round trip to it.
        HBITMAP bitmap = static_cast<HBITMAP>(LoadImageA(instance_, glyph, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
        if (!bitmap) return;
        // Pixel by pixel at other DPIs, so that no edge blends into the
        // mask colour.
        const int side = Scaled(kGlyphSide);
        if (side != kGlyphSide) {
            HBITMAP scaled = dpi::StretchBitmap(bitmap, side, side, false);
            DeleteObject(bitmap);
            if (!scaled) return;
            bitmap = scaled;
        }
        list = ImageList_Create(side, side, ILC_COLOR24 | ILC_MASK, 1, 0);
        ImageList_AddMasked(list, bitmap, RGB(255, 0, 255));
        DeleteObject(bitmap);
    }
    if (!list) return;
    BUTTON_IMAGELIST images = {};
    images.himl = list;
    images.margin = {Scaled(4), 0, 0, 0};
    images.uAlign = BUTTON_IMAGELIST_ALIGN_LEFT;
    SendMessageW(button, BCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(&images));
}

bool TfrmMain::Unelevated() {
    if (!elevationKnown_) {
        unelevated_ = RunsUnelevated();
        elevationKnown_ = true;
    }
    return unelevated_;
}

}  // namespace kestro
