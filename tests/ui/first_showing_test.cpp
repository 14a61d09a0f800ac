// What the window and the chooser leave for later, and what a user finds
// when the later parts first appear: the states and texts that the start
// read back, and the shell's folders.
#include "tests/ui/ui_fixture.h"

#include "ui/shell_library.h"

#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

namespace kestro::test {
namespace {

void PutDword(HKEY root, const char* path, const char* name, DWORD value) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value));
    RegCloseKey(key);
}

DWORD GetDword(HKEY root, const char* path, const char* name) {
    DWORD value = 0xDEAD, size = sizeof value;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) return value;
    RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    return value;
}

constexpr const char* kServices = "SYSTEM\\CurrentControlSet\\Services\\";

class FirstShowingTest : public MainWindowTest {
protected:
    // A user's click on the button of page `index` of the tab control.
    void ClickTab(int index) {
        HWND tab = main_->Control("PageControl");
        RECT rc = {};
        ASSERT_TRUE(SendMessageW(tab, TCM_GETITEMRECT, index, reinterpret_cast<LPARAM>(&rc)));
        const LPARAM at = MAKELPARAM((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
        SendMessageW(tab, WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageW(tab, WM_LBUTTONUP, 0, at);
        PumpMessages(20);
        ASSERT_EQ(index, SendMessageW(tab, TCM_GETCURSEL, 0, 0));
    }
    LRESULT CheckOf(const char* name) const { return SendMessageW(main_->Control(name), BM_GETCHECK, 0, 0); }
};

TEST_F(FirstShowingTest, DeviceTogglesReadAtStartShowTheirStatesWhenTheirPageFirstOpens) {
    PutDword(HKEY_LOCAL_MACHINE, (std::string(kServices) + "usbstor").c_str(), "start", 4);
    PutDword(HKEY_LOCAL_MACHINE, (std::string(kServices) + "cdrom").c_str(), "start", 3);
    PutDword(HKEY_LOCAL_MACHINE, (std::string(kServices) + "flpydisk").c_str(), "start", 4);
    CreateWindows();
    ASSERT_TRUE(errors_.errors.empty());
    EXPECT_FALSE(main_->PageBuilt(PageId::TabSheet1));
    EXPECT_EQ(nullptr, main_->Control("sbBanUSB")) << "made when its page first appears";
    EXPECT_EQ(nullptr, GetWindow(main_->Page(PageId::TabSheet1), GW_CHILD));

    ClickTab(3);
    EXPECT_TRUE(main_->PageBuilt(PageId::TabSheet1));
    EXPECT_TRUE(IsWindowVisible(main_->Page(PageId::TabSheet1)));
    ASSERT_NE(nullptr, main_->Control("sbBanUSB"));
    EXPECT_TRUE(IsWindowVisible(main_->Control("sbBanUSB")));
    EXPECT_EQ(L"Откл. Flash", TextOf(main_->Control("sbBanUSB")));
    EXPECT_EQ(BST_CHECKED, CheckOf("sbBanUSB"));
    EXPECT_EQ(BST_CHECKED, CheckOf("sbBanFDD"));
    EXPECT_EQ(BST_UNCHECKED, CheckOf("sbBanCDROM"));
    EXPECT_EQ(BST_UNCHECKED, CheckOf("sbBanParallesPort"));

    // The button made late is the real toggle: a click puts it up and
    // writes the up state.
    Click("sbBanUSB");
    EXPECT_EQ(BST_UNCHECKED, CheckOf("sbBanUSB"));
    EXPECT_EQ(3u, GetDword(HKEY_LOCAL_MACHINE, (std::string(kServices) + "usbstor").c_str(), "start"));
    // Back and forth: made once, the state stays the button's own.
    ClickTab(0);
    ClickTab(3);
    EXPECT_EQ(BST_UNCHECKED, CheckOf("sbBanUSB"));
    EXPECT_EQ(BST_CHECKED, CheckOf("sbBanFDD"));
    EXPECT_TRUE(errors_.errors.empty());
}

TEST_F(FirstShowingTest, TextsSetAtStartAreInTheControlsWhenTheirPagesFirstOpen) {
    PutDword(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer", "MaxRecentDocs", 7);
    CreateWindows();
    EXPECT_EQ(nullptr, main_->Control("seNumRemDocuments"));
    EXPECT_EQ(nullptr, main_->Control("mmSystemInfo"));
    EXPECT_EQ(L"7", main_->Text("seNumRemDocuments"));

    ClickTab(1);
    ASSERT_NE(nullptr, main_->Control("seNumRemDocuments"));
    EXPECT_EQ(L"7", TextOf(main_->Control("seNumRemDocuments")));
    EXPECT_EQ(L"<выбрать папку>", TextOf(main_->Control("edFolder")));
    EXPECT_EQ(L"<выбрать картинку>", TextOf(main_->Control("edPicture")));
    EXPECT_EQ(L"", TextOf(main_->Control("leTrashName")));
    EXPECT_FALSE(main_->PageBuilt(PageId::Tb3));

    ClickTab(2);
    ASSERT_NE(nullptr, main_->Control("mmSystemInfo"));
    const std::wstring info = TextOf(main_->Control("mmSystemInfo"));
    EXPECT_EQ(0u, info.find(L"Windows запущен из папки: ")) << "the design-time line went";
    EXPECT_NE(std::wstring::npos, info.find(L"\r\nКаталог временных файлов: "));
    EXPECT_EQ(info, main_->Text("mmSystemInfo"));
}

TEST_F(FirstShowingTest, AChoiceMadeBeforeTheSecondPageIsShownLandsInTheFolderField) {
    TempFolder folder(L"Кестро до показа");
    CreateWindows();
    chooser_->ShowChooser();
    ASSERT_TRUE(chooser_->SelectPath(folder.Path()));
    SendMessageW(chooser_->Control("bbOK"), BM_CLICK, 0, 0);
    PumpMessages(10);
    EXPECT_EQ(nullptr, main_->Control("edFolder"));
    ClickTab(1);
    EXPECT_EQ(folder.Path(), TextOf(main_->Control("edFolder")));
}

// The Desktop's folders as the shell lists them, by display name, sorted.
std::vector<std::wstring> DesktopFolders() {
    std::vector<std::wstring> names;
    IShellFolder* desktop = nullptr;
    if (FAILED(SHGetDesktopFolder(&desktop))) return names;
    SHELLFLAGSTATE settings = {};
    SHGetSettings(&settings, SSF_SHOWALLOBJECTS);
    IEnumIDList* items = nullptr;
    if (desktop->EnumObjects(nullptr, SHCONTF_FOLDERS | (settings.fShowAllObjects ? SHCONTF_INCLUDEHIDDEN : 0),
                             &items) == S_OK) {
        LPITEMIDLIST child = nullptr;
        while (items->Next(1, &child, nullptr) == S_OK) {
            LPCITEMIDLIST one = child;
            SFGAOF attributes = SFGAO_FOLDER | SFGAO_STREAM;
            if (SUCCEEDED(desktop->GetAttributesOf(1, &one, &attributes)) && (attributes & SFGAO_FOLDER) &&
                !(attributes & SFGAO_STREAM)) {
                SHFILEINFOW info = {};
                SHGetFileInfoW(reinterpret_cast<LPCWSTR>(child), 0, &info, sizeof info, SHGFI_PIDL | SHGFI_DISPLAYNAME);
                names.push_back(info.szDisplayName);
            }
            CoTaskMemFree(child);
        }
        items->Release();
    }
    desktop->Release();
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(FirstShowingTest, TheChooserOpenedForTheFirstTimeListsTheDesktopsFolders) {
    wchar_t desktopPath[MAX_PATH] = {};
    ASSERT_HRESULT_SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, 0, desktopPath));
    const std::wstring mine = std::wstring(desktopPath) + L"\\Кестро на столе " + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryW(mine.c_str(), nullptr));
    const bool loadedBefore = shell::AnyLoaded();

    CreateWindows();
    EXPECT_FALSE(chooser_->TreeFilled());
    EXPECT_EQ(nullptr, chooser_->Control("ShellTreeView1")) << "made when first shown";
    // Unless an earlier test of this process opened the shell, starting the
    // windows did not.
    if (!loadedBefore) {
        EXPECT_FALSE(shell::AnyLoaded());
    }

    Click("bbSetFolder");
    EXPECT_TRUE(IsWindowVisible(chooser_->Hwnd()));
    EXPECT_TRUE(chooser_->TreeFilled());
    HWND tree = chooser_->Control("ShellTreeView1");
    ASSERT_NE(nullptr, tree);
    EXPECT_TRUE(IsWindowVisible(tree));
    auto root = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
    ASSERT_NE(nullptr, root);
    std::vector<std::wstring> shown;
    for (auto child = reinterpret_cast<HTREEITEM>(
             SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(root)));
         child; child = reinterpret_cast<HTREEITEM>(
                    SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(child)))) {
        wchar_t text[MAX_PATH] = {};
        TVITEMW item = {};
        item.mask = TVIF_HANDLE | TVIF_TEXT;
        item.hItem = child;
        item.pszText = text;
        item.cchTextMax = MAX_PATH;
        SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        shown.push_back(text);
    }
    std::sort(shown.begin(), shown.end());
    const std::vector<std::wstring> expected = DesktopFolders();
    EXPECT_EQ(expected, shown);
    EXPECT_NE(shown.end(), std::find(shown.begin(), shown.end(), mine.substr(mine.rfind(L'\\') + 1)));
    EXPECT_NE(0, SendMessageW(tree, TVM_GETIMAGELIST, TVSIL_NORMAL, 0)) << "the shell's icons";

