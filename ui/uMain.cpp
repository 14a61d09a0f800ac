// The main window's form class: its click handlers and its messages. The
// making of the window, its keyboard, its view and its layout are in the
// main_*.cpp files beside this one.
#include "ui/uMain.h"

#include "core/text.h"
#include "form/window_texts.h"
#include "settings/catalogue.h"
#include "ui/application.h"
#include "ui/colours.h"
#include "ui/folder_picture.h"
#include "ui/shell_library.h"
#include "ui/speed_button.h"
#include "ui/uChkDir.h"

#include <stdexcept>

namespace kestro {

namespace {

// Windows 8.1 and later: the window moved to a monitor of another DPI
// (the headers of XP's SDK do not have it).
constexpr UINT kDpiChanged = 0x02E0;

}  // namespace

TfrmMain::TfrmMain() {
    // An entry for every row from the start, each control's made later.
    entries_.reserve(kMainControlCount);
    for (const ControlDef& def : kMainControls) {
        entries_.push_back(Entry{&def, nullptr, nullptr, false, {}});
        if (def.kind == ControlKind::Toggle) entries_.back().toggle = std::make_unique<ToggleButton>(nullptr);
    }
}

TfrmMain::~TfrmMain() {
    for (const auto& list : imageLists_)
        if (list.second) ImageList_Destroy(list.second);
}

// ---------------------------------------------------------------- handlers

void TfrmMain::ToggleClick(ControlId control) {
    const char* name = DefOf(control).name;
    const Setting* row = FindSettingByControl(name);
    if (!row || !row->IsToggle()) throw std::logic_error(std::string("No writer for ") + name);
    if (!EntryOf(control).toggle) throw std::logic_error(std::string("No toggle named ") + name);
    IToggle& toggle = *EntryOf(control).toggle;
    const bool down = SendMessageW(Control(control), BM_GETCHECK, 0, 0) == BST_CHECKED;
    try {
        Zfunctions::WriteSetting(*row, SettingArgument::Number(row->HandlerArgument(down)));
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
    const std::wstring file = ChooseExistingFile(kWallpaperFilter);
    if (!file.empty()) Zfunctions::SetWallpaper(WideToUtf8(file));
}

void TfrmMain::bbSetNumRemDocumentsClick() {
    Zfunctions::SetMaxRecentDocs(ParseWholeNumber(Text(ControlId::seNumRemDocuments)));
}

void TfrmMain::bbSetTrashNameClick() { Zfunctions::SetRecycleBinName(WideToUtf8(Text(ControlId::leTrashName))); }

void TfrmMain::bbSetTrashTipTextClick() {
    Zfunctions::SetRecycleBinInfoTip(WideToUtf8(Text(ControlId::leTrashTipText)));
}

void TfrmMain::bbSetFolderClick() {
    if (chooser_) chooser_->ShowChooser();
}

void TfrmMain::bbSetPictureClick() {
    const std::wstring file = ChooseExistingFile(kPictureFilter);
    if (!file.empty()) SetText(ControlId::edPicture, file);
}

void TfrmMain::bbSetPictureBackgroundFolderClick() {
    const std::wstring folder = Text(ControlId::edFolder);
    if (folder == kFolderPlaceholder) {
        Application().ModalMessageBox(kChooseFolderText, kChooseFolderCaption, MB_OK | MB_ICONINFORMATION);
        SetFocus(Control(ControlId::bbSetFolder));
        return;
    }
    std::wstring picture = Text(ControlId::edPicture);
    if (picture == kPicturePlaceholder) picture.clear();
    // The writer would take a folder text that is not a full path (the
    // chooser gives the computer's display name, say) as relative to the
    // current folder.
    const bool fullPath = (folder.size() >= 3 && folder[1] == L':' && (folder[2] == L'\\' || folder[2] == L'/')) ||
                          folder.compare(0, 2, L"\\\\") == 0;
    if (!fullPath || !WriteFolderPicture(folder, picture)) {
        Application().ModalMessageBox(kDesktopIniFailedText, kDesktopIniFailedCaption, MB_OK | MB_ICONERROR);
    }
}

void TfrmMain::imgLogoClick() {
    // Opening an address may run a shell extension, which wants COM.
    shell::EnsureCom();
    shell::ShellExecuteW(nullptr, L"open", kWebSiteAddress, L"", L"", SW_SHOWNORMAL);
}

void TfrmMain::bbExitClick() { PostMessageW(Hwnd(), WM_CLOSE, 0, 0); }

void TfrmMain::RunClick(ControlId control) {
    switch (DefOf(control).handler) {
        case HandlerId::None: break;
        case HandlerId::Toggle: ToggleClick(control); break;
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
    const ControlId control = static_cast<ControlId>(index);
    const ControlKind kind = DefOf(control).kind;
    const bool clicked = (kind == ControlKind::Picture && code == STN_CLICKED) ||
                         (kind != ControlKind::Picture && code == BN_CLICKED);
    if (clicked) RunHandler(Application(), [&] { RunClick(control); });
}

bool TfrmMain::OnNotify(const NMHDR& header, LRESULT* result) {
    if (header.code == NM_CUSTOMDRAW && IsSpeedButton(header.hwndFrom)) {
        *result = colours::CustomDrawButton(header);
        return true;
    }
    if (header.hwndFrom == Control(ControlId::PageControl) && header.code == TCN_SELCHANGE) {
        SelectPage(static_cast<int>(SendMessageW(header.hwndFrom, TCM_GETCURSEL, 0, 0)));
        *result = 0;
        return true;
    }
    if (header.hwndFrom == EntryOf(ControlId::seNumRemDocuments).arrows && header.code == UDN_DELTAPOS) {
        const NMUPDOWN& change = reinterpret_cast<const NMUPDOWN&>(header);
        const long long next =
            static_cast<long long>(ParseWholeNumber(Text(ControlId::seNumRemDocuments))) + change.iDelta;
        if (next >= -2147483647LL - 1 && next <= 2147483647LL)
            SetText(ControlId::seNumRemDocuments, std::to_wstring(next));
        *result = 1;  // the arrows keep no position of their own
        return true;
    }
    return false;
}

LRESULT TfrmMain::DefaultButton() const {
    // Enter presses the focused push button or the logo; elsewhere it does
    // nothing (the dialog manager then sends IDOK, which no control has).
    HWND focus = GetFocus();
    const bool pushButton = focus && IsChild(Hwnd(), focus) &&
                            (SendMessageW(focus, WM_GETDLGCODE, 0, 0) & DLGC_UNDEFPUSHBUTTON);
    if (pushButton || (focus && focus == Control(ControlId::imgLogo))) return MAKELONG(GetDlgCtrlID(focus), DC_HASDEFID);
    return 0;
}

LRESULT TfrmMain::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
            return 0;
        case WM_NOTIFY: {
            LRESULT result = 0;
            if (OnNotify(*reinterpret_cast<const NMHDR*>(lParam), &result)) return result;
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
            if (reinterpret_cast<HWND>(wParam) == Control(ControlId::imgLogo)) {
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
        case DM_GETDEFID:
            return DefaultButton();
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
