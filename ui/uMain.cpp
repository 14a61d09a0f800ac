#include "ui/uMain.h"

#include "form/accessible_names.h"
#include "core/text.h"
#include "resources/resource.h"
#include "settings/catalogue.h"
#include "ui/accessible_name.h"
#include "ui/application.h"
#include "ui/colours.h"
#include "ui/dialog_keys.h"
#include "ui/dpi.h"
#include "ui/form_font.h"
#include "ui/folder_picture.h"
#include "ui/jpeg_picture.h"
#include "ui/policy_prompt.h"
#include "ui/shell_library.h"
#include "ui/speed_button.h"
#include "ui/uChkDir.h"

#include <stdexcept>

namespace kestro {

namespace {

constexpr wchar_t kMainClass[] = L"TfrmMain";
constexpr wchar_t kPageClass[] = L"KestroPage";
constexpr int kFirstControlId = 1000;
// A spin edit's arrows: the id of its edit, this far on.
constexpr int kSpinArrowsIdOffset = 5000;
constexpr DWORD kMainStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
// Windows 8.1 and later: the window moved to a monitor of another DPI
// (the headers of XP's SDK do not have it).
constexpr UINT kDpiChanged = 0x02E0;
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

bool KeyDown(int key) { return (GetKeyState(key) & 0x8000) != 0; }

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

BOOL CALLBACK UpdateUiState(HWND child, LPARAM wParam) {
    SendMessageW(child, WM_UPDATEUISTATE, static_cast<WPARAM>(wParam), 0);
    return TRUE;
}

// Hides or shows the focus cues of `window` and of every control in it.
// Told to each window here: this Wine's default procedure passes the
// change on to no child.
void SetFocusCues(HWND window, bool shown) {
    const WPARAM change = MAKEWPARAM(shown ? UIS_CLEAR : UIS_SET, UISF_HIDEFOCUS | UISF_HIDEACCEL);
    UpdateUiState(window, static_cast<LPARAM>(change));
    EnumChildWindows(window, UpdateUiState, static_cast<LPARAM>(change));
}


}  // namespace

// The chooser opens on the main window's monitor; at start that is the
// system's DPI.
HFONT MakeFormFont(int weight) { return dpi::MakeUiFont(dpi::OfSystem(), weight); }

TfrmMain::TfrmMain() = default;

TfrmMain::~TfrmMain() {
    for (const auto& list : imageLists_)
        if (list.second) ImageList_Destroy(list.second);
}

bool TfrmMain::Create(HINSTANCE instance, HWND owner) {
    instance_ = instance;
    RegisterWindowClass(instance, kMainClass, Application().Icon());
    WNDCLASSEXW page = {};
    page.cbSize = sizeof page;
    if (!GetClassInfoExW(instance, kPageClass, &page)) {
        page.lpfnWndProc = PageProc;
        page.hInstance = instance;
        page.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        page.hbrBackground = colours::ClassBackground();
        page.lpszClassName = kPageClass;
        RegisterClassExW(&page);
    }

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
    // Focus cues as the system's setting asks: hidden until the keyboard
    // is used, unless the user wants them always.
    BOOL cues = TRUE;
    SystemParametersInfoW(SPI_GETKEYBOARDCUES, 0, &cues, 0);
    focusCues_ = cues != FALSE;
    if (!focusCues_) SetFocusCues(Hwnd(), false);  // a new window shows them
    SelectPage(0);
    RunHandler(Application(), [this] { FormCreate(*this); });
    return true;
}

void TfrmMain::BuildPages() {
    HWND tab = Control("PageControl");
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
        extras_[kMainPages[i].name] = pages_[i];
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
    entries_.reserve(kMainControlCount);
    for (std::size_t i = 0; i < kMainControlCount; ++i) {
        const ControlDef& def = kMainControls[i];
        if (def.page != PageId::Window && !pages_[0]) BuildPages();
        HWND hwnd = def.page == PageId::Window ? CreateControl(def, static_cast<int>(i)) : nullptr;
        Entry entry{&def, hwnd, nullptr, false, {}};
        if (def.kind == ControlKind::Toggle) entry.toggle = std::make_unique<ToggleButton>(hwnd);
        entries_.push_back(std::move(entry));
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
        extras_[std::string(def.name) + ".Name"] =
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
    if (def.tooltip) {
        const auto source = settingSources_.find(def.name);
        if (source == settingSources_.end()) AddTooltip(hwnd, def.tooltip);
        else AddTooltip(hwnd, TooltipWithSource(def.tooltip, source->second).c_str());
    }
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
    extras_[std::string(def.name) + ".Arrows"] = arrows;
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
    extras_[std::string(def.name) + ".Label"] = label;
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

HWND TfrmMain::Control(const std::string& name) const {
    for (const Entry& entry : entries_)
        if (name == entry.def->name) return entry.hwnd;
    auto it = extras_.find(name);
    return it == extras_.end() ? nullptr : it->second;
}

void TfrmMain::ConnectChooser(TfrmChkDir* chooser) {
    chooser_ = chooser;
    if (chooser) chooser->OnFolderChosen([this](const std::wstring& folder) { SetText("edFolder", folder); });
}

void TfrmMain::SelectPage(int index) {
    BuildPage(index);
    HWND focus = GetFocus();
    bool focusOnHiddenPage = false;
    for (int i = 0; i < kMainPageCount; ++i)
        if (i != index && focus && IsChild(pages_[i], focus)) focusOnHiddenPage = true;
    SendMessageW(Control("PageControl"), TCM_SETCURSEL, index, 0);
    for (int i = 0; i < kMainPageCount; ++i) ShowWindow(pages_[i], i == index ? SW_SHOW : SW_HIDE);
    if (focusOnHiddenPage) {
        const std::vector<HWND> order = TabOrder();
        // The page's first control follows the tab strip; a page with none
        // leaves the focus on the strip.
        SetFocus(order.size() > 1 && IsChild(pages_[index], order[1]) ? order[1] : Control("PageControl"));
    }
}

int TfrmMain::CurrentPage() const {
    return static_cast<int>(SendMessageW(Control("PageControl"), TCM_GETCURSEL, 0, 0));
}

std::wstring TfrmMain::Text(const char* control) const {
    for (const Entry& entry : entries_) {
        if (entry.hwnd || std::string(control) != entry.def->name) continue;
        // Not made yet: what was set, or what it will be made with.
        if (entry.hasText) return entry.text;
        return entry.def->caption && entry.def->kind != ControlKind::LabeledEdit ? entry.def->caption : L"";
    }
    HWND hwnd = Control(control);
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(hwnd, &text[0], static_cast<int>(text.size()))));
    return text;
}

void TfrmMain::SetText(const char* control, const std::wstring& text) {
    for (Entry& entry : entries_) {
        if (entry.hwnd || std::string(control) != entry.def->name) continue;
        entry.hasText = true;
        entry.text = text;
        return;
    }
    SetWindowTextW(Control(control), text.c_str());
}

// ---------------------------------------------------------------- the keyboard

std::vector<HWND> TfrmMain::TabOrder() const {
    auto stop = [](HWND control) {
        const LONG style = GetWindowLongW(control, GWL_STYLE);
        return (style & WS_TABSTOP) && (style & WS_VISIBLE) && !(style & WS_DISABLED);
    };
    // The pages stand above the tab strip in the Z order, so that they
    // paint over it: the dialog manager's own walk, which follows that
    // order, would visit a page before the strip.
    HWND tab = Control("PageControl");
    std::vector<HWND> order = {tab};
    const int page = CurrentPage();
    if (page >= 0 && page < kMainPageCount && pages_[page])
        for (HWND child = GetWindow(pages_[page], GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            if (stop(child)) order.push_back(child);
    // Then the window's own controls after the strip, and those before it.
    std::vector<HWND> before;
    bool afterTab = false;
    for (const Entry& entry : entries_) {
        if (entry.def->page != PageId::Window || !entry.hwnd) continue;
        if (entry.hwnd == tab) {
            afterTab = true;
            continue;
        }
        if (stop(entry.hwnd)) (afterTab ? order : before).push_back(entry.hwnd);
    }
    order.insert(order.end(), before.begin(), before.end());
    return order;
}

void TfrmMain::FocusByKeyboard(HWND control) {
    if (!control) return;
    ShowFocusCues();
    // An edit reached by the keyboard has its text selected, as in a dialog.
    if (SendMessageW(control, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) SendMessageW(control, EM_SETSEL, 0, -1);
    SetFocus(control);
}

void TfrmMain::MoveFocus(bool backwards) {
    const std::vector<HWND> order = TabOrder();
    HWND focus = GetFocus();
    std::size_t at = order.size();
    for (std::size_t i = 0; i < order.size(); ++i)
        if (order[i] == focus || IsChild(order[i], focus)) at = i;
    std::size_t next = 0;
    if (at == order.size())
        next = backwards ? order.size() - 1 : 0;
    else
        next = backwards ? (at + order.size() - 1) % order.size() : (at + 1) % order.size();
    FocusByKeyboard(order[next]);
}

bool TfrmMain::PreviewKey(const MSG& msg) {
    if (msg.message != WM_KEYDOWN || !IsWindowEnabled(Hwnd())) return false;
    const bool ctrl = KeyDown(VK_CONTROL), shift = KeyDown(VK_SHIFT);
    const int key = static_cast<int>(msg.wParam);
    int step = 0;
    if (ctrl && key == VK_TAB) step = shift ? -1 : 1;
    if (ctrl && key == VK_NEXT) step = 1;
    if (ctrl && key == VK_PRIOR) step = -1;
    HWND tab = Control("PageControl");
    if (!ctrl && GetFocus() == tab && (key == VK_RIGHT || key == VK_LEFT)) step = key == VK_RIGHT ? 1 : -1;
    if (step != 0) {
        SelectPage((CurrentPage() + step + kMainPageCount) % kMainPageCount);
        ShowFocusCues();
        return true;
    }
    if (key == VK_TAB && !ctrl && !KeyDown(VK_MENU)) {
        MoveFocus(shift);
        return true;
    }
    // A picture has no keys of its own: Space on the logo clicks it.
    if (key == VK_SPACE && GetFocus() == Control("imgLogo")) {
        SendMessageW(Hwnd(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(GetFocus()), STN_CLICKED),
                     reinterpret_cast<LPARAM>(GetFocus()));
        return true;
    }
    return false;
}

void TfrmMain::OnActivate(WPARAM wParam) {
    if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(Hwnd(), focus)) lastFocus_ = focus;
    } else if (!HIWORD(wParam)) {  // not while minimised
        RestoreFocus();
    }
}

void TfrmMain::RestoreFocus() {
    // A control on a page since hidden cannot have it back.
    if (!lastFocus_ || !IsWindow(lastFocus_) || !IsWindowVisible(lastFocus_) || !IsWindowEnabled(lastFocus_))
        lastFocus_ = Control("PageControl");
    SetFocus(lastFocus_);
}

void TfrmMain::InheritUiState(HWND page) {
    if (!focusCues_) SetFocusCues(page, false);
}

bool TfrmMain::Unelevated() {
    if (!elevationKnown_) {
        unelevated_ = RunsUnelevated();
        elevationKnown_ = true;
    }
    return unelevated_;
}

void TfrmMain::ShowFocusCues() {
    if (focusCues_) return;
    focusCues_ = true;
    SetFocusCues(Hwnd(), true);
}

// ---------------------------------------------------------------- the view

IToggle& TfrmMain::Toggle(const char* control) {
    for (Entry& entry : entries_)
        if (entry.toggle && std::string(control) == entry.def->name) return *entry.toggle;
    throw std::logic_error(std::string("No toggle named ") + control);
}

void TfrmMain::SetRecentDocsCount(std::int32_t count) { SetText("seNumRemDocuments", std::to_wstring(count)); }

void TfrmMain::SetSettingSource(const char* control, unsigned sources) {
    settingSources_[control] = sources;
    // A control of a page not yet built gets its tooltip when it is made.
    HWND hwnd = nullptr;
    for (const Entry& entry : entries_)
        if (std::string(control) == entry.def->name) hwnd = entry.hwnd;
    const ControlDef* def = FindControlDef(control);
    if (!hwnd || !def || !def->tooltip) return;
    const std::wstring text = TooltipWithSource(def->tooltip, sources);
    TOOLINFOW info = {};
    info.cbSize = TTTOOLINFOW_V2_SIZE;
    info.hwnd = GetParent(hwnd);
    info.uId = reinterpret_cast<UINT_PTR>(hwnd);
    info.lpszText = const_cast<wchar_t*>(text.c_str());
    SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&info));
}

