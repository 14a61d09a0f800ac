// The folder chooser on Wine's real shell namespace: its window, its tree,
// and what OK, Cancel and the title bar's close hand to the main window.
#include "tests/ui/ui_fixture.h"

#include "form/form_layout.h"
#include "ui/dpi.h"

#include <commctrl.h>
#include <shlobj.h>

#include <cstdlib>
#include <cstring>

namespace kestro::test {
namespace {

class ChooserTest : public MainWindowTest {
protected:
    HWND Chooser() const { return chooser_->Hwnd(); }
    HWND Tree() const { return chooser_->Control("ShellTreeView1"); }
    HTREEITEM Next(HTREEITEM item, UINT how) const {
        return reinterpret_cast<HTREEITEM>(SendMessageW(Tree(), TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(item)));
    }
    HTREEITEM Selected() const { return Next(nullptr, TVGN_CARET); }
    std::wstring ItemText(HTREEITEM item) const {
        wchar_t text[MAX_PATH] = {};
        TVITEMW data = {};
        data.mask = TVIF_HANDLE | TVIF_TEXT;
        data.hItem = item;
        data.pszText = text;
        data.cchTextMax = MAX_PATH;
        SendMessageW(Tree(), TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&data));
        return text;
    }
    int ChildFlag(HTREEITEM item) const {
        TVITEMW data = {};
        data.mask = TVIF_HANDLE | TVIF_CHILDREN;
        data.hItem = item;
        SendMessageW(Tree(), TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&data));
        return data.cChildren;
    }
    std::vector<std::wstring> ChildTexts(HTREEITEM item) const {
        std::vector<std::wstring> texts;
        for (HTREEITEM child = Next(item, TVGN_CHILD); child; child = Next(child, TVGN_NEXT))
            texts.push_back(ItemText(child));
        return texts;
    }
    void Press(const char* button) { SendMessageW(chooser_->Control(button), BM_CLICK, 0, 0), PumpMessages(10); }
    void CloseByTitleBar() { SendMessageW(Chooser(), WM_SYSCOMMAND, SC_CLOSE, 0), PumpMessages(10); }
    // Opens the chooser from the main window and picks `path` in its tree.
    void ShowAndSelect(const std::wstring& path) {
        Click("bbSetFolder");
        ASSERT_TRUE(IsWindowVisible(Chooser()));
        ASSERT_TRUE(chooser_->SelectPath(path)) << "not in the tree";
    }
};

BOOL CALLBACK CountChoosers(HWND window, LPARAM lParam) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t cls[64] = {};
    GetClassNameW(window, cls, 64);
    if (process == GetCurrentProcessId() && lstrcmpW(cls, L"TfrmChkDir") == 0) ++*reinterpret_cast<int*>(lParam);
    return TRUE;
}

RECT RectInParent(HWND control) {
    RECT rc;
    GetWindowRect(control, &rc);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rc), 2);
    return rc;
}

void ExpectPlace(HWND control, int left, int top, int width, int height) {
    const RECT rc = RectInParent(control);
    EXPECT_EQ(left, rc.left);
    EXPECT_EQ(top, rc.top);
    EXPECT_EQ(width, rc.right - rc.left);
    EXPECT_EQ(height, rc.bottom - rc.top);
}

void ExpectCentred(HWND window) {
    RECT rc;
    GetWindowRect(window, &rc);
    EXPECT_LE(std::abs((rc.left + rc.right) - GetSystemMetrics(SM_CXSCREEN)), 1);
    EXPECT_LE(std::abs((rc.top + rc.bottom) - GetSystemMetrics(SM_CYSCREEN)), 1);
}

