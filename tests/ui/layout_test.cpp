// The main window as it is built: every control of the table in its place
// with its caption and tooltip, and the window's own frame.
#include "tests/ui/ui_fixture.h"

#include "form/form_layout.h"

#include <commctrl.h>

namespace kestro::test {
namespace {

using LayoutTest = MainWindowTest;

TEST_F(LayoutTest, WindowHasItsCaptionClientSizeAndFrame) {
    CreateWindows();
    EXPECT_EQ(std::wstring(kMainCaption), TextOf(main_->Hwnd()));
    EXPECT_EQ(L"Kestro", TextOf(Application().Hwnd()));
    RECT rc;
    GetClientRect(main_->Hwnd(), &rc);
    EXPECT_EQ(521, rc.right);
    EXPECT_EQ(586, rc.bottom);
    const LONG style = GetWindowLongW(main_->Hwnd(), GWL_STYLE);
    EXPECT_FALSE(style & WS_THICKFRAME) << "resizable";
    EXPECT_FALSE(style & WS_MAXIMIZEBOX) << "maximisable";
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_EQ(Application().Hwnd(), GetWindow(main_->Hwnd(), GW_OWNER));
}

}  // namespace
}  // namespace kestro::test

namespace kestro::test {
namespace {

RECT PlaceInParent(HWND control) {
    RECT rc;
    GetWindowRect(control, &rc);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rc), 2);
    return rc;
}

TEST_F(LayoutTest, EveryControlOfTheTableIsInItsPlaceWithItsTexts) {
    CreateWindows();
    for (std::size_t i = 0; i < kMainControlCount; ++i) {
        const ControlDef& def = kMainControls[i];
        SCOPED_TRACE(def.name);
        HWND control = Control(def.name);
        ASSERT_NE(nullptr, control);
        HWND expectedParent = def.page == PageId::Window ? main_->Hwnd() : main_->Page(def.page);
        EXPECT_EQ(expectedParent, GetParent(control));
        RECT rc = PlaceInParent(control);
        EXPECT_EQ(def.left, rc.left);
        EXPECT_EQ(def.top, rc.top);
        if (def.kind == ControlKind::SpinEdit) {
            // The arrows take their width from the edit: together they span it.
            RECT arrows = PlaceInParent(main_->Control(std::string(def.name) + ".Arrows"));
            EXPECT_EQ(rc.right, arrows.left);
            EXPECT_EQ(def.left + def.width, arrows.right);
            EXPECT_EQ(def.height, rc.bottom - rc.top);
            EXPECT_EQ(def.height, arrows.bottom - arrows.top);
        } else if (def.width > 0) {
            EXPECT_EQ(def.width, rc.right - rc.left);
            EXPECT_EQ(def.height, rc.bottom - rc.top);
        } else {
            EXPECT_GT(rc.right - rc.left, 0);  // sized to its text
        }
        if (def.kind == ControlKind::LabeledEdit) {
            HWND label = main_->Control(std::string(def.name) + ".Label");
            EXPECT_EQ(std::wstring(def.caption), TextOf(label));
            EXPECT_LT(PlaceInParent(label).bottom, rc.top);  // above the edit
            EXPECT_EQ(L"", TextOf(control));
        } else if (def.caption && def.kind != ControlKind::Memo && std::string(def.name) != "lbInfa" &&
                   def.kind != ControlKind::SpinEdit) {
            EXPECT_EQ(std::wstring(def.caption), TextOf(control));
        }
        // Its own text, and after it, on a Windows that does not do what
        // the control does, a line saying so (windows_note_test.cpp).
        const std::wstring tooltip = TooltipOf(main_->Tooltip(), control);
        EXPECT_EQ(def.tooltip ? std::wstring(def.tooltip) : std::wstring(),
                  def.tooltip ? tooltip.substr(0, tooltip.find(L"\r\n")) : std::wstring());
        if (!def.tooltip && std::string(def.name) != "bbSetPictureBackgroundFolder") {
            EXPECT_EQ(L"", tooltip);
        }

        const LONG style = GetWindowLongW(control, GWL_STYLE);
        if (def.kind == ControlKind::Toggle || def.kind == ControlKind::SpringButton) {
            EXPECT_TRUE(style & WS_TABSTOP) << "a speed button is reached by the keyboard";
            EXPECT_TRUE(style & BS_PUSHLIKE || def.kind == ControlKind::SpringButton);
        }
        if (def.kind == ControlKind::PushButton || def.kind == ControlKind::ReadOnlyEdit) {
            EXPECT_TRUE(style & WS_TABSTOP);
        }
    }
}

