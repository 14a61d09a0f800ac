// The window's look in other hands: a white-on-black colour scheme, and
// other DPIs, both the system's (Wine's LogPixels, in a child process that
// starts with it) and a monitor's (WM_DPICHANGED).
#include "tests/ui/ui_fixture.h"

#include "form/chooser_layout.h"
#include "form/form_layout.h"
#include "ui/dpi.h"

#include <commctrl.h>
#include <uxtheme.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace kestro::test {
namespace {

// ------------------------------------------------------------ colours

// The system colours, changed for one test and put back after it: the
// colours live in the display session, which the later tests share.
class SchemeOverride {
public:
    explicit SchemeOverride(std::vector<std::pair<int, COLORREF>> colours) {
        for (const auto& colour : colours) {
            indices_.push_back(colour.first);
            saved_.push_back(GetSysColor(colour.first));
            wanted_.push_back(colour.second);
        }
        SetSysColors(static_cast<int>(indices_.size()), indices_.data(), wanted_.data());
    }
    ~SchemeOverride() { SetSysColors(static_cast<int>(indices_.size()), indices_.data(), saved_.data()); }
    SchemeOverride(const SchemeOverride&) = delete;
    SchemeOverride& operator=(const SchemeOverride&) = delete;

private:
    std::vector<int> indices_;
    std::vector<COLORREF> saved_, wanted_;
};

// What Windows XP does when a high-contrast scheme is chosen besides
// setting its colours: visual styles go off (Wine would go on drawing its
// "Light" theme, whatever the colours say). SetWindowTheme with empty names
// turns them off for each control; an empty name again gives it back.
class ThemesOff {
public:
    explicit ThemesOff(HWND window) : window_(window) { EnumChildWindows(window_, Off, 0); }
    ~ThemesOff() {
        if (IsWindow(window_)) EnumChildWindows(window_, On, 0);
    }
    ThemesOff(const ThemesOff&) = delete;
    ThemesOff& operator=(const ThemesOff&) = delete;

private:
    static BOOL CALLBACK Off(HWND window, LPARAM) {
        SetWindowTheme(window, L" ", L" ");
        return TRUE;
    }
    static BOOL CALLBACK On(HWND window, LPARAM) {
        SetWindowTheme(window, nullptr, nullptr);
        return TRUE;
    }
    HWND window_;
};

// White on black, as the high-contrast schemes of Windows have it.
std::vector<std::pair<int, COLORREF>> HighContrastBlack() {
    const COLORREF black = RGB(0, 0, 0), white = RGB(255, 255, 255);
    return {{COLOR_WINDOW, black},      {COLOR_WINDOWTEXT, white}, {COLOR_BTNFACE, black},
            {COLOR_BTNTEXT, white},     {COLOR_3DLIGHT, white},    {COLOR_BTNHIGHLIGHT, white},
            {COLOR_BTNSHADOW, white},   {COLOR_3DDKSHADOW, white}, {COLOR_HIGHLIGHT, RGB(0, 0, 255)},
            {COLOR_HIGHLIGHTTEXT, white}, {COLOR_GRAYTEXT, RGB(0, 255, 0)}, {COLOR_INFOBK, black},
            {COLOR_INFOTEXT, white}};
}

// How much of what a control shows on the screen is dark, and how much
// light.
struct Tones {
    int dark = 0, light = 0, total = 0;
};

Tones TonesOf(HWND control) {
    RECT rc;
    GetClientRect(control, &rc);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = rc.right;
    info.bmiHeader.biHeight = -rc.bottom;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP picture = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    Tones tones;
    if (!picture) return tones;
    HDC memory = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(memory, picture);
    HDC dc = GetDC(control);
    BitBlt(memory, 0, 0, rc.right, rc.bottom, dc, 0, 0, SRCCOPY);
    ReleaseDC(control, dc);
    GdiFlush();
    const auto* pixel = static_cast<const unsigned char*>(bits);
    for (int i = 0; i < rc.right * rc.bottom; ++i, pixel += 4) {
        const int luminance = (299 * pixel[2] + 587 * pixel[1] + 114 * pixel[0]) / 1000;
        if (luminance < 64) ++tones.dark;
        if (luminance > 192) ++tones.light;
        ++tones.total;
    }
    SelectObject(memory, old);
    DeleteDC(memory);
    DeleteObject(picture);
    return tones;
}

class LookTest : public MainWindowTest {
protected:
    // Paints everything that waits to be painted, the control's page shown.
    void ShowPainted(const char* name) {
        HWND control = Control(name);
        const ControlDef* def = FindControlDef(std::string(name).substr(0, std::string(name).find('.')).c_str());
        if (def && def->page != PageId::Window) main_->SelectPage(static_cast<int>(def->page));
        SetWindowPos(main_->Hwnd(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        RedrawWindow(main_->Hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        PumpMessages(100);
        ASSERT_TRUE(IsWindowVisible(control)) << name;
    }
};

// Under a white-on-black scheme chosen while the window is open, every
// text is light on a dark ground: labels, the bold notice, edits, the
// read-only edits, the memo, and toggles up and down.
TEST_F(LookTest, UnderAWhiteOnBlackSchemeEveryTextIsLightOnDark) {
    CreateWindows();
    main_->SetText("leTrashName", L"Корзина класса");
    main_->Toggle("sbDelDoing").SetDown(true);
    for (int page = 3; page >= 0; --page) main_->SelectPage(page);  // every control made
    SchemeOverride scheme(HighContrastBlack());
    ThemesOff themes(main_->Hwnd());
    // What SetSysColors tells every top-level window.
    SendMessageW(main_->Hwnd(), WM_SYSCOLORCHANGE, 0, 0);
    for (const char* name : {"lbInfa", "lbNumRemDocuments", "leTrashName.Label", "leTrashName", "seNumRemDocuments",
                             "edFolder", "mmSystemInfo", "sbDelFind", "sbDelDoing", "sbClearSearch", "bbExit",
                             "sbBanUSB"}) {
        SCOPED_TRACE(name);
        ShowPainted(name);
        const Tones tones = TonesOf(Control(name));
        ASSERT_GT(tones.total, 0);
        EXPECT_GT(tones.dark * 2, tones.total) << "the ground is not dark: " << tones.dark << " dark of "
                                               << tones.total;
        EXPECT_GE(tones.light, 10) << "no light text: " << tones.light << " light pixels of " << tones.total;
    }
}

// The default scheme gives the window its design look back: dark text on
// the white ground.
TEST_F(LookTest, TheDefaultSchemeKeepsDarkTextOnWhite) {
    CreateWindows();
    SchemeOverride scheme({{COLOR_WINDOW, RGB(255, 255, 255)}, {COLOR_WINDOWTEXT, RGB(0, 0, 0)}});
    SendMessageW(main_->Hwnd(), WM_SYSCOLORCHANGE, 0, 0);
    for (const char* name : {"lbInfa", "lbNumRemDocuments", "mmSystemInfo"}) {
        SCOPED_TRACE(name);
        ShowPainted(name);
        const Tones tones = TonesOf(Control(name));
        EXPECT_GT(tones.light * 2, tones.total);
        EXPECT_GE(tones.dark, 10);
    }
}

// ------------------------------------------------------------ DPI

int Scale(int pixels, int dpi) { return dpi::Scale(pixels, dpi); }

RECT PlaceInParent(HWND control) {
    RECT rc;
    GetWindowRect(control, &rc);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rc), 2);
    return rc;
}

LOGFONTW FontOf(HWND control) {
    LOGFONTW font = {};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof font, &font);
    return font;
}

std::wstring CaptionOf(HWND window) {
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

// The width of a text in the control's own font, as GDI measures it.
int TextWidth(HWND control, const std::wstring& text) {
    HDC dc = GetDC(control);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
    SIZE extent = {};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    return extent.cx;
}

// Checks the whole window against the table at `dpi`: its client size,
// every control's place, size and font, and that no caption is cut off.
void ExpectLaidOutAt(TfrmMain& main, int dpi) {
    SCOPED_TRACE("at " + std::to_string(dpi) + " DPI");
    EXPECT_EQ(dpi, main.Dpi());
    RECT client;
    GetClientRect(main.Hwnd(), &client);
    EXPECT_EQ(Scale(kMainClientWidth, dpi), client.right);
    EXPECT_EQ(Scale(kMainClientHeight, dpi), client.bottom);
    const LONG fontHeight = -MulDiv(8, dpi, 72);
    for (std::size_t i = 0; i < kMainControlCount; ++i) {
        const ControlDef& def = kMainControls[i];
        SCOPED_TRACE(def.name);
        HWND control = main.Control(def.name);
        ASSERT_NE(nullptr, control) << "every page is built first";
        const RECT place = PlaceInParent(control);
        EXPECT_EQ(Scale(def.left, dpi), place.left);
        EXPECT_EQ(Scale(def.top, dpi), place.top);
        const int width = place.right - place.left, height = place.bottom - place.top;
        if (def.kind == ControlKind::SpinEdit) {
            const RECT arrows = PlaceInParent(main.Control(std::string(def.name) + ".Arrows"));
            EXPECT_EQ(place.right, arrows.left);
            EXPECT_EQ(Scale(def.left + def.width, dpi), arrows.right);
            EXPECT_EQ(Scale(def.height, dpi), height);
        } else if (def.kind == ControlKind::Picture || def.width > 0) {
            // A picture's bitmap is scaled with it.
            EXPECT_EQ(Scale(def.width, dpi), width);
            EXPECT_EQ(Scale(def.height, dpi), height);
        }
        if (def.kind != ControlKind::Picture) {
            EXPECT_EQ(fontHeight, FontOf(control).lfHeight);
        }

        // No caption is cut off: the text in the control's own font, and
        // a glyph beside it, within the control's client width.
        RECT inside;
        GetClientRect(control, &inside);
        const std::wstring text = CaptionOf(control);
        if (def.kind == ControlKind::Toggle || def.kind == ControlKind::SpringButton ||
            def.kind == ControlKind::PushButton) {
            int needed = TextWidth(control, text) + 2 * GetSystemMetrics(SM_CXEDGE) + 2;
            if (def.glyph) needed += Scale(16, dpi) + Scale(4, dpi);
            EXPECT_LE(needed, inside.right) << "caption cut off";
        } else if (def.kind == ControlKind::Label || def.kind == ControlKind::BoldLabel) {
            EXPECT_LE(TextWidth(control, text), inside.right) << "caption cut off";
            RECT parent;
            GetClientRect(GetParent(control), &parent);
            EXPECT_LE(place.right, parent.right) << "label runs out of its page";
        } else if (def.kind == ControlKind::LabeledEdit) {
            HWND label = main.Control(std::string(def.name) + ".Label");
            RECT labelInside;
            GetClientRect(label, &labelInside);
            EXPECT_LE(TextWidth(label, CaptionOf(label)), labelInside.right) << "label cut off";
            EXPECT_LT(PlaceInParent(label).bottom, place.top);
            EXPECT_EQ(fontHeight, FontOf(label).lfHeight);
        }
    }
    // The tabs, sized by the tab control to their captions, all in sight.
    HWND tab = main.Control("PageControl");
    RECT last = {}, tabClient;
    ASSERT_TRUE(SendMessageW(tab, TCM_GETITEMRECT, 3, reinterpret_cast<LPARAM>(&last)));
    GetClientRect(tab, &tabClient);
    EXPECT_LE(last.right, tabClient.right);
}

// A screen large enough for the window at 144 DPI, for one test, when the
// display (Wine's virtual desktop here) is smaller: Windows, and Wine, keep
// a window no larger than the screen.
class ScreenAtLeast {
public:
    ScreenAtLeast(DWORD width, DWORD height) {
        if (GetSystemMetrics(SM_CXSCREEN) >= static_cast<int>(width) &&
            GetSystemMetrics(SM_CYSCREEN) >= static_cast<int>(height))
            return;
        DEVMODEW mode = {};
        mode.dmSize = sizeof mode;
        for (DWORD i = 0; !changed_ && EnumDisplaySettingsW(nullptr, i, &mode); ++i) {
            if (mode.dmPelsWidth < width || mode.dmPelsHeight < height) continue;
            DEVMODEW wanted = {};
            wanted.dmSize = sizeof wanted;
            wanted.dmPelsWidth = mode.dmPelsWidth;
            wanted.dmPelsHeight = mode.dmPelsHeight;
            wanted.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
            changed_ = ChangeDisplaySettingsExW(nullptr, &wanted, nullptr, 0, nullptr) == DISP_CHANGE_SUCCESSFUL;
        }
    }
    ~ScreenAtLeast() {
        if (changed_) ChangeDisplaySettingsExW(nullptr, nullptr, nullptr, 0, nullptr);  // back to the stored mode
    }
    ScreenAtLeast(const ScreenAtLeast&) = delete;
    ScreenAtLeast& operator=(const ScreenAtLeast&) = delete;

private:
    bool changed_ = false;
};

void BuildEveryPage(TfrmMain& main) {
    for (int page = 3; page >= 0; --page) main.SelectPage(page);
}

TEST_F(LookTest, TheTextFaceIsTrueTypeWithCyrillic) {
    CreateWindows();
    for (const char* name : {"bbExit", "lbInfa", "PageControl", "sbDelFind"}) {
        SCOPED_TRACE(name);
        HWND control = Control(name);
        HDC dc = GetDC(control);
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
        TEXTMETRICW metrics = {};
        GetTextMetricsW(dc, &metrics);
        WORD glyphs[4] = {};
        GetGlyphIndicesW(dc, L"ЖЯжя", 4, glyphs, GGI_MARK_NONEXISTING_GLYPHS);
        SelectObject(dc, old);
        ReleaseDC(control, dc);
        EXPECT_TRUE(metrics.tmPitchAndFamily & TMPF_TRUETYPE) << "a bitmap font does not scale";
        for (WORD glyph : glyphs) EXPECT_NE(0xFFFF, glyph) << "no Cyrillic letter";
    }
}

// A window moved to a monitor of another DPI (WM_DPICHANGED, Windows 8.1
// and later) lays itself out anew at that DPI, and back.
TEST_F(LookTest, AMonitorOfAnotherDpiScalesTheWindowAndItsControls) {
    ScreenAtLeast screen(1024, 1000);
    CreateWindows();
    BuildEveryPage(*main_);
    const int start = main_->Dpi();
    for (int dpi : {120, 144, start}) {
        RECT suggested = {0, 0, Scale(kMainClientWidth, dpi), Scale(kMainClientHeight, dpi)};
        AdjustWindowRectEx(&suggested, GetWindowLongW(main_->Hwnd(), GWL_STYLE), FALSE,
                           GetWindowLongW(main_->Hwnd(), GWL_EXSTYLE));
        OffsetRect(&suggested, 10 - suggested.left, 10 - suggested.top);
        SendMessageW(main_->Hwnd(), 0x02E0, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
        RECT window;
        GetWindowRect(main_->Hwnd(), &window);
        EXPECT_EQ(suggested.left, window.left);
        EXPECT_EQ(suggested.top, window.top);
        ExpectLaidOutAt(*main_, dpi);
    }
    EXPECT_TRUE(errors_.errors.empty());
}

// Wine keeps the system's DPI here, and reads it when a process starts.
constexpr wchar_t kDpiKey[] = L"Control Panel\\Desktop";

// LogPixels set for one test, and put back (to 96 when it was not set).
class LogPixelsOverride {
public:
    explicit LogPixelsOverride(DWORD dpi) {
        RegCreateKeyExW(HKEY_CURRENT_USER, kDpiKey, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key_,
                        nullptr);
        DWORD size = sizeof saved_, type = 0;
        had_ = RegQueryValueExW(key_, L"LogPixels", nullptr, &type, reinterpret_cast<BYTE*>(&saved_), &size) ==
                   ERROR_SUCCESS &&
               type == REG_DWORD;
        RegSetValueExW(key_, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi);
    }
    ~LogPixelsOverride() {
        if (had_)
            RegSetValueExW(key_, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&saved_), sizeof saved_);
        else
            RegDeleteValueW(key_, L"LogPixels");
        RegCloseKey(key_);
    }
    LogPixelsOverride(const LogPixelsOverride&) = delete;
    LogPixelsOverride& operator=(const LogPixelsOverride&) = delete;

private:
    HKEY key_ = nullptr;
    DWORD saved_ = 96;
    bool had_ = false;
};

// Runs one test of this program in a process of its own; its exit code.
// Both children end well within the test's time limit, so that LogPixels
// is always put back.
DWORD RunChildTest(const std::wstring& filter, const std::wstring& dpi) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) + L"\" --gtest_also_run_disabled_tests --gtest_filter=" + filter;
    SetEnvironmentVariableW(L"KESTRO_CHILD_DPI", dpi.c_str());
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    const BOOL started = CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                        &process);
    SetEnvironmentVariableW(L"KESTRO_CHILD_DPI", nullptr);
    if (!started) return 1000;
    DWORD code = 1001;
    if (WaitForSingleObject(process.hProcess, 25000) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &code);
    else TerminateProcess(process.hProcess, 1002);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

