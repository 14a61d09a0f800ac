#include "ui/uMain.h"

#include "platform/text.h"
#include "resources/resource.h"
#include "settings/catalogue.h"
#include "ui/application.h"
#include "ui/colours.h"
#include "ui/dpi.h"
#include "ui/folder_picture.h"
#include "ui/jpeg_picture.h"
#include "ui/shell_library.h"
#include "ui/uChkDir.h"

#include <stdexcept>

namespace kestro {

namespace {

constexpr wchar_t kMainClass[] = L"TfrmMain";
constexpr wchar_t kPageClass[] = L"KestroPage";
constexpr int kFirstControlId = 1000;
constexpr DWORD kMainStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
// Windows 8.1 and later: the window moved to a monitor of another DPI
// (the headers of XP's SDK do not have it).
constexpr UINT kDpiChanged = 0x02E0;
// A glyph's side at 96 DPI.
constexpr int kGlyphSide = 16;

// Toggles and springing buttons take no keyboard focus: they handle the
// mouse themselves and report BN_CLICKED as the button would. Every message
// of the page's buttons passes here, so the common path asks the window
// server nothing: the button class's own procedure is kept in the button's
// user data slot, a toggle is known by its style, and the tooltip gets the
// mouse messages from here rather than through a subclass of its own.
// Properties (a server request each) only serve the mouse: the button being
// pressed, and the main window's tooltip, kept once on the main window.
constexpr wchar_t kPressedProp[] = L"KestroPressed";
constexpr wchar_t kTooltipProp[] = L"KestroTooltip";

bool IsToggle(HWND button) { return (GetWindowLongW(button, GWL_STYLE) & BS_TYPEMASK) == BS_AUTOCHECKBOX; }

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
    if (IsToggle(button)) {
        LRESULT checked = SendMessageW(button, BM_GETCHECK, 0, 0);
        SendMessageW(button, BM_SETCHECK, checked == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED, 0);
    }
    SendMessageW(GetParent(button), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
}

LRESULT CALLBACK FocuslessButtonProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam) {
    auto old = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(button, GWLP_USERDATA));
    if (IsMouseButtonOrMove(message)) RelayToTooltip(button, message, wParam, lParam);
    switch (message) {
        case WM_NCPAINT:
            return 0;  // a button has no border: there is no frame to draw
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
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
            }
            return 0;
        case WM_SETFOCUS:
            return 0;  // never keeps the focus
        case WM_NCDESTROY:
            RemovePropW(button, kPressedProp);
            SetWindowLongPtrW(button, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(old));
            SetWindowLongPtrW(button, GWLP_USERDATA, 0);
            break;
    }
    return CallWindowProcW(old, button, message, wParam, lParam);
}

void MakeFocusless(HWND button) {
    SetWindowLongPtrW(button, GWLP_USERDATA, GetWindowLongPtrW(button, GWLP_WNDPROC));
    SetWindowLongPtrW(button, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(FocuslessButtonProc));
}

bool IsFocusless(HWND control) {
    return GetWindowLongPtrW(control, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(FocuslessButtonProc);
}

// A page of the tab control: a plain white window that hands what its
// controls report to the main window.
LRESULT CALLBACK PageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_NCPAINT:
            return 0;  // no border either
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

}  // namespace