void TfrmMain::SetApplicationTitle(const std::wstring& title) { Application().SetTitle(title); }

void TfrmMain::ClearSystemInfo() { SetText("mmSystemInfo", L""); }

void TfrmMain::AppendSystemInfoLine(const std::wstring& line) {
    std::wstring text = Text("mmSystemInfo");
    if (!text.empty()) text += L"\r\n";
    SetText("mmSystemInfo", text + line);
}

void TfrmMain::SetNoticeCaption(const std::wstring& caption) {
    HWND label = Control("lbInfa");
    SetWindowTextW(label, caption.c_str());
    FitLabel(label);
}

// ---------------------------------------------------------------- handlers

void TfrmMain::ToggleClick(const char* control) {
    const Setting* row = FindSettingByControl(control);
    if (!row || !row->IsToggle()) throw std::logic_error(std::string("No writer for ") + control);
    IToggle& toggle = Toggle(control);
    const bool down = SendMessageW(Control(control), BM_GETCHECK, 0, 0) == BST_CHECKED;
    // Held for the whole computer (the machine's copy, the local Group
    // Policy): asked first; without a Yes, or without the rights, nothing
    // changes and the toggle goes back to the truth.
    if (!ConfirmPolicyLift(Hwnd(), Application().Title(), *row, down)) {
        toggle.SetDown(!down);
        return;
    }
    try {
        Zfunctions::WriteSetting(*row, SettingArgument::Number(row->HandlerArgument(down)));
        if (settingSources_.count(control)) SetSettingSource(control, 0);  // the user's own value now
    } catch (const std::exception& error) {
        // The box first; then the toggle shows what the registry holds, read
        // as at start, and not the position the click gave it. When even
        // that cannot be read, it goes back to where it was.
        Application().ShowException(error);
        toggle.SetDown(!down);
        try {
            ReadToggleState(*row, toggle);
        } catch (const std::exception&) {
        }
    }
}

