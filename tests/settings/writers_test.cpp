// Every writer of the catalogue: where its value lands, with what type and
// data, for a toggle put down and put up.
#include "settings/catalogue.h"
#include "settings/readback.h"
#include "tests/engine_fixture.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#ifdef _WIN32
#include <windows.h>
#endif

namespace kestro::test {
namespace {

constexpr const char* kSystem = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
constexpr KeyHandle HKCU = kHkeyCurrentUser;
constexpr KeyHandle HKLM = kHkeyLocalMachine;

// Written out independently of the catalogue, from what each setting must do.
struct Expected {
    void (*writer)(std::int32_t);
    const char* control;
    KeyHandle root;
    const char* path;
    const char* value;
    std::int32_t argDown, storedDown, argUp, storedUp;
};

const Expected kToggles[] = {
    {Zfunctions::SetNoNetworkConnections, "sbDelLANConnection", HKCU, kExplorer, "NoNetworkConnections", 1, 1, 0, 0},
    {Zfunctions::SetStartmenuLogoff, "sbDelChangeUser", HKCU, kExplorer, "StartmenuLogoff", 1, 1, 0, 0},
    {Zfunctions::SetNoFavoritesMenu, "sbDelFavorites", HKCU, kExplorer, "NoFavoritesMenu", 1, 1, 0, 0},
    {Zfunctions::SetNoRecentDocsMenu, "sbDelDocuments", HKCU, kExplorer, "NoRecentDocsMenu", 1, 1, 0, 0},
    {Zfunctions::SetClearRecentDocsOnExit, "sbClearResentWhenShoutDownSystem", HKCU, kExplorer, "ClearRecentDocsOnExit", 1, 1, 0, 0},
    {Zfunctions::SetNoRecentDocsHistory, "sbNotRecent", HKCU, kExplorer, "NoRecentDocsHistory", 1, 1, 0, 0},
    {Zfunctions::SetNoSMMyPictures, "sbDelMyPictures", HKCU, kExplorer, "NoSMMyPictures", 1, 1, 0, 0},
    {Zfunctions::SetNoSetTaskbar, "sbDelTaskBar", HKCU, kExplorer, "NoSetTaskbar", 1, 1, 0, 0},
    {Zfunctions::SetNoAddPrinter, "sbBanSetupPrinters", HKCU, kExplorer, "NoAddPrinter", 1, 1, 0, 0},
    {Zfunctions::SetNoFind, "sbDelFind", HKCU, kExplorer, "NoFind", 1, 1, 0, 0},
    {Zfunctions::SetNoSMHelp, "sbDelHelp", HKCU, kExplorer, "NoSMHelp", 1, 1, 0, 0},
    {Zfunctions::SetNoRun, "sbDelDoing", HKCU, kExplorer, "NoRun", 1, 1, 0, 0},
    {Zfunctions::SetNoStartMenuMorePrograms, "sbDelAllProgramm", HKCU, kExplorer, "NoStartMenuMorePrograms", 1, 1, 0, 0},
    {Zfunctions::SetNoChangeStartMenu, "sbDelPubmenuInStart", HKCU, kExplorer, "NoChangeStartMenu", 1, 1, 0, 0},
    {Zfunctions::SetPaintDesktopVersion, "sbPrintVerWindows", HKCU, "Control Panel\\Desktop", "PaintDesktopVersion", 1, 1, 0, 0},
    {Zfunctions::SetNoAddRemovePrograms, "sbBanInstallUninstallSoft", HKCU, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Uninstall", "NoAddRemovePrograms", 1, 1, 0, 0},
    {Zfunctions::SetNoDispCPL, "sbBanMonitor", HKCU, kSystem, "NoDispCPL", 1, 1, 0, 0},
    {Zfunctions::SetNoThemesTab, "sbBanTheams", HKCU, kExplorer, "NoThemesTab", 1, 1, 0, 0},
    {Zfunctions::SetNoDispBackgroundPage, "sbBanFon", HKCU, kSystem, "NoDispBackgroundPage", 1, 1, 0, 0},
    {Zfunctions::SetNoDispScrSavPage, "sbBanZastavka", HKCU, kSystem, "NoDispScrSavPage", 1, 1, 0, 0},
    {Zfunctions::SetNoDispAppearancePage, "sbBanOformlenie", HKCU, kSystem, "NoDispAppearancePage", 1, 1, 0, 0},
    {Zfunctions::SetDisableTaskMgr, "sbDelTaskMGR", HKCU, kSystem, "DisableTaskMgr", 1, 1, 0, 0},
    {Zfunctions::SetDisableRegistryTools, "sbBanRegEdit", HKCU, kSystem, "DisableRegistryTools", 1, 1, 0, 0},
    {Zfunctions::SetCdromAutoRun, "sbDelAutorunCDROM", HKLM, "SYSTEM\\CurrentControlSet\\Services\\CDRom", "AutoRun", 1, 0, 0, 1},
    {Zfunctions::SetNtfsDisableLastAccessUpdate, "sbFastOpenDir", HKLM, "SYSTEM\\CurrentControlSet\\Control\\FileSystem", "NtfsDisableLastAccessUpdate", 1, 1, 0, 0},
    {Zfunctions::SetCdromStart, "sbBanCDROM", HKLM, "SYSTEM\\CurrentControlSet\\Services\\CDRom", "start", 4, 4, 3, 3},
    {Zfunctions::SetFlpydiskStart, "sbBanFDD", HKLM, "SYSTEM\\CurrentControlSet\\Services\\Flpydisk", "start", 4, 4, 3, 3},
    {Zfunctions::SetParportStart, "sbBanParallesPort", HKLM, "SYSTEM\\CurrentControlSet\\Services\\Parport", "start", 4, 4, 3, 3},
    {Zfunctions::SetUsbstorStart, "sbBanUSB", HKLM, "SYSTEM\\CurrentControlSet\\Services\\USBSTOR", "start", 4, 4, 3, 3},
};

using WriterTest = EngineTest;

TEST_F(WriterTest, EveryToggleStoresItsDownAndUpValuesWhereTheyBelong) {
    for (const Expected& e : kToggles) {
        MemoryRegistryStore fresh;
        ScopedRegistryStore scope(fresh);
        e.writer(e.argDown);
        EXPECT_EQ(e.storedDown, StoredDword(fresh, e.root, e.path, e.value)) << e.control;
        // Nothing else was written: one key path and one value.
        const KeyHandle other = e.root == HKCU ? HKLM : HKCU;
        EXPECT_FALSE(fresh.KeyExists(other, "Software")) << e.control;
        EXPECT_FALSE(fresh.KeyExists(other, "SYSTEM")) << e.control;
        EXPECT_FALSE(fresh.KeyExists(kHkeyClassesRoot, "CLSID")) << e.control;
        FakeView afterDown;  // the next start shows what the click left
        LoadSettingsState(afterDown);
        EXPECT_TRUE(afterDown.Down(e.control)) << e.control;

        e.writer(e.argUp);
        StoredValue up = Stored(fresh, e.root, e.path, e.value);
        EXPECT_EQ(kRegDword, up.type) << e.control;  // an up toggle stores a value, it deletes none
        EXPECT_EQ(e.storedUp, StoredDword(fresh, e.root, e.path, e.value)) << e.control;
        EXPECT_EQ(0, fresh.OpenHandleCount()) << e.control;
        FakeView afterUp;
        LoadSettingsState(afterUp);
        EXPECT_FALSE(afterUp.Down(e.control)) << e.control;

        // The handler's arguments are the catalogue's.
        const Setting* row = FindSettingByControl(e.control);
        ASSERT_NE(nullptr, row) << e.control;
        EXPECT_EQ(e.argDown, row->argDown) << e.control;
        EXPECT_EQ(e.argUp, row->argUp) << e.control;
    }
}

TEST_F(WriterTest, CatalogueHasThirtyTogglesAndEveryWriterOnce) {
    int toggles = 0;
    for (const Setting& row : kCatalogue) {
        if (row.IsToggle()) ++toggles;
        EXPECT_EQ(std::string(row.control) + "Click", row.handler);
    }
    EXPECT_EQ(30, toggles);
    EXPECT_EQ(35u, kSettingCount);
    // Every toggle of the catalogue is checked above, font smoothing on its own.
    for (const Setting& row : kCatalogue) {
        if (!row.IsToggle() || std::string(row.control) == "sbClearTypeStyle") continue;
        EXPECT_TRUE(std::any_of(std::begin(kToggles), std::end(kToggles),
                                [&](const Expected& e) { return std::string(e.control) == row.control; }))
            << row.control << " has no row in kToggles";
    }
}

TEST_F(WriterTest, AutoRunStoresTheOppositeOfTheState) {
    Zfunctions::SetCdromAutoRun(2);
    EXPECT_EQ(1, Dword(HKLM, "SYSTEM\\CurrentControlSet\\Services\\CDRom", "AutoRun"));
}

TEST_F(WriterTest, BothCdromSpellingsShareOneKey) {
    Zfunctions::SetCdromAutoRun(1);
    Zfunctions::SetCdromStart(4);
    StoredValue autorun = Stored(store_, HKLM, "SYSTEM\\CurrentControlSet\\Services\\CDRom", "AutoRun");
    StoredValue start = Stored(store_, HKLM, "SYSTEM\\CurrentControlSet\\Services\\CDRom", "start");
    EXPECT_EQ(DwordBytes(0), autorun.data);
    EXPECT_EQ(DwordBytes(4), start.data);
    const std::string dump = store_.Dump();
    EXPECT_NE(std::string::npos, dump.find("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\CDRom]"));
    EXPECT_EQ(std::string::npos, dump.find("services\\cdrom]")) << dump;  // no second key
    EXPECT_NE(std::string::npos, dump.find("  start type=4")) << "the value name is lower case";
}

TEST_F(WriterTest, DeviceUpStoresThreeWhateverWasThere) {
    PutDword(HKLM, "SYSTEM\\CurrentControlSet\\Services\\usbstor", "Start", 0);
    Zfunctions::SetUsbstorStart(3);
    EXPECT_EQ(3, Dword(HKLM, "SYSTEM\\CurrentControlSet\\Services\\USBSTOR", "start"));
}

// Off a running Windows, what SystemParametersInfo would store: the text
// "2" or "0", and when on, ClearType (2) in RGB order (1).
TEST_F(WriterTest, FontSmoothingStoresWhatSystemParametersInfoStoresWhereWindowsReadsIt) {
    const char* path = "Control Panel\\Desktop";
    Zfunctions::SetFontSmoothing(1);
    StoredValue smoothing = StoredW(store_, HKCU, path, "FontSmoothing");
    EXPECT_EQ(kRegSz, smoothing.type);
    EXPECT_EQ(Utf16Bytes(u"2"), smoothing.data);
    EXPECT_EQ(2, Dword(HKCU, path, "FontSmoothingType"));
    EXPECT_EQ(1, Dword(HKCU, path, "FontSmoothingOrientation"));
    EXPECT_FALSE(store_.KeyExists(HKCU, "DEFAULT")) << "the old key is neither written nor made";
    FakeView afterDown;
    LoadSettingsState(afterDown);
    EXPECT_TRUE(afterDown.Down("sbClearTypeStyle"));

    // Up writes only the switch: the kind and order stay for the next time.
    Zfunctions::SetFontSmoothing(0);
    EXPECT_EQ(Utf16Bytes(u"0"), StoredW(store_, HKCU, path, "FontSmoothing").data);
    EXPECT_EQ(2, Dword(HKCU, path, "FontSmoothingType"));
    EXPECT_EQ(1, Dword(HKCU, path, "FontSmoothingOrientation"));
    FakeView afterUp;
    LoadSettingsState(afterUp);
    EXPECT_FALSE(afterUp.Down("sbClearTypeStyle"));
    EXPECT_EQ(0, store_.OpenHandleCount());
}

TEST_F(WriterTest, FontSmoothingLeavesAnOldDefaultKeyAlone) {
    const char* old = "DEFAULT\\Control Panel\\Desktop";
    PutDword(HKCU, old, "FontSmoothing", 2);
    Zfunctions::SetFontSmoothing(0);
    EXPECT_EQ(2, Dword(HKCU, old, "FontSmoothing"));
    FakeView view;  // and it is not what the toggle shows
    LoadSettingsState(view);
    EXPECT_FALSE(view.Down("sbClearTypeStyle"));
}

TEST_F(WriterTest, FontSmoothingFailsOnTheSwitchOrTheKindButNotOnTheOrder) {
    const char* path = "Control Panel\\Desktop";
    store_.FailCall(MemoryRegistryStore::Op::SetValueW, 1);
    EXPECT_EQ("Failed to set data for 'FontSmoothing'", ErrorOf([] { Zfunctions::SetFontSmoothing(1); }));
    EXPECT_FALSE(Stored(store_, HKCU, path, "FontSmoothingType").present);

    MemoryRegistryStore second;
    ScopedRegistryStore scope(second);
    second.FailCall(MemoryRegistryStore::Op::SetValue, 1);
    EXPECT_EQ("Failed to set data for 'FontSmoothingType'", ErrorOf([] { Zfunctions::SetFontSmoothing(1); }));
    EXPECT_EQ(Utf16Bytes(u"2"), StoredW(second, HKCU, path, "FontSmoothing").data);
    EXPECT_FALSE(Stored(second, HKCU, path, "FontSmoothingOrientation").present);

    // Windows XP before Service Pack 2 refuses the order: that is no error.
    MemoryRegistryStore third;
    ScopedRegistryStore again(third);
    third.FailCall(MemoryRegistryStore::Op::SetValue, 2);
    EXPECT_EQ("(no error)", ErrorOf([] { Zfunctions::SetFontSmoothing(1); }));
    EXPECT_EQ(2, StoredDword(third, HKCU, path, "FontSmoothingType"));
    EXPECT_FALSE(Stored(third, HKCU, path, "FontSmoothingOrientation").present);
    EXPECT_EQ(0, third.OpenHandleCount());
}

TEST_F(WriterTest, RecentDocsCountIsStoredUnchanged) {
    Zfunctions::SetMaxRecentDocs(-1);
    EXPECT_EQ(DwordBytes(0xFFFFFFFF), Stored(store_, HKCU, kExplorer, "MaxRecentDocs").data);
    Zfunctions::SetMaxRecentDocs(15);
    EXPECT_EQ(15, Dword(HKCU, kExplorer, "MaxRecentDocs"));
}

TEST_F(WriterTest, TextWritersStoreUtf16AndOneZero) {
    const char* bin = "CLSID\\{645FF040-5081-101B-9F08-00AA002F954E}";
    Zfunctions::SetRecycleBinName("");
    StoredValue name = StoredW(store_, kHkeyClassesRoot, bin, "LocalizedString");
    EXPECT_EQ(kRegSz, name.type);
    EXPECT_EQ((std::vector<std::uint8_t>{0, 0}), name.data);

    Zfunctions::SetRecycleBinInfoTip("Корзина");
    EXPECT_EQ(Utf16Bytes(u"Корзина"), StoredW(store_, kHkeyClassesRoot, bin, "InfoTip").data);
    // An 8-bit reader on a Russian system sees the bytes an 8-bit write gave.
    EXPECT_EQ(TextBytes("\xCA\xEE\xF0\xE7\xE8\xED\xE0"), Stored(store_, kHkeyClassesRoot, bin, "InfoTip").data);

    Zfunctions::SetWallpaper("C:\\windows\\Kestro.bmp");
    StoredValue wallpaper = Stored(store_, HKCU, "Control Panel\\Desktop", "Wallpaper");
    EXPECT_EQ(kRegSz, wallpaper.type);
    EXPECT_EQ(TextBytes("C:\\windows\\Kestro.bmp"), wallpaper.data);
}

TEST(TextWriterCodePageTest, CyrillicArrivesAsTypedOnAWesternSystem) {
    MemoryRegistryStore store(CodePage::Windows1252);
    ScopedRegistryStore scope(store);
    const char* bin = "CLSID\\{645FF040-5081-101B-9F08-00AA002F954E}";
    Zfunctions::SetRecycleBinName("Корзина");
    Zfunctions::SetRecycleBinInfoTip("Здесь лежит удалённое");
    Zfunctions::SetWallpaper("C:\\Картинки\\фон.bmp");
    EXPECT_EQ(Utf16Bytes(u"Корзина"), StoredW(store, kHkeyClassesRoot, bin, "LocalizedString").data);
    EXPECT_EQ(Utf16Bytes(u"Здесь лежит удалённое"), StoredW(store, kHkeyClassesRoot, bin, "InfoTip").data);
    EXPECT_EQ(Utf16Bytes(u"C:\\Картинки\\фон.bmp"), StoredW(store, HKCU, "Control Panel\\Desktop", "Wallpaper").data);
    // What an 8-bit write of the same text would have stored instead.
    EXPECT_EQ(TextBytes("???????"), Stored(store, kHkeyClassesRoot, bin, "LocalizedString").data);
    EXPECT_EQ(0, store.OpenHandleCount());
}

TEST(TextWriterCodePageTest, MalformedUtf8BecomesTheReplacementCharacter) {
    MemoryRegistryStore store;
    ScopedRegistryStore scope(store);
    Zfunctions::SetWallpaper("a\xFF" "b\xD0");  // a byte that never starts a character; a cut-off one
    EXPECT_EQ(Utf16Bytes(u"a\uFFFDb\uFFFD"), StoredW(store, HKCU, "Control Panel\\Desktop", "Wallpaper").data);
}

TEST_F(WriterTest, ClearingSearchHistoryRemovesTheWholeTreeAndNothingElse) {
    const std::string base = "Software\\Microsoft\\Search Assistant";
    PutText(HKCU, base + "\\ACMru\\5001", "000", "secret");
    PutText(HKCU, base + "\\ACMru\\5001\\Inner", "000", "deeper");
    PutText(HKCU, base + "\\ACMru\\5603", "000", "other");
    PutText(HKCU, base + "\\Other", "keep", "me");
    Zfunctions::ClearSearchHistory();
    EXPECT_FALSE(store_.KeyExists(HKCU, base + "\\ACMru"));
    EXPECT_TRUE(Stored(store_, HKCU, base + "\\Other", "keep").present);
}

TEST_F(WriterTest, ClearingSearchHistoryWithoutAnyCreatesTheKeyEmpty) {
    Zfunctions::ClearSearchHistory();
    EXPECT_TRUE(store_.KeyExists(HKCU, "Software\\Microsoft\\Search Assistant"));
    EXPECT_EQ("[HKEY_CLASSES_ROOT]\n[HKEY_CURRENT_USER]\n[HKEY_CURRENT_USER\\Software]\n"
              "[HKEY_CURRENT_USER\\Software\\Microsoft]\n[HKEY_CURRENT_USER\\Software\\Microsoft\\Search Assistant]\n"
              "[HKEY_LOCAL_MACHINE]\n",
              store_.Dump());
}

TEST(EnvironmentTest, ExpandsWindowsAndTempAndLeavesUnsetVariablesAlone) {
#ifdef _WIN32
    char saved[512] = {};
    DWORD had = GetEnvironmentVariableA("TEMP", saved, sizeof saved);
    ASSERT_TRUE(SetEnvironmentVariableA("TEMP", nullptr));
    EXPECT_EQ("%TEMP%", Zfunctions::GetTempDir());
    ASSERT_TRUE(SetEnvironmentVariableA("TEMP", "C:\\Kestro Temp"));
    EXPECT_EQ("C:\\Kestro Temp", Zfunctions::GetTempDir());
    SetEnvironmentVariableA("TEMP", had ? saved : nullptr);
    EXPECT_NE("%windir%", Zfunctions::GetWindowsDir());
#else
    const char* saved = std::getenv("TEMP");
    std::string keep = saved ? saved : "";
    unsetenv("TEMP");
    EXPECT_EQ("%TEMP%", Zfunctions::GetTempDir());
    setenv("TEMP", "/tmp/kestro temp", 1);
    EXPECT_EQ("/tmp/kestro temp", Zfunctions::GetTempDir());
    setenv("WINDIR", "C:\\WINDOWS", 1);
    EXPECT_EQ("C:\\WINDOWS", Zfunctions::GetWindowsDir());  // names ignore case, as on Windows
    unsetenv("WINDIR");
    EXPECT_EQ("%windir%", Zfunctions::GetWindowsDir());
    if (saved) setenv("TEMP", keep.c_str(), 1); else unsetenv("TEMP");
#endif
}

}  // namespace
}  // namespace kestro::test