// A toggle's state, kept here until its button exists, then in the button.
class TfrmMain::ButtonToggle : public IToggle {
public:
    explicit ButtonToggle(HWND button) : button_(button) {}
    // BM_SETCHECK sends no BN_CLICKED: setting a state runs no handler.
    void SetDown(bool down) override {
        down_ = down;
        if (button_) SendMessageW(button_, BM_SETCHECK, down ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    // The button made when its page is first shown takes the state set
    // before; a new button is up already.
    void Attach(HWND button) {
        button_ = button;
        if (down_) SetDown(true);
    }

private:
    HWND button_;
    bool down_ = false;
};

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
    SelectPage(0);
    RunHandler(Application(), [this] { FormCreate(*this); });
    return true;
}

void TfrmMain::BuildPages() {
    HWND tab = Control("PageControl");
    for (int i = 0; i < 4; ++i) {
        TCITEMW item = {};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<wchar_t*>(kMainPages[i].caption);
        SendMessageW(tab, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
    }
    // The pages go just above the tab control in the Z order, which would
    // otherwise paint over them, and before it in the tab order.
    HWND above = GetWindow(tab, GW_HWNDPREV);
    for (int i = 0; i < 4; ++i) {
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
    SetPropW(Hwnd(), kTooltipProp, tooltip_);  // for the focusless buttons' mouse messages

    // The window's own controls now; a page's when it is first shown.
    entries_.reserve(kMainControlCount);
    for (std::size_t i = 0; i < kMainControlCount; ++i) {
        const ControlDef& def = kMainControls[i];
        if (def.page != PageId::Window && !pages_[0]) BuildPages();
        HWND hwnd = def.page == PageId::Window ? CreateControl(def, static_cast<int>(i)) : nullptr;
        Entry entry{&def, hwnd, nullptr, false, {}};
        if (def.kind == ControlKind::Toggle) entry.toggle = std::make_unique<ButtonToggle>(hwnd);
        entries_.push_back(std::move(entry));
        if (def.kind == ControlKind::TabControl) BuildPages();
    }
}

void TfrmMain::BuildPage(int index) {
    if (index < 0 || index >= 4 || built_[index]) return;
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
    HWND hwnd = BuildControl(Site{def, ParentOf(def), index});
    if (!hwnd) throw std::runtime_error(std::string("Cannot create the control ") + def.name);
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(FontOf(def.kind)), FALSE);
    if (def.tooltip) AddTooltip(hwnd, def.tooltip);
    if (def.glyph) SetGlyph(hwnd, def.glyph);
    if (def.picture != PictureId::None)
        SendMessageW(hwnd, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(LoadPicture(def.picture)));
    return hwnd;
}

// One builder for each kind of control.
HWND TfrmMain::BuildControl(const Site& site) {
    switch (site.def.kind) {
        case ControlKind::Picture:
            return MakeChild(site, 0, L"STATIC", SS_BITMAP | SS_NOTIFY);
        case ControlKind::BoldLabel:
        case ControlKind::Label:
            return MakeLabel(site);
        case ControlKind::TabControl:
            return MakeChild(site, 0, WC_TABCONTROLW, TCS_BUTTONS | TCS_FLATBUTTONS | WS_CLIPSIBLINGS | WS_TABSTOP);
        case ControlKind::Toggle:
            return MakeFocuslessButton(site, BS_AUTOCHECKBOX | BS_PUSHLIKE);
        case ControlKind::SpringButton:
            return MakeFocuslessButton(site, BS_PUSHBUTTON);
        case ControlKind::PushButton:
            return MakeChild(site, 0, L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP);
        case ControlKind::SpinEdit:
            return MakeSpinEdit(site);
        case ControlKind::LabeledEdit:
            return MakeLabeledEdit(site);
        case ControlKind::ReadOnlyEdit:
            return MakeChild(site, WS_EX_CLIENTEDGE, L"EDIT", ES_LEFT | ES_AUTOHSCROLL | ES_READONLY | WS_TABSTOP);
        case ControlKind::Memo:
            return MakeChild(site, WS_EX_CLIENTEDGE, L"EDIT",
                             ES_LEFT | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | WS_TABSTOP);
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
    return CreateWindowExW(exStyle, cls, caption, WS_CHILD | WS_VISIBLE | style, place.left, place.top, width,
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

HWND TfrmMain::MakeFocuslessButton(const Site& site, DWORD style) {
    HWND button = MakeChild(site, 0, L"BUTTON", style);
    MakeFocusless(button);
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
    HWND arrows = CreateWindowExW(0, UPDOWN_CLASSW, nullptr, WS_CHILD | WS_VISIBLE | UDS_ARROWKEYS, arrowsLeft,
                                  place.top, place.arrowsWidth, place.height, site.parent, nullptr, instance_, nullptr);
    SendMessageW(arrows, UDM_SETBUDDY, reinterpret_cast<WPARAM>(edit), 0);
    SetWindowPos(arrows, nullptr, arrowsLeft, place.top, place.arrowsWidth, place.height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(arrows, UDM_SETRANGE32, static_cast<WPARAM>(-0x7FFFFFFF), 0x7FFFFFFF);
    SetWindowLongPtrW(arrows, GWLP_ID, kFirstControlId + site.index + 5000);
    extras_[std::string(def.name) + ".Arrows"] = arrows;
    return edit;
}

HWND TfrmMain::MakeLabeledEdit(const Site& site) {
    const ControlDef& def = site.def;
    // The label, with the row's caption, stands above the edit, three
    // pixels apart.
    const Placed place = PlaceOf(def);
    HWND label = CreateWindowExW(0, L"STATIC", def.caption ? def.caption : L"",
                                 WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOPREFIX, place.left, place.top, 0, 0,
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
    // A focusless button passes the mouse on itself; any other control is
    // watched by the tooltip's own subclass.
    info.uFlags = IsFocusless(control) ? TTF_IDISHWND : TTF_IDISHWND | TTF_SUBCLASS;
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
    SendMessageW(Control("PageControl"), TCM_SETCURSEL, index, 0);
    for (int i = 0; i < 4; ++i) ShowWindow(pages_[i], i == index ? SW_SHOW : SW_HIDE);
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

// ---------------------------------------------------------------- the view

IToggle& TfrmMain::Toggle(const char* control) {
    for (Entry& entry : entries_)
        if (entry.toggle && std::string(control) == entry.def->name) return *entry.toggle;
    throw std::logic_error(std::string("No toggle named ") + control);
}

void TfrmMain::SetRecentDocsCount(std::int32_t count) { SetText("seNumRemDocuments", std::to_wstring(count)); }

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
    const bool down = SendMessageW(Control(control), BM_GETCHECK, 0, 0) == BST_CHECKED;
    Zfunctions::WriteSetting(*row, SettingArgument::Number(row->HandlerArgument(down)));
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
            if (header->code == NM_CUSTOMDRAW && IsFocusless(header->hwndFrom))
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
        case WM_DESTROY:
            RemovePropW(Hwnd(), kTooltipProp);
            PostQuitMessage(0);
            return 0;
    }
    return DefaultProc(message, wParam, lParam);
}

}  // namespace kestro
