// The main window as the program sees it: its controls by id or by name,
// their texts, kept until a control is made, the page shown, and what the
// start-up reads back into the controls.
#include "ui/uMain.h"

#include "core/text.h"
#include "form/window_texts.h"
#include "settings/windows_version.h"
#include "ui/application.h"
#include "ui/policy_prompt.h"
#include "ui/uChkDir.h"

#include <cstring>
#include <stdexcept>

namespace kestro {

ControlId TfrmMain::IdOf(const char* name) {
    ControlId id;
    if (!FindControlId(name, &id)) throw std::logic_error(std::string("No control named ") + name);
    return id;
}

HWND TfrmMain::Control(const std::string& name) const {
    ControlId id;
    if (FindControlId(name.c_str(), &id)) return Control(id);
    for (int i = 0; i < kMainPageCount; ++i)
        if (name == kMainPages[i].name) return pages_[i];
    // "<name>.<part>": a part that a row's control is made with.
    const std::size_t dot = name.find('.');
    if (dot == std::string::npos || !FindControlId(name.substr(0, dot).c_str(), &id)) return nullptr;
    const Entry& entry = EntryOf(id);
    const std::string part = name.substr(dot + 1);
    if (part == "Label") return entry.label;
    if (part == "Arrows") return entry.arrows;
    if (part == "Name") return entry.nameLabel;
    return nullptr;
}

namespace {

std::wstring Replaced(std::wstring text, const wchar_t* place, const std::wstring& by) {
    const std::size_t at = text.find(place);
    if (at != std::wstring::npos) text.replace(at, std::wcslen(place), by);
    return text;
}

}  // namespace

// A toggle flipped on a Windows that does not read its setting changes
// nothing there, and the folder background is written but not shown since
// Vista: the tooltip says so, on that Windows only.
std::wstring TfrmMain::TooltipOf(const ControlDef& def, const Setting* row) {
    std::wstring tooltip = def.tooltip ? def.tooltip : L"";
    const bool folderBackground = std::strcmp(def.name, "bbSetPictureBackgroundFolder") == 0;
    if (!row && !folderBackground) return tooltip;
    if (!versionAsked_) {
        versionKnown_ = RunningWindowsVersion(&version_);
        versionAsked_ = true;
    }
    if (!versionKnown_) return tooltip;
    std::wstring note;
    if (row && !HonouredBy(*row).Includes(version_))
        note = Replaced(Replaced(kIgnoredSettingNote, L"%1", Utf8ToWide(WindowsVersionName(version_))), L"%2",
                        Utf8ToWide(WindowsRangeText(HonouredBy(*row))));
    else if (folderBackground && version_ >= WindowsVersion::Vista)
        note = kFolderBackgroundNote;
    if (note.empty()) return tooltip;
    return tooltip.empty() ? note : tooltip + L"\r\n" + note;
}

void TfrmMain::ConnectChooser(TfrmChkDir* chooser) {
    chooser_ = chooser;
    if (chooser) chooser->OnFolderChosen([this](const std::wstring& folder) { SetText(ControlId::edFolder, folder); });
}

void TfrmMain::SelectPage(int index) {
    BuildPage(index);
    HWND focus = GetFocus();
    bool focusOnHiddenPage = false;
    for (int i = 0; i < kMainPageCount; ++i)
        if (i != index && focus && IsChild(pages_[i], focus)) focusOnHiddenPage = true;
    SendMessageW(Control(ControlId::PageControl), TCM_SETCURSEL, index, 0);
    for (int i = 0; i < kMainPageCount; ++i) ShowWindow(pages_[i], i == index ? SW_SHOW : SW_HIDE);
    if (focusOnHiddenPage) {
        const std::vector<HWND> order = TabOrder();
        // The page's first control follows the tab strip; a page with none
        // leaves the focus on the strip.
        SetFocus(order.size() > 1 && IsChild(pages_[index], order[1]) ? order[1] : Control(ControlId::PageControl));
    }
}

int TfrmMain::CurrentPage() const {
    return static_cast<int>(SendMessageW(Control(ControlId::PageControl), TCM_GETCURSEL, 0, 0));
}

std::wstring TfrmMain::Text(ControlId control) const {
    const Entry& entry = EntryOf(control);
    if (!entry.hwnd) {
        // Not made yet: what was set, or what it will be made with.
        if (entry.hasText) return entry.text;
        return entry.def->caption && entry.def->kind != ControlKind::LabeledEdit ? entry.def->caption : L"";
    }
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(entry.hwnd)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(entry.hwnd, &text[0], static_cast<int>(text.size()))));
    return text;
}

void TfrmMain::SetText(ControlId control, const std::wstring& text) {
    Entry& entry = EntryOf(control);
    if (entry.hwnd) {
        SetWindowTextW(entry.hwnd, text.c_str());
        return;
    }
    entry.hasText = true;
    entry.text = text;
}

// ---------------------------------------------------------------- IMainFormView

IToggle& TfrmMain::Toggle(const char* control) {
    ControlId id;
    if (FindControlId(control, &id) && EntryOf(id).toggle) return *EntryOf(id).toggle;
    throw std::logic_error(std::string("No toggle named ") + control);
}

void TfrmMain::SetRecentDocsCount(std::int32_t count) { SetText(ControlId::seNumRemDocuments, std::to_wstring(count)); }

void TfrmMain::SetSettingSource(const char* control, unsigned sources) {
    settingSources_[control] = sources;
    // A control of a page not yet built gets its tooltip when it is made.
    ControlId id;
    if (!FindControlId(control, &id)) return;
    const Entry& entry = EntryOf(id);
    if (!entry.hwnd || !entry.def->tooltip) return;
    const std::wstring text = TooltipWithSource(TooltipOf(*entry.def, FindSettingByControl(control)).c_str(), sources);
    TOOLINFOW info = {};
    info.cbSize = TTTOOLINFOW_V2_SIZE;
    info.hwnd = GetParent(entry.hwnd);
    info.uId = reinterpret_cast<UINT_PTR>(entry.hwnd);
    info.lpszText = const_cast<wchar_t*>(text.c_str());
    SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&info));
}

void TfrmMain::SetApplicationTitle(const std::wstring& title) { Application().SetTitle(title); }

void TfrmMain::ClearSystemInfo() { SetText(ControlId::mmSystemInfo, L""); }

void TfrmMain::AppendSystemInfoLine(const std::wstring& line) {
    std::wstring text = Text(ControlId::mmSystemInfo);
    if (!text.empty()) text += L"\r\n";
    SetText(ControlId::mmSystemInfo, text + line);
}

void TfrmMain::SetNoticeCaption(const std::wstring& caption) {
    HWND label = Control(ControlId::lbInfa);
    SetWindowTextW(label, caption.c_str());
    FitLabel(label);
}

}  // namespace kestro