// Windows XP's "large fonts" (120) and 150 % (144): the window starts at
// the system's DPI, 1.25 and 1.5 times as large, with nothing cut off.
TEST_F(LookTest, AtTheSystemsDpiTheWindowStartsScaled) {
    for (DWORD dpi : {120u, 144u}) {
        SCOPED_TRACE(dpi);
        LogPixelsOverride logPixels(dpi);
        EXPECT_EQ(0u, RunChildTest(L"LookTest.DISABLED_StartsAtTheSystemsDpi", std::to_wstring(dpi)));
    }
}

// Run by the test above, in a process that started at that DPI.
TEST_F(LookTest, DISABLED_StartsAtTheSystemsDpi) {
    const char* wanted = std::getenv("KESTRO_CHILD_DPI");
    ASSERT_NE(nullptr, wanted) << "run by AtTheSystemsDpiTheWindowStartsScaled";
    const int dpi = std::atoi(wanted);
    ASSERT_EQ(dpi, dpi::OfSystem()) << "Wine did not take LogPixels";
    ScreenAtLeast screen(1024, 1000);
    CreateWindows();
    BuildEveryPage(*main_);
    ExpectLaidOutAt(*main_, dpi);
    // The folder chooser grows with the main window.
    RECT chooser;
    GetClientRect(chooser_->Hwnd(), &chooser);
    EXPECT_EQ(Scale(kChooserClientWidth, dpi), chooser.right);
    EXPECT_EQ(Scale(kChooserClientHeight, dpi), chooser.bottom);
    // Inside the work area, or at its corner when larger.
    RECT window;
    GetWindowRect(main_->Hwnd(), &window);
    const RECT work = dpi::WorkAreaAt(POINT{window.left, window.top});
    EXPECT_GE(window.left, work.left);
    EXPECT_GE(window.top, work.top);
    if (window.right - window.left <= work.right - work.left) {
        EXPECT_LE(window.right, work.right);
    }
    if (window.bottom - window.top <= work.bottom - work.top) {
        EXPECT_LE(window.bottom, work.bottom);
    }
}

}  // namespace
}  // namespace kestro::test
