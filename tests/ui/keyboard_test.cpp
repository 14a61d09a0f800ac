// The window from the keyboard alone: the keys go through the program's own
// message loop step (its key preview, then the dialog manager), as a user's
// keys do.
#include "tests/ui/ui_fixture.h"

#include "form/form_layout.h"
#include "settings/catalogue.h"

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace kestro::test {
namespace {

class KeyboardTest : public MainWindowTest {
protected:
    // The control's row name, or its class when it is no row.
    std::string NameOf(HWND control) const {
        for (std::size_t i = 0; i < kMainControlCount; ++i)
            if (main_->Control(kMainControls[i].name) == control) return kMainControls[i].name;
        return "(" + std::to_string(reinterpret_cast<std::uintptr_t>(control)) + ")";
    }
    // Where Tab goes from the tab strip until it comes back to it.
    std::vector<std::string> TabRound(bool backwards) {
        SetFocus(Control("PageControl"));
        std::vector<std::string> seen;
        for (int i = 0; i < 60; ++i) {
            PressKey(VK_TAB, false, backwards);
            if (GetFocus() == Control("PageControl")) break;
            seen.push_back(NameOf(GetFocus()));
        }
        return seen;
    }
    int Page() const { return main_->CurrentPage(); }
};

// The page's controls that take the focus, in the order the eye reads
// them: the first page's two columns one after the other, every other page
// row by row.
std::vector<std::string> ReadingOrder(int page) {
    std::vector<const ControlDef*> stops;
    for (std::size_t i = 0; i < kMainControlCount; ++i) {
        const ControlDef& def = kMainControls[i];
        if (static_cast<int>(def.page) != page || def.kind == ControlKind::Label) continue;
        stops.push_back(&def);
    }
    const bool columns = page == static_cast<int>(PageId::Ts1);
    std::stable_sort(stops.begin(), stops.end(), [columns](const ControlDef* a, const ControlDef* b) {
        if (columns) return a->left != b->left ? a->left < b->left : a->top < b->top;
        return a->top != b->top ? a->top < b->top : a->left < b->left;
    });
    std::vector<std::string> names;
    for (const ControlDef* def : stops) names.push_back(def->name);
    return names;
}

TEST_F(KeyboardTest, TabVisitsTheStripThenEveryControlOfThePageInReadingOrderThenTheWindowsOwn) {
    CreateWindows();
    for (int page = 0; page < kMainPageCount; ++page) {
        SCOPED_TRACE(page);
        main_->SelectPage(page);
        std::vector<std::string> wanted = ReadingOrder(page);
        wanted.push_back("bbExit");
        wanted.push_back("imgLogo");  // above the strip: Shift+Tab from the strip reaches it first
        EXPECT_EQ(wanted, TabRound(false));
        std::reverse(wanted.begin(), wanted.end());
        EXPECT_EQ(wanted, TabRound(true));
    }
    EXPECT_TRUE(errors_.errors.empty());
}

TEST_F(KeyboardTest, EveryToggleTakesTheFocusAndSpaceFlipsItThroughItsWriter) {
    CreateWindows();
    for (const Setting& row : kCatalogue) {
        if (!row.IsToggle() || row.shape == WriteShape::SystemParameters) continue;
        SCOPED_TRACE(row.control);
        HWND toggle = Control(row.control);  // opens its page
        SetFocus(Control("PageControl"));
        for (int i = 0; i < 40 && GetFocus() != toggle; ++i) PressKey(VK_TAB);
        ASSERT_EQ(toggle, GetFocus());
        const bool before = IsDown(row.control);
        PressKey(VK_SPACE);
        EXPECT_NE(before, IsDown(row.control));
        EXPECT_EQ(toggle, GetFocus());
        // What the writer stored, read by the row's start-up rule.
        ToggleButton stored(nullptr);
        ReadToggleState(row, stored);
        EXPECT_EQ(IsDown(row.control), stored.Down());
        PressKey(VK_SPACE);
        EXPECT_EQ(before, IsDown(row.control));
    }
    EXPECT_TRUE(errors_.errors.empty());
}

TEST_F(KeyboardTest, TheArrowsMoveWithinAColumnOfToggles) {
    CreateWindows();
    SetFocus(Control("sbClearSearch"));
    PressKey(VK_DOWN);
    EXPECT_EQ(Control("sbPrintVerWindows"), GetFocus());
    PressKey(VK_UP);
    PressKey(VK_UP);  // from the top of the left column to its bottom, not into the right one
    EXPECT_EQ(Control("sbDelPubmenuInStart"), GetFocus());
    SetFocus(Control("sbDelMyPictures"));
    PressKey(VK_DOWN);
    EXPECT_EQ(Control("sbClearResentWhenShoutDownSystem"), GetFocus());
    main_->SelectPage(3);
    SetFocus(Control("sbBanUSB"));
    PressKey(VK_DOWN);
    EXPECT_EQ(Control("sbBanFDD"), GetFocus());
    // On the second page an arrow stays in its control.
    SetFocus(Control("bbSetTrashName"));
    PressKey(VK_DOWN);
    EXPECT_EQ(Control("bbSetTrashName"), GetFocus());
}

TEST_F(KeyboardTest, CtrlTabAndCtrlPageDownSwitchPagesFromAnywhereAndTheArrowsOnTheStrip) {
    CreateWindows();
    SetFocus(Control("sbDelFind"));
    PressKey(VK_TAB, true);
    EXPECT_EQ(1, Page());
    // The focus left the hidden page for the first control of the new one.
    EXPECT_EQ(Control("seNumRemDocuments"), GetFocus());
    PressKey(VK_NEXT, true);
    EXPECT_EQ(2, Page());
    EXPECT_EQ(Control("mmSystemInfo"), GetFocus());
    PressKey(VK_TAB, true, true);
    EXPECT_EQ(1, Page());
    PressKey(VK_PRIOR, true);
    EXPECT_EQ(0, Page());
    PressKey(VK_PRIOR, true);
    EXPECT_EQ(3, Page());
    EXPECT_TRUE(IsWindowVisible(Control("sbBanUSB")));
    // From a control of the window itself, which keeps the focus.
    SetFocus(Control("bbExit"));
    PressKey(VK_NEXT, true);
    EXPECT_EQ(0, Page());
    EXPECT_EQ(Control("bbExit"), GetFocus());
    SetFocus(Control("PageControl"));
    PressKey(VK_RIGHT);
    EXPECT_EQ(1, Page());
    PressKey(VK_LEFT);
    PressKey(VK_LEFT);
    EXPECT_EQ(3, Page());
    EXPECT_EQ(Control("PageControl"), GetFocus());
    EXPECT_TRUE(IsWindowVisible(main_->Page(PageId::TabSheet1)));
    EXPECT_FALSE(IsWindowVisible(main_->Page(PageId::Ts1)));
}

TEST_F(KeyboardTest, EscapeAndEnterInTheReadOnlyMemoDestroyNothingAndTabLeavesIt) {
    CreateWindows();
    HWND memo = Control("mmSystemInfo");
    HWND page = main_->Page(PageId::Tb3);
    const std::wstring text = TextOf(memo);
    SetFocus(memo);
    PressKey(VK_ESCAPE);
    PressKey(VK_RETURN);
    PressKey('X');
    EXPECT_TRUE(IsWindow(page));
    EXPECT_TRUE(IsWindowVisible(page));
    EXPECT_TRUE(IsWindow(main_->Hwnd()));
    EXPECT_EQ(text, TextOf(memo));
    EXPECT_TRUE(GetWindowLongW(memo, GWL_STYLE) & ES_READONLY);
    SetFocus(memo);
    PressKey(VK_TAB);
    EXPECT_EQ(Control("bbExit"), GetFocus());
    SetFocus(memo);
    PressKey(VK_TAB, false, true);
    EXPECT_EQ(Control("PageControl"), GetFocus());
    // Escape anywhere else closes nothing either.
    SetFocus(Control("bbExit"));
    PressKey(VK_ESCAPE);
    EXPECT_TRUE(IsWindowVisible(main_->Hwnd()));
}

TEST_F(KeyboardTest, EnterPressesTheFocusedButton) {
    CreateWindows();
    main_->SelectPage(1);
    main_->SetText("seNumRemDocuments", L"7");
    SetFocus(Control("bbSetNumRemDocuments"));
    PressKey(VK_RETURN);
    EXPECT_EQ(7, Zfunctions::ReadDwordValue(CatalogueRow(SettingId::MaxRecentDocs).keyPath, "MaxRecentDocs"));
    // On an edit it presses nothing.
    main_->SetText("seNumRemDocuments", L"9");
    SetFocus(Control("seNumRemDocuments"));
    PressKey(VK_RETURN);
    EXPECT_EQ(7, Zfunctions::ReadDwordValue(CatalogueRow(SettingId::MaxRecentDocs).keyPath, "MaxRecentDocs"));
    EXPECT_TRUE(errors_.errors.empty());
}

TEST_F(KeyboardTest, TheFocusComesBackAfterTheChooserAndAfterAnotherWindow) {
    CreateWindows();
    main_->SelectPage(1);
    SetFocus(Control("bbSetFolder"));
    PressKey(VK_RETURN);  // opens the chooser
    PumpDialogMessages(200);
    ASSERT_TRUE(IsWindowVisible(chooser_->Hwnd()));
    EXPECT_TRUE(IsChild(chooser_->Hwnd(), GetFocus()));
    PressKey(VK_ESCAPE);  // the chooser's Cancel
    PumpDialogMessages(200);
    EXPECT_FALSE(IsWindowVisible(chooser_->Hwnd()));
    EXPECT_EQ(Control("bbSetFolder"), GetFocus());

    // Another window takes the activation and gives it back.
    main_->SelectPage(0);
    SetFocus(Control("sbDelFind"));
    HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    SetActiveWindow(other);
    PumpMessages(50);
    SetActiveWindow(main_->Hwnd());
    PumpMessages(50);
    EXPECT_EQ(Control("sbDelFind"), GetFocus());
    DestroyWindow(other);
}

// What each window was told of its focus cues (WM_UPDATEUISTATE): the
// last word per window.
std::map<HWND, WPARAM>* cueChanges = nullptr;

LRESULT CALLBACK RecordCueChanges(int code, WPARAM wParam, LPARAM lParam) {
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && cueChanges && call->message == WM_UPDATEUISTATE) (*cueChanges)[call->hwnd] = call->wParam;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// This Wine keeps no focus-cue state of its own (WM_QUERYUISTATE answers 0
// whatever it was told), so what the window tells its controls is watched
// instead: the word each one got last.
TEST_F(KeyboardTest, FocusCuesFollowTheSettingAndAppearWithTheKeyboard) {
    BOOL saved = TRUE;
    SystemParametersInfoW(SPI_GETKEYBOARDCUES, 0, &saved, 0);
    std::map<HWND, WPARAM> changes;
    cueChanges = &changes;
    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, RecordCueChanges, nullptr, GetCurrentThreadId());
    ASSERT_NE(nullptr, hook);
    const WPARAM hide = MAKEWPARAM(UIS_SET, UISF_HIDEFOCUS | UISF_HIDEACCEL);
    const WPARAM show = MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS | UISF_HIDEACCEL);

    // Hidden until the keyboard is used.
    ASSERT_TRUE(SystemParametersInfoW(SPI_SETKEYBOARDCUES, 0, reinterpret_cast<void*>(FALSE), 0));
    CreateWindows();
    EXPECT_EQ(hide, changes[main_->Hwnd()]);
    EXPECT_EQ(hide, changes[Control("sbDelFind")]);
    EXPECT_EQ(hide, changes[Control("sbBanUSB")]);  // a page made later takes the window's word
    main_->SelectPage(0);
    SetFocus(Control("PageControl"));
    PressKey(VK_TAB);
    EXPECT_EQ(show, changes[GetFocus()]);
    EXPECT_EQ(show, changes[Control("bbExit")]);

    // Always shown: a new window shows them, and nothing is hidden.
    changes.clear();
    SystemParametersInfoW(SPI_SETKEYBOARDCUES, 0, reinterpret_cast<void*>(TRUE), 0);
    CreateWindows();
    Control("sbBanUSB");
    for (const auto& change : changes) EXPECT_NE(hide, change.second);

    UnhookWindowsHookEx(hook);
    cueChanges = nullptr;
    SystemParametersInfoW(SPI_SETKEYBOARDCUES, 0, reinterpret_cast<void*>(static_cast<INT_PTR>(saved)), 0);
}

}  // namespace
}  // namespace kestro::test