void TfrmMain::sbClearSearchClick() { Zfunctions::ClearSearchHistory(); }

std::wstring TfrmMain::ChooseExistingFile(const wchar_t* filter) {
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400W;  // the layout every Windows since 2000 knows
    ofn.hwndOwner = Hwnd();
    ofn.lpstrFilter = filter;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = dialogFile_;
    ofn.nMaxFile = MAX_PATH;  // characters, not bytes
    ofn.Flags = OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_EXPLORER;
    // The dialog shows the shell's namespace, which wants COM.
    shell::EnsureCom();
    if (!shell::GetOpenFileNameW(&ofn)) return std::wstring();
    const DWORD attributes = GetFileAttributesW(dialogFile_);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return std::wstring();
    return dialogFile_;
}

void TfrmMain::sbSetWallpaperClick() {
    const std::wstring file = ChooseExistingFile(L"*.bmp\0*.bmp\0");
    if (!file.empty()) Zfunctions::SetWallpaper(WideToUtf8(file));
}

void TfrmMain::bbSetNumRemDocumentsClick() { Zfunctions::SetMaxRecentDocs(ParseWholeNumber(Text("seNumRemDocuments"))); }

void TfrmMain::bbSetTrashNameClick() { Zfunctions::SetRecycleBinName(WideToUtf8(Text("leTrashName"))); }

