// The window's start on Wine's registry: what each stored value shows, the
// keys the first start leaves, and a start that fails part-way.
#include "tests/ui/ui_fixture.h"

#include "core/text.h"
#include "settings/catalogue.h"

namespace kestro::test {
namespace {

constexpr const char* kExplorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr const char* kOldFont = "DEFAULT\\Control Panel\\Desktop";

// Font smoothing as the display settings set it: user32 keeps what it has
// read, so a value planted in the registry would not be seen in-process.
void Smoothing(bool on, UINT type) {
    ASSERT_TRUE(SystemParametersInfoW(SPI_SETFONTSMOOTHING, on, nullptr, SPIF_UPDATEINIFILE));
    ASSERT_TRUE(SystemParametersInfoW(SPI_SETFONTSMOOTHINGTYPE, 0, reinterpret_cast<PVOID>(static_cast<UINT_PTR>(type)),
                                      SPIF_UPDATEINIFILE));
}

void Put(HKEY root, const char* path, const char* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size));
    RegCloseKey(key);
}
void PutDword(HKEY root, const char* path, const char* name, DWORD value) {
    Put(root, path, name, REG_DWORD, &value, sizeof value);
}
bool KeyExists(HKEY root, const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

using StartTest = MainWindowTest;

TEST_F(StartTest, AFreshMachineShowsEveryToggleUpButAutorunAndNoRecentDocuments) {
    RegDeleteKeyA(HKEY_CURRENT_USER, kOldFont);
    CreateWindows();
    EXPECT_TRUE(errors_.errors.empty());
    for (const Setting& row : kCatalogue) {
        if (!row.IsToggle()) continue;
        EXPECT_EQ(std::string(row.control) == "sbDelAutorunCDROM", IsDown(row.control)) << row.control;
    }
    EXPECT_EQ(L"0", main_->Text("seNumRemDocuments"));
    // The first start leaves the catalogue's keys behind, empty.
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Uninstall"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kOldFont));  // font smoothing is asked of user32
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\usbstor"));
    // The system lines and the notice.
    EXPECT_EQ(L"Windows запущен из папки: " + FromAnsi(Zfunctions::GetWindowsDir()) + L"\r\n" +
                  L"Каталог временных файлов: " + FromAnsi(Zfunctions::GetTempDir()),
              main_->Text("mmSystemInfo"));
    EXPECT_EQ(L"учтите, что многие опции вступают в силу только после перезагрузки.", main_->Text("lbInfa"));
}

TEST_F(StartTest, EachRuleOfTheReadBack) {
    struct Case {
        const char* label;
        void (*plant)();
        const char* control;
        bool down;
    };
    const Case cases[] = {
        {"AutoRun 1", [] { PutDword(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\CDRom", "AutoRun", 1); },
         "sbDelAutorunCDROM", false},
        {"AutoRun 0", [] { PutDword(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\CDRom", "AutoRun", 0); },
         "sbDelAutorunCDROM", true},
        {"AutoRun 2", [] { PutDword(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\CDRom", "AutoRun", 2); },
         "sbDelAutorunCDROM", true},
        {"last access 2",
         [] { PutDword(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\FileSystem", "NtfsDisableLastAccessUpdate", 2); },
         "sbFastOpenDir", true},
        {"plain 2", [] { PutDword(HKEY_CURRENT_USER, kExplorer, "NoRun", 2); }, "sbDelDoing", false},
        {"plain 1", [] { PutDword(HKEY_CURRENT_USER, kExplorer, "NoRun", 1); }, "sbDelDoing", true},
        {"smoothing on, standard", [] { Smoothing(true, FE_FONTSMOOTHINGSTANDARD); }, "sbClearTypeStyle", false},
        {"smoothing on, ClearType", [] { Smoothing(true, FE_FONTSMOOTHINGCLEARTYPE); }, "sbClearTypeStyle", true},
        {"smoothing off, ClearType", [] { Smoothing(false, FE_FONTSMOOTHINGCLEARTYPE); }, "sbClearTypeStyle", false},
        {"the old triple alone",
         [] {
             PutDword(HKEY_CURRENT_USER, kOldFont, "FontSmoothing", 2);
             PutDword(HKEY_CURRENT_USER, kOldFont, "FontSmoothingType", 2);
             PutDword(HKEY_CURRENT_USER, kOldFont, "FontSmoothingOrientation", 1);
         },
         "sbClearTypeStyle", false},
        {"cdrom start 3", [] { PutDword(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\cdrom", "start", 3); },
         "sbBanCDROM", false},
        {"floppy start 1", [] { PutDword(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\flpydisk", "start", 1); },
         "sbBanFDD", false},
        {"parport start 0", [] { PutDword(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\parport", "start", 0); },
         "sbBanParallesPort", false},
        {"usbstor start 4", [] { PutDword(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\usbstor", "start", 4); },
         "sbBanUSB", true},
    };
    for (const Case& c : cases) {
        ResetCatalogueKeys();
        c.plant();
        CreateWindows();
        EXPECT_EQ(c.down, IsDown(c.control)) << c.label;
        EXPECT_TRUE(errors_.errors.empty()) << c.label;
        DestroyWindows();
    }
    // The old triple is no catalogue key: nothing else would remove it, and
    // the later suites in this prefix check that nobody writes it.
    RegDeleteKeyA(HKEY_CURRENT_USER, kOldFont);
}

TEST_F(StartTest, RecentDocumentsCountOfMinusOne) {
    PutDword(HKEY_CURRENT_USER, kExplorer, "MaxRecentDocs", 0xFFFFFFFF);
    CreateWindows();
    EXPECT_EQ(L"-1", main_->Text("seNumRemDocuments"));
}

TEST_F(StartTest, ATextValueStopsTheReadBackWithItsMessageAndTheWindowStillOpens) {
    PutDword(HKEY_CURRENT_USER, kExplorer, "NoNetworkConnections", 1);    // read before the bad value
    Put(HKEY_CURRENT_USER, kExplorer, "NoRecentDocsMenu", REG_SZ, "1", 2);  // sbDelDocuments
    PutDword(HKEY_CURRENT_USER, kExplorer, "NoRun", 1);                   // read after it
    PutDword(HKEY_CURRENT_USER, kExplorer, "MaxRecentDocs", 9);
    {
        DialogWatcher watcher;
        CreateWindows(/*realErrorBox=*/true);
        for (int i = 0; i < 100 && watcher.Seen_().empty(); ++i) PumpMessages(20);
        const auto seen = watcher.Seen_();
        ASSERT_EQ(1u, seen.size());
        EXPECT_EQ(L"Kestro", seen[0].caption);
        EXPECT_EQ(L"Invalid data type for 'NoRecentDocsMenu'", seen[0].text);
        EXPECT_EQ(Application().Hwnd(), seen[0].owner);
    }
    EXPECT_TRUE(IsWindowVisible(main_->Hwnd()));
    EXPECT_TRUE(IsWindowEnabled(main_->Hwnd()));
    EXPECT_TRUE(IsDown("sbDelLANConnection"));
    EXPECT_FALSE(IsDown("sbDelDocuments"));
    EXPECT_FALSE(IsDown("sbDelDoing"));
    EXPECT_FALSE(IsDown("sbDelAutorunCDROM"));  // not read: stays as designed
    EXPECT_EQ(L"9", main_->Text("seNumRemDocuments"));
    EXPECT_EQ(L"mmSystemInfo", main_->Text("mmSystemInfo"));
    EXPECT_EQ(L"lbInfa", main_->Text("lbInfa"));
    EXPECT_EQ(L"Kestro", TextOf(Application().Hwnd()));
}

TEST_F(StartTest, AnErrorBoxDisablesTheMainWindowWhileItIsUp) {
    CreateWindows(/*realErrorBox=*/true);
    DialogWatcher watcher(main_->Hwnd());
    Application().ShowError(L"Something failed.");
    const auto seen = watcher.Seen_();
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(L"Something failed.", seen[0].text);
    EXPECT_TRUE(seen[0].mainWindowDisabled);
    EXPECT_TRUE(IsWindowEnabled(main_->Hwnd()));
}

}  // namespace
}  // namespace kestro::test