TEST_F(ChooserTest, WindowHasItsCaptionFrameAndSizeAndOpensCentred) {
    CreateWindows();
    EXPECT_FALSE(IsWindowVisible(Chooser())) << "created hidden";
    EXPECT_EQ(L"Выбор каталога", TextOf(Chooser()));
    RECT client;
    GetClientRect(Chooser(), &client);
    EXPECT_EQ(337, client.right);
    EXPECT_EQ(226, client.bottom);
    const LONG style = GetWindowLongW(Chooser(), GWL_STYLE);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
    EXPECT_TRUE(GetWindowLongW(Chooser(), GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);
    EXPECT_EQ(main_->Hwnd(), GetWindow(Chooser(), GW_OWNER));

    Click("bbSetFolder");
    EXPECT_TRUE(IsWindowVisible(Chooser()));
    ExpectCentred(Chooser());
    // Moved away and closed, it opens centred again.
    SetWindowPos(Chooser(), nullptr, 3, 5, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    CloseByTitleBar();
    EXPECT_FALSE(IsWindowVisible(Chooser()));
    Click("bbSetFolder");
    ExpectCentred(Chooser());
}

TEST_F(ChooserTest, ControlsStandInTheirPlacesWithTheTreeFirst) {
    CreateWindows();
    Click("bbSetFolder");
    ExpectPlace(Tree(), 8, 0, 321, 185);
    ExpectPlace(chooser_->Control("bbOK"), 8, 192, 155, 25);
    ExpectPlace(chooser_->Control("bbCancel"), 176, 192, 155, 25);
    EXPECT_EQ(L"OK", TextOf(chooser_->Control("bbOK")));
    EXPECT_EQ(L"Отмена", TextOf(chooser_->Control("bbCancel")));
    EXPECT_EQ(Tree(), GetNextDlgTabItem(Chooser(), nullptr, FALSE)) << "first in the tab order";

    EXPECT_FALSE(GetWindowLongW(Tree(), GWL_STYLE) & TVS_LINESATROOT);
    EXPECT_EQ(19, SendMessageW(Tree(), TVM_GETINDENT, 0, 0));
    SHFILEINFOW info = {};
    const auto system = SHGetFileInfoW(L"C:\\", 0, &info, sizeof info, SHGFI_SYSICONINDEX | SHGFI_SMALLICON);
    EXPECT_EQ(system, static_cast<DWORD_PTR>(SendMessageW(Tree(), TVM_GETIMAGELIST, TVSIL_NORMAL, 0)));

    for (const char* name : {"ShellTreeView1", "bbOK", "bbCancel"}) {
        LOGFONTW font = {};
        auto handle = reinterpret_cast<HFONT>(SendMessageW(chooser_->Control(name), WM_GETFONT, 0, 0));
        ASSERT_TRUE(GetObjectW(handle, sizeof font, &font)) << name;
        // The main window's face, as its own controls have it.
        EXPECT_STREQ(dpi::UiFace(), font.lfFaceName) << name;
        EXPECT_EQ(-11, font.lfHeight) << name;
    }
}

TEST_F(ChooserTest, TreeStartsAtTheDesktopAndShowsOnlyFoldersOnceOpened) {
    TempFolder folder(L"Кестро дерево");
    ASSERT_TRUE(CreateDirectoryW(folder.Child(L"Вложенная").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(folder.Child(L"Скрытая").c_str(), nullptr));
    SetFileAttributesW(folder.Child(L"Скрытая").c_str(), FILE_ATTRIBUTE_HIDDEN);
    ASSERT_TRUE(WriteFileBytes(folder.Child(L"файл.txt"), "text"));
    CreateWindows();
    Click("bbSetFolder");

    HTREEITEM root = Next(nullptr, TVGN_ROOT);
    SHFILEINFOW desktop = {};
    LPITEMIDLIST pidl = nullptr;
    ASSERT_HRESULT_SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, &pidl));
    SHGetFileInfoW(reinterpret_cast<LPCWSTR>(pidl), 0, &desktop, sizeof desktop, SHGFI_PIDL | SHGFI_DISPLAYNAME);
    CoTaskMemFree(pidl);
    EXPECT_EQ(desktop.szDisplayName, ItemText(root));
    EXPECT_EQ(nullptr, Next(root, TVGN_NEXT)) << "one root";
    EXPECT_NE(nullptr, Next(root, TVGN_CHILD)) << "the Desktop's folders are shown";

    ASSERT_TRUE(chooser_->SelectPath(folder.Path()));
    HTREEITEM node = Selected();
    EXPECT_EQ(nullptr, Next(node, TVGN_CHILD)) << "read before it was opened";
    EXPECT_NE(0, ChildFlag(node)) << "no button to open it";
    SendMessageW(Tree(), TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(node));

    SHELLFLAGSTATE settings = {};
    SHGetSettings(&settings, SSF_SHOWALLOBJECTS);
    std::vector<std::wstring> expected = {L"Вложенная"};
    if (settings.fShowAllObjects) expected.push_back(L"Скрытая");
    EXPECT_EQ(expected, ChildTexts(node)) << "folders only, hidden ones as Explorer shows them";
    // Once opened and found empty, a folder loses its button.
    HTREEITEM empty = Next(node, TVGN_CHILD);
    SendMessageW(Tree(), TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(empty));
    EXPECT_EQ(nullptr, Next(empty, TVGN_CHILD));
    EXPECT_EQ(0, ChildFlag(empty));
}

TEST_F(ChooserTest, OkWithNothingSelectedLeavesTheFolderFieldAlone) {
    CreateWindows();
    Click("bbSetFolder");
    SendMessageW(Tree(), TVM_SELECTITEM, TVGN_CARET, 0);
    ASSERT_EQ(nullptr, Selected());
    Press("bbOK");
    EXPECT_FALSE(IsWindowVisible(Chooser()));
    EXPECT_EQ(L"", chooser_->SelectedDir());
    EXPECT_EQ(kFolderPlaceholder, main_->Text("edFolder"));
}

TEST_F(ChooserTest, OkPutsTheFullPathOfTheChosenFolderIntoTheFolderField) {
    TempFolder folder(L"Кестро папка");
    CreateWindows();
    ShowAndSelect(folder.Path());
    EXPECT_EQ(L"Кестро папка-" + std::to_wstring(GetCurrentProcessId()), ItemText(Selected()));
    Press("bbOK");
    EXPECT_FALSE(IsWindowVisible(Chooser()));
    EXPECT_EQ(folder.Path(), chooser_->SelectedDir());
    EXPECT_EQ(folder.Path(), main_->Text("edFolder"));
}

TEST_F(ChooserTest, CancelAfterAnEarlierOkKeepsTheEarlierChoice) {
    TempFolder first(L"Кестро первая"), second(L"Кестро вторая");
    CreateWindows();
    ShowAndSelect(first.Path());
    Press("bbOK");
    ASSERT_EQ(first.Path(), main_->Text("edFolder"));

    ShowAndSelect(second.Path());
    Press("bbCancel");
    EXPECT_FALSE(IsWindowVisible(Chooser()));
    EXPECT_EQ(L"", chooser_->SelectedDir());
    EXPECT_EQ(first.Path(), main_->Text("edFolder"));

    // Cancel forgot the choice: a later close by the title bar sets nothing.
    main_->SetText("edFolder", L"поставлено рукой");
    Click("bbSetFolder");
    CloseByTitleBar();
    EXPECT_EQ(L"поставлено рукой", main_->Text("edFolder"));
}

TEST_F(ChooserTest, CloseByTheTitleBarPutsTheEarlierChoiceAgain) {
    TempFolder first(L"Кестро первая"), second(L"Кестро вторая");
    CreateWindows();
    ShowAndSelect(first.Path());
    Press("bbOK");
    main_->SetText("edFolder", kFolderPlaceholder);

    ShowAndSelect(second.Path());  // selected, but not confirmed
    CloseByTitleBar();
    EXPECT_FALSE(IsWindowVisible(Chooser()));
    EXPECT_EQ(first.Path(), main_->Text("edFolder"));
}

TEST_F(ChooserTest, EnterConfirmsAndEscapeCancelsAsInADialog) {
    TempFolder folder(L"Кестро клавиши");
    CreateWindows();
    auto key = [&](WPARAM vk) {
        MSG msg = {GetFocus(), WM_KEYDOWN, vk, 1, 0, {0, 0}};
        EXPECT_TRUE(IsDialogMessageW(Chooser(), &msg));
        PumpMessages(10);
    };
    ShowAndSelect(folder.Path());
    SetFocus(Tree());
    key(VK_RETURN);
    EXPECT_FALSE(IsWindowVisible(Chooser()));
    EXPECT_EQ(folder.Path(), main_->Text("edFolder"));

    Click("bbSetFolder");
    SetFocus(Tree());
    key(VK_ESCAPE);
    EXPECT_FALSE(IsWindowVisible(Chooser()));
    EXPECT_EQ(L"", chooser_->SelectedDir());

    // Enter on the focused Cancel button cancels.
    ShowAndSelect(folder.Path());
    Press("bbOK");
    Click("bbSetFolder");
    SetFocus(chooser_->Control("bbCancel"));
    key(VK_RETURN);
    EXPECT_FALSE(IsWindowVisible(Chooser()));
    EXPECT_EQ(L"", chooser_->SelectedDir());
}

TEST_F(ChooserTest, OpenedByADefaultActionEscapeGivesTheFocusBackToTheControlThatHadIt) {
    // A screen reader's "do default action" sends BM_CLICK to the button
    // while the focus stays where the user left it: on the tab strip.
    CreateWindows();
    const HWND strip = Control("PageControl");
    SetFocus(strip);
    PumpMessages(10);
    ASSERT_EQ(strip, GetFocus());
    SendMessageW(Control("bbSetFolder"), BM_CLICK, 0, 0);
    PumpMessages(50);
    ASSERT_TRUE(IsWindowVisible(Chooser()));
    MSG msg = {GetFocus(), WM_KEYDOWN, VK_ESCAPE, 1, 0, {0, 0}};
    IsDialogMessageW(Chooser(), &msg);
    PumpMessages(50);
    EXPECT_FALSE(IsWindowVisible(Chooser()));
    // The button's click itself took the focus, as a click does: it is the
    // control that had it, and gets it back; never the hidden tree.
    const HWND focus = GetFocus();
    EXPECT_TRUE(focus == strip || focus == Control("bbSetFolder"))
        << "focus on " << focus << (IsChild(Chooser(), focus) ? " (in the hidden chooser)" : "") << ", tree " << Tree()
        << ", strip " << strip << ", button " << Control("bbSetFolder");
    EXPECT_FALSE(IsChild(Chooser(), focus));
}

TEST_F(ChooserTest, PressingTheButtonTwiceKeepsOneChooserWindow) {
    CreateWindows();
    Click("bbSetFolder");
    SetActiveWindow(main_->Hwnd());
    Click("bbSetFolder");
    int count = 0;
    EnumWindows(CountChoosers, reinterpret_cast<LPARAM>(&count));
    EXPECT_EQ(1, count);
    EXPECT_TRUE(IsWindowVisible(Chooser()));
    EXPECT_EQ(Chooser(), GetActiveWindow()) << "brought to the front";
    EXPECT_TRUE(IsWindowEnabled(main_->Hwnd())) << "the main window stays usable";
}

TEST_F(ChooserTest, TheComputerGivesItsDisplayNameNotItsClassName) {
    CreateWindows();
    Click("bbSetFolder");
    LPITEMIDLIST computer = nullptr;
    ASSERT_HRESULT_SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &computer));
    SHFILEINFOW info = {};
    SHGetFileInfoW(reinterpret_cast<LPCWSTR>(computer), 0, &info, sizeof info, SHGFI_PIDL | SHGFI_DISPLAYNAME);
    const bool selected = chooser_->SelectFolder(computer);
    CoTaskMemFree(computer);
    ASSERT_TRUE(selected);
    Press("bbOK");
    const std::wstring folder = main_->Text("edFolder");
    EXPECT_NE(L"", folder);
    EXPECT_NE(0u, folder.rfind(L"::{", 0)) << "a class name: " << testing::PrintToString(folder);
    EXPECT_EQ(info.szDisplayName, folder);
}