void TfrmMain::bbSetTrashTipTextClick() { Zfunctions::SetRecycleBinInfoTip(WideToUtf8(Text("leTrashTipText"))); }

void TfrmMain::bbSetFolderClick() {
    if (chooser_) chooser_->ShowChooser();
}

void TfrmMain::bbSetPictureClick() {
    const std::wstring file = ChooseExistingFile(L"Изображения (*.bmp;*.jpg;*.jpeg)\0*.bmp;*.jpg;*.jpeg\0");
    if (!file.empty()) SetText("edPicture", file);
}

void TfrmMain::bbSetPictureBackgroundFolderClick() {
    const std::wstring folder = Text("edFolder");
    if (folder == kFolderPlaceholder) {
        Application().ModalMessageBox(L"выберите папку", L"Information", MB_OK | MB_ICONINFORMATION);
        SetFocus(Control("bbSetFolder"));
        return;
    }
    std::wstring picture = Text("edPicture");
    if (picture == kPicturePlaceholder) picture.clear();
    // The writer would take a folder text that is not a full path (the
    // chooser gives the computer's display name, say) as relative to the
    // current folder.
    const bool fullPath = (folder.size() >= 3 && folder[1] == L':' && (folder[2] == L'\\' || folder[2] == L'/')) ||
                          folder.compare(0, 2, L"\\\\") == 0;
    if (!fullPath || !WriteFolderPicture(folder, picture)) {
        Application().ModalMessageBox(
            L"Невозможно создать Desktop.ini\r\nпроверьте правильность ввода путей к:\r\n1) папке\r\n2) картинке",
            L"Error", MB_OK | MB_ICONERROR);
    }
}

void TfrmMain::imgLogoClick() {
    // Opening an address may run a shell extension, which wants COM.
    shell::EnsureCom();
    shell::ShellExecuteW(nullptr, L"open", kWebSiteAddress, L"", L"", SW_SHOWNORMAL);
}

void TfrmMain::bbExitClick() { PostMessageW(Hwnd(), WM_CLOSE, 0, 0); }