TEST_F(LayoutTest, PicturesAreSizedToTheirBitmapsAndTheLogoNamesTheSite) {
    CreateWindows();
    RECT logo = PlaceInParent(Control("imgLogo"));
    EXPECT_EQ(500, logo.right - logo.left);
    EXPECT_EQ(90, logo.bottom - logo.top);
    EXPECT_NE(0, SendMessageW(Control("imgLogo"), STM_GETIMAGE, IMAGE_BITMAP, 0));
    RECT help = PlaceInParent(Control("imgHelp"));
    EXPECT_EQ(40, help.right - help.left);
    EXPECT_EQ(35, help.bottom - help.top);
    EXPECT_EQ(std::wstring(L"перейти на сайт ") + kWebSiteAddress, TooltipOf(main_->Tooltip(), Control("imgLogo")));
}

// The mouse resting on a control brings up its tooltip: over a toggle,
// which passes its mouse messages on itself, and over the exit button,
// which the tooltip watches through its own subclass.
TEST_F(LayoutTest, TheMouseRestingOnAControlShowsItsTooltip) {
    CreateWindows();
    HWND tooltip = main_->Tooltip();
    for (const char* name : {"sbBanRegEdit", "bbExit"}) {
        SCOPED_TRACE(name);
        HWND control = Control(name);
        SendMessageW(tooltip, TTM_POP, 0, 0);
        RECT rc;
        GetClientRect(control, &rc);
        POINT centre = {rc.right / 2, rc.bottom / 2};
        ClientToScreen(control, &centre);
        ASSERT_TRUE(SetCursorPos(centre.x, centre.y));
        ASSERT_EQ(control, WindowFromPoint(centre));
        // What the system sends when the mouse moves onto the control; again
        // now and then, in case the display had not yet moved the pointer
        // when the tooltip looked where it is.
        for (int i = 0; i < 100 && !IsWindowVisible(tooltip); ++i) {
            if (i % 25 == 0) SendMessageW(control, WM_MOUSEMOVE, 0, MAKELPARAM(rc.right / 2, rc.bottom / 2));
            PumpMessages(30);
        }
        POINT cursor = {};
        GetCursorPos(&cursor);
        ASSERT_TRUE(IsWindowVisible(tooltip)) << "cursor at " << cursor.x << "," << cursor.y << ", centre at "
                                              << centre.x << "," << centre.y << ", foreground "
                                              << (GetForegroundWindow() == main_->Hwnd());
        TOOLINFOW info = {};
        info.cbSize = TTTOOLINFOW_V2_SIZE;
        ASSERT_TRUE(SendMessageW(tooltip, TTM_GETCURRENTTOOLW, 0, reinterpret_cast<LPARAM>(&info)));
        EXPECT_EQ(reinterpret_cast<UINT_PTR>(control), info.uId);
        const ControlDef* def = nullptr;
        for (std::size_t i = 0; i < kMainControlCount; ++i)
            if (std::string(kMainControls[i].name) == name) def = &kMainControls[i];
        ASSERT_NE(nullptr, def);
        EXPECT_EQ(std::wstring(def->tooltip), TooltipOf(tooltip, control));
    }
    SendMessageW(tooltip, TTM_POP, 0, 0);
}

TEST_F(LayoutTest, FontsOfTheWindowAndOfTheTabs) {
    CreateWindows();
    LOGFONTW font = {};
    // 8 points, in one TrueType face (LookTest checks it).
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(Control("bbExit"), WM_GETFONT, 0, 0)), sizeof font, &font);
    const std::wstring face = font.lfFaceName;
    EXPECT_EQ(-MulDiv(8, main_->Dpi(), 72), font.lfHeight);
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(Control("lbInfa"), WM_GETFONT, 0, 0)), sizeof font, &font);
    EXPECT_EQ(FW_BOLD, font.lfWeight);
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(Control("PageControl"), WM_GETFONT, 0, 0)), sizeof font, &font);
    EXPECT_EQ(face, font.lfFaceName);
    EXPECT_EQ(-MulDiv(8, main_->Dpi(), 72), font.lfHeight);
    EXPECT_EQ(RUSSIAN_CHARSET, font.lfCharSet);
    const LONG tabStyle = GetWindowLongW(Control("PageControl"), GWL_STYLE);
    EXPECT_TRUE(tabStyle & TCS_BUTTONS);
    EXPECT_TRUE(tabStyle & TCS_FLATBUTTONS);
}