TEST_F(ChooserTest, RightClickSelectsTheNodeUnderTheMouse) {
    CreateWindows();
    Click("bbSetFolder");
    HTREEITEM root = Next(nullptr, TVGN_ROOT);
    SendMessageW(Tree(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(root));
    HTREEITEM target = Next(root, TVGN_CHILD);
    ASSERT_NE(nullptr, target);
    UpdateWindow(Tree());  // the labels are measured when they are drawn
    RECT rc;
    std::memcpy(&rc, &target, sizeof target);  // TVM_GETITEMRECT takes the item in the rectangle
    ASSERT_TRUE(SendMessageW(Tree(), TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&rc)));
    POINT at = {(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
    POINT screen = at;
    ClientToScreen(Tree(), &screen);
    SetCursorPos(screen.x, screen.y);
    POINT cursor = {};
    for (int i = 0; i < 100 && GetCursorPos(&cursor) && (cursor.x != screen.x || cursor.y != screen.y); ++i)
        PumpMessages(10);
    ASSERT_EQ(screen.x, cursor.x);
    ASSERT_EQ(screen.y, cursor.y);
    // The moves the warp makes are handled first: while its button is down
    // the tree reads the queue itself, and a move it finds there can start
    // a drag instead of the click. Without this wait, with a Wine server
    // started for this test alone, about one run in four failed so.
    PumpMessages(200);
    // The tree follows the mouse until the button comes up.
    PostMessageW(Tree(), WM_RBUTTONUP, 0, MAKELPARAM(at.x, at.y));
    SendMessageW(Tree(), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(at.x, at.y));
    PumpMessages(20);
    EXPECT_EQ(target, Selected());
}

TEST_F(ChooserTest, TreeNodesAreFreedWhenTheWindowGoes) {
    TempFolder folder(L"Кестро узлы");
    const int before = TfrmChkDir::LiveNodeCount();
    CreateWindows();
    ASSERT_TRUE(chooser_->SelectPath(folder.Path()));
    EXPECT_GT(TfrmChkDir::LiveNodeCount(), before + 5);
    // Closing the main window takes the chooser it owns along.
    DestroyWindow(main_->Hwnd());
    EXPECT_EQ(nullptr, chooser_->Hwnd());
    EXPECT_EQ(before, TfrmChkDir::LiveNodeCount());
}

}  // namespace
}  // namespace kestro::test