void TfrmMain::RunClick(const ControlDef& def) {
    switch (def.handler) {
        case HandlerId::None: break;
        case HandlerId::Toggle: ToggleClick(def.name); break;
        case HandlerId::ClearSearch: sbClearSearchClick(); break;
        case HandlerId::SetWallpaper: sbSetWallpaperClick(); break;
        case HandlerId::SetNumRemDocuments: bbSetNumRemDocumentsClick(); break;
        case HandlerId::SetTrashName: bbSetTrashNameClick(); break;
        case HandlerId::SetTrashTipText: bbSetTrashTipTextClick(); break;
        case HandlerId::SetFolder: bbSetFolderClick(); break;
        case HandlerId::SetPicture: bbSetPictureClick(); break;
        case HandlerId::SetPictureBackgroundFolder: bbSetPictureBackgroundFolderClick(); break;
        case HandlerId::Logo: imgLogoClick(); break;
        case HandlerId::Exit: bbExitClick(); break;
    }
}

void TfrmMain::OnCommand(int id, int code, HWND) {
    const int index = id - kFirstControlId;
    if (index < 0 || index >= static_cast<int>(entries_.size())) return;
    const ControlDef& def = *entries_[static_cast<std::size_t>(index)].def;
    const bool clicked = (def.kind == ControlKind::Picture && code == STN_CLICKED) ||
                         (def.kind != ControlKind::Picture && code == BN_CLICKED);
    if (clicked) RunHandler(Application(), [&] { RunClick(def); });
}

LRESULT TfrmMain::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
            return 0;
        case WM_NOTIFY: {
            const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->code == NM_CUSTOMDRAW && IsSpeedButton(header->hwndFrom))
                return colours::CustomDrawButton(*header);
            if (header->hwndFrom == Control("PageControl") && header->code == TCN_SELCHANGE) {
                SelectPage(static_cast<int>(SendMessageW(header->hwndFrom, TCM_GETCURSEL, 0, 0)));
                return 0;
            }
            if (header->hwndFrom == Control("seNumRemDocuments.Arrows") && header->code == UDN_DELTAPOS) {
                const NMUPDOWN* change = reinterpret_cast<const NMUPDOWN*>(lParam);
                const long long next = static_cast<long long>(ParseWholeNumber(Text("seNumRemDocuments"))) + change->iDelta;
                if (next >= -2147483647LL - 1 && next <= 2147483647LL)
                    SetText("seNumRemDocuments", std::to_wstring(next));
                return 1;  // the arrows keep no position of their own
            }
            break;
        }
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORBTN:
            return colours::ControlColours(reinterpret_cast<HDC>(wParam));
        case WM_SYSCOLORCHANGE:
            colours::SysColorChange(Hwnd(), wParam, lParam);
            return 0;
        case kDpiChanged:
            ApplyDpi(HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
            return 0;
        case WM_SETCURSOR:
            if (reinterpret_cast<HWND>(wParam) == Control("imgLogo")) {
                SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_HAND)));
                return TRUE;
            }
            break;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == SC_MINIMIZE) {
                Application().Minimize();
                return 0;
            }
            break;
        case DM_GETDEFID: {
            // Enter presses the focused push button or the logo; elsewhere
            // it does nothing (the dialog manager then sends IDOK, which no
            // control has).
            HWND focus = GetFocus();
            const bool pushButton = focus && IsChild(Hwnd(), focus) &&
                                    (SendMessageW(focus, WM_GETDLGCODE, 0, 0) & DLGC_UNDEFPUSHBUTTON);
            if (pushButton || (focus && focus == Control("imgLogo")))
                return MAKELONG(GetDlgCtrlID(focus), DC_HASDEFID);
            return 0;
        }
        case WM_NEXTDLGCTL:
            // What the dialog manager asks of a dialog for the arrow keys.
            if (LOWORD(lParam))
                FocusByKeyboard(reinterpret_cast<HWND>(wParam));
            else
                MoveFocus(wParam != 0);
            return 0;
        case WM_ACTIVATE:
            // As a dialog does: the focus returns to the control that had it,
            // rather than to the window's frame.
            OnActivate(wParam);
            return 0;
        case WM_SETFOCUS:
            RestoreFocus();
            return 0;
        case WM_DESTROY:
            SetSpeedButtonTooltip(Hwnd(), nullptr);
            PostQuitMessage(0);
            return 0;
    }
    return DefaultProc(message, wParam, lParam);
}

}  // namespace kestro