TEST_F(LayoutTest, TheFourPagesWithTheFirstShown) {
    CreateWindows();
    HWND tab = Control("PageControl");
    ASSERT_EQ(4, SendMessageW(tab, TCM_GETITEMCOUNT, 0, 0));
    const wchar_t* captions[4] = {L"Основные настройки", L"Дополнительно", L"Системная информация",
                                  L"Блокировка устройств"};
    for (int i = 0; i < 4; ++i) {
        wchar_t text[64] = {};
        TCITEMW item = {};
        item.mask = TCIF_TEXT;
        item.pszText = text;
        item.cchTextMax = 64;
        SendMessageW(tab, TCM_GETITEMW, i, reinterpret_cast<LPARAM>(&item));
        EXPECT_STREQ(captions[i], text);
        EXPECT_EQ(i == 0, IsWindowVisible(main_->Page(static_cast<PageId>(i))) != FALSE) << i;
    }
    main_->SelectPage(3);
    EXPECT_TRUE(IsWindowVisible(Control("sbBanUSB")));
    EXPECT_FALSE(IsWindowVisible(Control("sbDelFind")));
}

TEST_F(LayoutTest, TabOrderOfTheSecondPage) {
    CreateWindows();
    main_->SelectPage(1);
    // Row by row, as the page reads: each "..." button after its edit.
    const char* order[] = {"seNumRemDocuments", "bbSetNumRemDocuments", "leTrashName", "bbSetTrashName",
                           "leTrashTipText", "bbSetTrashTipText", "edFolder", "bbSetFolder", "edPicture",
                           "bbSetPicture", "bbSetPictureBackgroundFolder"};
    std::vector<HWND> stops;
    for (HWND child = GetWindow(main_->Page(PageId::Ts2), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (GetWindowLongW(child, GWL_STYLE) & WS_TABSTOP) stops.push_back(child);
    ASSERT_EQ(sizeof order / sizeof order[0], stops.size());
    for (std::size_t i = 0; i < stops.size(); ++i) EXPECT_EQ(Control(order[i]), stops[i]) << order[i];
}

TEST_F(LayoutTest, TogglesFlipOnEachClickWithoutTakingTheFocusAndSpringButtonsSpringBack) {
    CreateWindows();
    main_->SelectPage(0);
    SetFocus(Control("bbExit"));
    const bool before = IsDown("sbDelFind");
    Click("sbDelFind");
    EXPECT_NE(before, IsDown("sbDelFind"));
    Click("sbDelFind");
    EXPECT_EQ(before, IsDown("sbDelFind"));
    EXPECT_EQ(Control("bbExit"), GetFocus());
    // BM_CLICK, as accessibility tools send it, flips it too.
    SendMessageW(Control("sbDelFind"), BM_CLICK, 0, 0);
    EXPECT_NE(before, IsDown("sbDelFind"));

    Click("sbClearSearch");
    EXPECT_FALSE(IsDown("sbClearSearch"));
    EXPECT_FALSE(SendMessageW(Control("sbClearSearch"), BM_GETSTATE, 0, 0) & BST_PUSHED);
    EXPECT_TRUE(errors_.errors.empty());
}

TEST_F(LayoutTest, TheSpinEditsArrowsStepByOneWithoutBounds) {
    CreateWindows();
    main_->SetText("seNumRemDocuments", L"0");
    HWND arrows = Control("seNumRemDocuments.Arrows");
    NMUPDOWN change = {};
    change.hdr.hwndFrom = arrows;
    change.hdr.idFrom = GetDlgCtrlID(arrows);
    change.hdr.code = UDN_DELTAPOS;
    change.iDelta = -1;
    SendMessageW(GetParent(arrows), WM_NOTIFY, change.hdr.idFrom, reinterpret_cast<LPARAM>(&change));
    EXPECT_EQ(L"-1", main_->Text("seNumRemDocuments"));
    main_->SetText("seNumRemDocuments", L"abc");
    change.iDelta = 1;
    SendMessageW(GetParent(arrows), WM_NOTIFY, change.hdr.idFrom, reinterpret_cast<LPARAM>(&change));
    EXPECT_EQ(L"1", main_->Text("seNumRemDocuments"));
}

}  // namespace
}  // namespace kestro::test