    // Shown again, it is the same tree, not a second one.
    SendMessageW(chooser_->Hwnd(), WM_CLOSE, 0, 0);
    Click("bbSetFolder");
    EXPECT_EQ(tree, chooser_->Control("ShellTreeView1"));
    EXPECT_EQ(root, reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0)));
    EXPECT_EQ(nullptr, reinterpret_cast<HTREEITEM>(
                           SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(root))));
    DestroyWindows();
    RemoveDirectoryW(mine.c_str());
}

// Every function of the on-demand libraries is found under its name.
TEST(ShellLibraryTest, FindsWhatTheChooserAndTheDialogsCall) {
    ASSERT_TRUE(shell::EnsureCom());
    EXPECT_TRUE(shell::ComStarted());
    EXPECT_TRUE(shell::EnsureCom()) << "a second call starts nothing more";
    IShellFolder* desktop = nullptr;
    ASSERT_HRESULT_SUCCEEDED(shell::SHGetDesktopFolder(&desktop));
    ASSERT_NE(nullptr, desktop);
    desktop->Release();

    LPITEMIDLIST windows = nullptr;
    ASSERT_HRESULT_SUCCEEDED(shell::SHGetSpecialFolderLocation(nullptr, CSIDL_WINDOWS, &windows));
    LPITEMIDLIST root = nullptr;
    ASSERT_HRESULT_SUCCEEDED(shell::SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, &root));
    LPITEMIDLIST combined = shell::ILCombine(root, windows);
    ASSERT_NE(nullptr, combined);
    EXPECT_EQ(ILFindLastID(windows)->mkid.cb, shell::ILFindLastID(combined)->mkid.cb);
    SHFILEINFOW info = {};
    EXPECT_NE(0u, shell::SHGetFileInfoW(reinterpret_cast<LPCWSTR>(combined), 0, &info, sizeof info,
                                        SHGFI_PIDL | SHGFI_DISPLAYNAME));
    EXPECT_STRNE(L"", info.szDisplayName);
    shell::CoTaskMemFree(combined);
    shell::CoTaskMemFree(root);
    shell::CoTaskMemFree(windows);
    SHELLFLAGSTATE settings = {};
    shell::SHGetSettings(&settings, SSF_SHOWALLOBJECTS);

    void* block = shell::CoTaskMemAlloc(16);
    EXPECT_NE(nullptr, block);
    shell::CoTaskMemFree(block);
    EXPECT_TRUE(shell::AnyLoaded());
    shell::EndCom();
    EXPECT_FALSE(shell::ComStarted());
}

}  // namespace
}  // namespace kestro::test
