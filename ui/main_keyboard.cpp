// The main window's keyboard: the keys it takes before the dialog manager,
// the tab order, the focus it moves and gives back, and the focus cues.
#include "ui/uMain.h"

namespace kestro {

namespace {

bool KeyDown(int key) { return (GetKeyState(key) & 0x8000) != 0; }

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

void TfrmMain::InitFocusCues() {
    // Focus cues as the system's setting asks: hidden until the keyboard
    // is used, unless the user wants them always.
    BOOL cues = TRUE;
    SystemParametersInfoW(SPI_GETKEYBOARDCUES, 0, &cues, 0);
    focusCues_ = cues != FALSE;
    if (!focusCues_) SetFocusCues(Hwnd(), false);  // a new window shows them
}

std::vector<HWND> TfrmMain::TabOrder() const {
    auto stop = [](HWND control) {
        const LONG style = GetWindowLongW(control, GWL_STYLE);
        return (style & WS_TABSTOP) && (style & WS_VISIBLE) && !(style & WS_DISABLED);
    };
    // The pages stand above the tab strip in the Z order, so that they
    // paint over it: the dialog manager's own walk, which follows that
    // order, would visit a page before the strip.
    HWND tab = Control(ControlId::PageControl);
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
    HWND tab = Control(ControlId::PageControl);
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
    if (key == VK_SPACE && GetFocus() == Control(ControlId::imgLogo)) {
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
        lastFocus_ = Control(ControlId::PageControl);
    SetFocus(lastFocus_);
}

void TfrmMain::InheritUiState(HWND page) {
    if (!focusCues_) SetFocusCues(page, false);
}

void TfrmMain::ShowFocusCues() {
    if (focusCues_) return;
    focusCues_ = true;
    SetFocusCues(Hwnd(), true);
}

}  // namespace kestro
