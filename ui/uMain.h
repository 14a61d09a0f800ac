// The main window: its controls, built from the control table, the
// start-up read-back into them, and their click handlers. One class over
// several files: uMain.cpp the click handlers and the window's messages,
// main_build.cpp the making of the window and its controls,
// main_keyboard.cpp the keyboard and the focus, main_view.cpp the controls'
// texts and states, main_dpi.cpp the layout at the monitor's DPI.
#pragma once

#include "form/form_layout.h"
#include "settings/catalogue.h"
#include "ui/application.h"
#include "ui/speed_button.h"
#include "ui/startup.h"
#include "ui/window.h"

#include <commctrl.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kestro {

class TfrmChkDir;

class TfrmMain : public Window, public IMainFormView, public IKeyPreview {
public:
    TfrmMain();
    ~TfrmMain() override;

    // Creates the window and its controls and runs FormCreate; the window
    // stays hidden until the application shows it.
    bool Create(HINSTANCE instance, HWND owner);

    // A control of the table; null until its page has first been shown:
    // the first page's controls are made with the window, those of the
    // others when their page first appears, with the states and texts set
    // before.
    HWND Control(ControlId id) const { return entries_[IndexOf(id)].hwnd; }
    // The same by its name, for those outside that speak of controls by
    // name (a labelled edit's label is "<name>.Label", a spin edit's
    // arrows "<name>.Arrows", the hidden label that names a control
    // "<name>.Name", a page by its row's name); null if none.
    HWND Control(const std::string& name) const;
    HWND Page(PageId page) const { return pages_[static_cast<int>(page)]; }
    bool PageBuilt(PageId page) const { return built_[static_cast<int>(page)]; }
    HWND Tooltip() const { return tooltip_; }
    // The DPI the window is laid out for: its monitor's.
    int Dpi() const { return dpi_; }
    // Lays the window out anew for `dpi`: fonts, places, glyphs and
    // pictures; the window takes the suggested rectangle when there is one
    // (WM_DPICHANGED gives it), else its size grows or shrinks in place.
    void ApplyDpi(int dpi, const RECT* suggested);
    // Shows the page; when the focus was on the page it hides, it goes to
    // the first control of the new one.
    void SelectPage(int index);
    int CurrentPage() const;

    // The keys the window takes before the dialog manager: Tab and
    // Shift+Tab in the tab order (the tab strip, the page shown, then the
    // window's other controls), Ctrl+Tab, Ctrl+Shift+Tab, Ctrl+PageDown and
    // Ctrl+PageUp from anywhere, the arrows on the tab strip, Space on the
    // logo.
    bool PreviewKey(const MSG& msg) override;
    // The controls that Tab visits, in order, on the page shown.
    std::vector<HWND> TabOrder() const;
    // The folder chooser that "bbSetFolder" shows; the folder it gives back
    // goes into "edFolder". Without one the button does nothing.
    void ConnectChooser(TfrmChkDir* chooser);

    // IMainFormView
    IToggle& Toggle(const char* control) override;
    void SetRecentDocsCount(std::int32_t count) override;
    // The control's tooltip says where its state comes from (ui/policy_prompt.h).
    void SetSettingSource(const char* control, unsigned sources) override;
    void SetApplicationTitle(const std::wstring& title) override;
    void ClearSystemInfo() override;
    void AppendSystemInfoLine(const std::wstring& line) override;
    void SetNoticeCaption(const std::wstring& caption) override;

    // Click handlers.
    void ToggleClick(ControlId control);  // every toggle: its catalogue row's writer, the one place
    void sbClearSearchClick();
    void sbSetWallpaperClick();
    void bbSetNumRemDocumentsClick();
    void bbSetTrashNameClick();
    void bbSetTrashTipTextClick();
    void bbSetFolderClick();
    void bbSetPictureClick();
    void bbSetPictureBackgroundFolderClick();
    void imgLogoClick();
    void bbExitClick();

    // A control's text; before the control is made, what it will be made
    // with.
    std::wstring Text(ControlId control) const;
    void SetText(ControlId control, const std::wstring& text);
    std::wstring Text(const char* control) const { return Text(IdOf(control)); }
    void SetText(const char* control, const std::wstring& text) { SetText(IdOf(control), text); }

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    // Ids of the controls' command messages: the row's index, this far on.
    static constexpr int kFirstControlId = 1000;

    struct Entry {
        const ControlDef* def;
        HWND hwnd;  // null until the control's page is built
        std::unique_ptr<ToggleButton> toggle;
        // Text set while the control did not exist yet.
        bool hasText = false;
        std::wstring text;
        HWND label = nullptr;      // a labelled edit's label
        HWND arrows = nullptr;     // a spin edit's arrows
        HWND nameLabel = nullptr;  // the hidden label that names it
    };

    // The row of this name; a name that is no row's is a fault of the caller.
    static ControlId IdOf(const char* name);
    Entry& EntryOf(ControlId id) { return entries_[IndexOf(id)]; }
    const Entry& EntryOf(ControlId id) const { return entries_[IndexOf(id)]; }
    void RegisterPageClass();

    void BuildControls();
    void BuildPages();
    // Makes a page's controls, once, before it is first shown.
    void BuildPage(int index);
    struct Site;
    HWND CreateControl(const ControlDef& def, int index);
    HWND BuildControl(const Site& site);
    HFONT FontOf(ControlKind kind) const;
    void MakeFonts();
    int Scaled(int pixels) const;
    // Where a row's control goes at the window's DPI, in its parent's
    // client pixels; a spin edit's arrows take the right end of its width.
    struct Placed {
        int left, top, width, height, arrowsWidth;
    };
    Placed PlaceOf(const ControlDef& def) const;
    // Moves a made control (and its label or arrows) to its place.
    void PlaceControl(const Entry& entry);
    void PlaceLabelAbove(HWND label, const Placed& edit);
    // The pages cover the tab control's display area.
    void PlacePages();
    // The window's size at its DPI, at `at` moved into its monitor's work area.
    void PlaceWindow(POINT at);
    // A child window of the row's place and height; by default with the
    // row's caption and width.
    HWND MakeChild(const Site& site, DWORD exStyle, const wchar_t* cls, DWORD style, const wchar_t* caption, int width);
    HWND MakeChild(const Site& site, DWORD exStyle, const wchar_t* cls, DWORD style);
    HWND MakeLabel(const Site& site);
    HWND MakeSpeedButton(const Site& site, DWORD style);
    HWND MakeSpinEdit(const Site& site);  // the edit; its arrows are "<name>.Arrows"
    HWND MakeLabeledEdit(const Site& site);  // the edit; its label is "<name>.Label"
    // Loads the picture and keeps it for the window's life.
    HBITMAP LoadPicture(PictureId picture);
    void AddTooltip(HWND control, const wchar_t* text);
    // The control's tooltip, with a line for what this Windows does not do
    // of it (main_view.cpp); empty for none.
    std::wstring TooltipOf(const ControlDef& def, const Setting* row);
    void SetGlyph(HWND button, const char* glyph);
    HWND ParentOf(const ControlDef& def) const;
    void OnCommand(int id, int code, HWND control);
    // WM_NOTIFY: the speed buttons' colours, the tab strip, the spin arrows.
    bool OnNotify(const NMHDR& header, LRESULT* result);
    // DM_GETDEFID: the button that Enter presses, if any.
    LRESULT DefaultButton() const;
    // Moves the focus as the keyboard does, and shows the focus cues.
    void FocusByKeyboard(HWND control);
    void MoveFocus(bool backwards);
    void OnActivate(WPARAM wParam);
    void RestoreFocus();
    // The focus cues of a page made after the window had its own.
    void InheritUiState(HWND page);
    // Once the keyboard is used, the cues show until the window goes.
    void ShowFocusCues();
    // At creation: the cues as the system's setting asks.
    void InitFocusCues();
    // Asked once, when the first control of the machine's is made.
    bool Unelevated();
    void RunClick(ControlId control);
    // Shows the shared open-file dialog with this filter; the chosen full
    // path, or empty when cancelled or when no such file exists.
    std::wstring ChooseExistingFile(const wchar_t* filter);

    HINSTANCE instance_ = nullptr;
    std::vector<Entry> entries_;
    HWND pages_[kMainPageCount] = {};
    bool built_[kMainPageCount] = {};
    HWND tooltip_ = nullptr;
    static constexpr int kTipWidth = 600;  // a tooltip's widest line at 96 DPI
    int dpi_ = 96;
    GdiObject<HFONT> font_, boldFont_, tabFont_;
    GdiObject<HBITMAP> logo_, help_;
    std::map<std::string, HIMAGELIST> imageLists_;  // by glyph name
    std::map<std::string, unsigned> settingSources_;  // controls whose state is not the user's own value
    // The shared open-file dialog's state: what its last use left in it.
    wchar_t dialogFile_[MAX_PATH] = {};
    TfrmChkDir* chooser_ = nullptr;
    HWND lastFocus_ = nullptr;  // where the focus returns when the window is active again
    bool focusCues_ = true;
    bool elevationKnown_ = false, unelevated_ = false;
    // The running Windows as the catalogue's ranges name it, asked once.
    bool versionAsked_ = false, versionKnown_ = false;
    WindowsVersion version_ = WindowsVersion::XP;     // what the controls were last told (this Wine keeps no word of it)
};

}  // namespace kestro
