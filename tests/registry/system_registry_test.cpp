// The engine on the system's registry (Wine's here), checked from outside
// with reg.exe, an independent reader.
#include "registry/win_registry.h"
#include "settings/catalogue.h"
#include "settings/readback.h"
#include "tests/fakes.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <sstream>

namespace kestro::test {
namespace {

std::string RootText(KeyHandle root) {
    return root == kHkeyClassesRoot ? "HKCR" : root == kHkeyLocalMachine ? "HKLM" : "HKCU";
}

HKEY SystemRoot(KeyHandle root) {
    return root == kHkeyClassesRoot ? HKEY_CLASSES_ROOT : root == kHkeyLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

// "REG_DWORD 0x4" for one value as reg.exe lists it, or "" when reg.exe does
// not find it.
std::string RegQuery(const std::string& key, const std::string& value, const std::string& extra = "") {
    const std::string command = "reg.exe query \"" + key + "\" /v \"" + value + "\" " + extra + " 2>nul";
    FILE* pipe = _popen(command.c_str(), "r");
    if (!pipe) return "(reg.exe did not start)";
    std::string found;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe)) {
        std::istringstream in(line);
        std::string name, type, data;
        in >> name >> type;
        std::getline(in, data);
        const auto start = data.find_first_not_of(" \t");
        data = start == std::string::npos ? "" : data.substr(start);
        while (!data.empty() && (data.back() == '\r' || data.back() == '\n' || data.back() == ' ')) data.pop_back();
        if (_stricmp(name.c_str(), value.c_str()) == 0 && type.rfind("REG_", 0) == 0) found = type + (data.empty() ? "" : " " + data);
    }
    _pclose(pipe);
    return found;
}

// Always in the 64-bit view: the one the shell of 64-bit Windows reads.
std::string RegQuery(const Setting& row, std::size_t i) {
    return RegQuery(RootText(row.root) + "\\" + row.keyPath, row.valueNames[i], "/reg:64");
}

// The catalogue's paths are fixed: every case starts with none of its
// values and no search history.
class SystemRegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Where font smoothing was once written: the cases check it stays absent.
        RegDeleteKeyA(HKEY_CURRENT_USER, "DEFAULT\\Control Panel\\Desktop");
        for (const Setting& row : kCatalogue) {
            HKEY key = nullptr;
            if (RegOpenKeyExA(SystemRoot(row.root), row.keyPath, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
                continue;
            if (row.shape == WriteShape::RemoveSubkey) {
                RegistryCursor cursor;
                Zfunctions::OpenKeyPath(cursor, row.keyPath);
                cursor.RemoveKeyTree(row.valueNames[0]);
            } else {
                for (std::size_t i = 0; i < row.ValueCount(); ++i) RegDeleteValueA(key, row.valueNames[i]);
            }
            RegCloseKey(key);
        }
    }

    static void Put(KeyHandle root, const char* path, const char* name, DWORD type, const void* data, DWORD size) {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(SystemRoot(root), path, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                                                 nullptr, &key, nullptr));
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size));
        RegCloseKey(key);
    }

    static std::string ErrorOf(void (*action)()) {
        try {
            action();
        } catch (const ERegistryException& e) {
            return e.what();
        }
        return "(no error)";
    }
};

struct WriterCall {
    SettingId id;
    void (*down)();
    void (*up)();
};

TEST_F(SystemRegistryTest, EveryToggleWriterLandsWhereRegFindsIt) {
    using Z = Zfunctions;
    const WriterCall calls[] = {
        {SettingId::NoRun, [] { Z::SetNoRun(1); }, [] { Z::SetNoRun(0); }},
        {SettingId::NoNetworkConnections, [] { Z::SetNoNetworkConnections(1); }, [] { Z::SetNoNetworkConnections(0); }},
        {SettingId::StartmenuLogoff, [] { Z::SetStartmenuLogoff(1); }, [] { Z::SetStartmenuLogoff(0); }},
        {SettingId::NoFavoritesMenu, [] { Z::SetNoFavoritesMenu(1); }, [] { Z::SetNoFavoritesMenu(0); }},
        {SettingId::NoRecentDocsMenu, [] { Z::SetNoRecentDocsMenu(1); }, [] { Z::SetNoRecentDocsMenu(0); }},
        {SettingId::ClearRecentDocsOnExit, [] { Z::SetClearRecentDocsOnExit(1); }, [] { Z::SetClearRecentDocsOnExit(0); }},
        {SettingId::NoRecentDocsHistory, [] { Z::SetNoRecentDocsHistory(1); }, [] { Z::SetNoRecentDocsHistory(0); }},
        {SettingId::NoSMMyPictures, [] { Z::SetNoSMMyPictures(1); }, [] { Z::SetNoSMMyPictures(0); }},
        {SettingId::NoSetTaskbar, [] { Z::SetNoSetTaskbar(1); }, [] { Z::SetNoSetTaskbar(0); }},
        {SettingId::NoAddPrinter, [] { Z::SetNoAddPrinter(1); }, [] { Z::SetNoAddPrinter(0); }},
        {SettingId::NoFind, [] { Z::SetNoFind(1); }, [] { Z::SetNoFind(0); }},
        {SettingId::NoSMHelp, [] { Z::SetNoSMHelp(1); }, [] { Z::SetNoSMHelp(0); }},
        {SettingId::NoStartMenuMorePrograms, [] { Z::SetNoStartMenuMorePrograms(1); }, [] { Z::SetNoStartMenuMorePrograms(0); }},
        {SettingId::NoChangeStartMenu, [] { Z::SetNoChangeStartMenu(1); }, [] { Z::SetNoChangeStartMenu(0); }},
        {SettingId::PaintDesktopVersion, [] { Z::SetPaintDesktopVersion(1); }, [] { Z::SetPaintDesktopVersion(0); }},
        {SettingId::NoAddRemovePrograms, [] { Z::SetNoAddRemovePrograms(1); }, [] { Z::SetNoAddRemovePrograms(0); }},
        {SettingId::NoDispCPL, [] { Z::SetNoDispCPL(1); }, [] { Z::SetNoDispCPL(0); }},
        {SettingId::NoThemesTab, [] { Z::SetNoThemesTab(1); }, [] { Z::SetNoThemesTab(0); }},
        {SettingId::NoDispBackgroundPage, [] { Z::SetNoDispBackgroundPage(1); }, [] { Z::SetNoDispBackgroundPage(0); }},
        {SettingId::NoDispScrSavPage, [] { Z::SetNoDispScrSavPage(1); }, [] { Z::SetNoDispScrSavPage(0); }},
        {SettingId::NoDispAppearancePage, [] { Z::SetNoDispAppearancePage(1); }, [] { Z::SetNoDispAppearancePage(0); }},
        {SettingId::DisableTaskMgr, [] { Z::SetDisableTaskMgr(1); }, [] { Z::SetDisableTaskMgr(0); }},
        {SettingId::DisableRegistryTools, [] { Z::SetDisableRegistryTools(1); }, [] { Z::SetDisableRegistryTools(0); }},
        {SettingId::CdromAutoRun, [] { Z::SetCdromAutoRun(1); }, [] { Z::SetCdromAutoRun(0); }},
        {SettingId::NtfsDisableLastAccessUpdate, [] { Z::SetNtfsDisableLastAccessUpdate(1); }, [] { Z::SetNtfsDisableLastAccessUpdate(0); }},
        {SettingId::CdromStart, [] { Z::SetCdromStart(4); }, [] { Z::SetCdromStart(3); }},
        {SettingId::FlpydiskStart, [] { Z::SetFlpydiskStart(4); }, [] { Z::SetFlpydiskStart(3); }},
        {SettingId::ParportStart, [] { Z::SetParportStart(4); }, [] { Z::SetParportStart(3); }},
        {SettingId::UsbstorStart, [] { Z::SetUsbstorStart(4); }, [] { Z::SetUsbstorStart(3); }},
    };
    for (const WriterCall& call : calls) {
        const Setting& row = CatalogueRow(call.id);
        call.down();
        for (std::size_t i = 0; i < row.ValueCount(); ++i)
            EXPECT_EQ("REG_DWORD 0x" + std::to_string(row.down[i]), RegQuery(row, i)) << row.writer;
        FakeView down;
        LoadSettingsState(down);
        EXPECT_TRUE(down.Down(row.control)) << row.control;

        call.up();
        for (std::size_t i = 0; i < row.ValueCount(); ++i)
            EXPECT_EQ("REG_DWORD 0x" + std::to_string(row.up[i]), RegQuery(row, i)) << row.writer;
        FakeView up;
        LoadSettingsState(up);
        EXPECT_FALSE(up.Down(row.control)) << row.control;
    }
}

// Through user32: in effect at once in this process, and stored where and
// as Windows keeps it, for reg.exe to find.
TEST_F(SystemRegistryTest, FontSmoothingGoesThroughSystemParametersInfo) {
    const Setting& row = CatalogueRow(SettingId::FontSmoothing);
    Zfunctions::SetFontSmoothing(1);
    BOOL on = FALSE;
    UINT type = 0;
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETFONTSMOOTHING, 0, &on, 0));
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETFONTSMOOTHINGTYPE, 0, &type, 0));
    EXPECT_TRUE(on);
    EXPECT_EQ(static_cast<UINT>(FE_FONTSMOOTHINGCLEARTYPE), type);
    EXPECT_EQ("REG_SZ 2", RegQuery("HKCU\\Control Panel\\Desktop", "FontSmoothing"));
    EXPECT_EQ("REG_DWORD 0x2", RegQuery(row, 1));
    EXPECT_EQ("REG_DWORD 0x1", RegQuery(row, 2));
    EXPECT_EQ("", RegQuery("HKCU\\DEFAULT\\Control Panel\\Desktop", "FontSmoothing"));
    FakeView down;
    LoadSettingsState(down);
    EXPECT_TRUE(down.Down(row.control));

    Zfunctions::SetFontSmoothing(0);
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETFONTSMOOTHING, 0, &on, 0));
    EXPECT_FALSE(on);
    EXPECT_EQ("REG_SZ 0", RegQuery("HKCU\\Control Panel\\Desktop", "FontSmoothing"));
    FakeView up;
    LoadSettingsState(up);
    EXPECT_FALSE(up.Down(row.control));
}

TEST_F(SystemRegistryTest, NumberAndTextWritersLandWhereRegFindsThem) {
    Zfunctions::SetMaxRecentDocs(-1);
    EXPECT_EQ("REG_DWORD 0xffffffff", RegQuery(CatalogueRow(SettingId::MaxRecentDocs), 0));
    FakeView view;
    LoadSettingsState(view);
    EXPECT_EQ(-1, view.count());

    Zfunctions::SetRecycleBinName("Kestro Bin");
    EXPECT_EQ("REG_SZ Kestro Bin", RegQuery(CatalogueRow(SettingId::RecycleBinName), 0));
    Zfunctions::SetRecycleBinInfoTip("");
    EXPECT_EQ("REG_SZ", RegQuery(CatalogueRow(SettingId::RecycleBinInfoTip), 0));
    Zfunctions::SetWallpaper("C:\\windows\\kestro.bmp");
    EXPECT_EQ("REG_SZ C:\\windows\\kestro.bmp", RegQuery(CatalogueRow(SettingId::Wallpaper), 0));

    // The empty text is one zero byte, not a missing value.
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CLASSES_ROOT, CatalogueRow(SettingId::RecycleBinInfoTip).keyPath, 0,
                                           KEY_READ | KEY_WOW64_64KEY, &key));
    DWORD type = 0, size = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "InfoTip", nullptr, &type, nullptr, &size));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(1u, size);
    RegCloseKey(key);
}

TEST_F(SystemRegistryTest, RecycleBinNameReachesTheViewThe64BitShellReads) {
    Zfunctions::SetRecycleBinName("Kestro 64");
    EXPECT_EQ("REG_SZ Kestro 64",
              RegQuery("HKCR\\CLSID\\{645FF040-5081-101B-9F08-00AA002F954E}", "LocalizedString", "/reg:64"));
}

TEST_F(SystemRegistryTest, BothCdromSpellingsShareOneKey) {
    Zfunctions::SetCdromAutoRun(1);
    Zfunctions::SetCdromStart(4);
    EXPECT_EQ("REG_DWORD 0x0", RegQuery("HKLM\\SYSTEM\\CurrentControlSet\\Services\\CDRom", "AutoRun"));
    EXPECT_EQ("REG_DWORD 0x4", RegQuery("HKLM\\SYSTEM\\CurrentControlSet\\Services\\CDRom", "start"));
}

TEST_F(SystemRegistryTest, ValuesOfTheWrongTypeOrSizeRaiseTheirMessages) {
    const char* path = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
    Put(kHkeyCurrentUser, path, "NoRun", REG_SZ, "1", 2);
    EXPECT_EQ("Invalid data type for 'NoRun'", ErrorOf([] {
                  Zfunctions::ReadDwordValue("Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer", "NoRun");
              }));
    Put(kHkeyCurrentUser, path, "NoRun", REG_SZ, "123", 4);
    EXPECT_EQ("Invalid data type for 'NoRun'", ErrorOf([] {
                  Zfunctions::ReadDwordValue("Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer", "NoRun");
              }));
    Put(kHkeyCurrentUser, path, "NoRun", REG_SZ, "1234", 5);
    EXPECT_EQ("Failed to get data for 'NoRun'", ErrorOf([] {
                  Zfunctions::ReadDwordValue("Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer", "NoRun");
              }));
    Put(kHkeyCurrentUser, path, "NoRun", REG_BINARY, "\x01\x00\x00\x00", 4);
    EXPECT_EQ("Invalid data type for 'NoRun'", ErrorOf([] {
                  Zfunctions::ReadDwordValue("Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer", "NoRun");
              }));
    Put(kHkeyCurrentUser, path, "NoRun", REG_BINARY, "\x01\x00\x00\x00\x00", 5);
    EXPECT_EQ("Failed to get data for 'NoRun'", ErrorOf([] {
                  Zfunctions::ReadDwordValue("Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer", "NoRun");
              }));
}

TEST_F(SystemRegistryTest, SearchHistoryGoesWithItsWholeTree) {
    const char* base = "Software\\Microsoft\\Search Assistant\\ACMru";
    Put(kHkeyCurrentUser, (std::string(base) + "\\5001").c_str(), "000", REG_SZ, "x", 2);
    Put(kHkeyCurrentUser, (std::string(base) + "\\5001\\Inner").c_str(), "000", REG_SZ, "y", 2);
    Put(kHkeyCurrentUser, (std::string(base) + "\\5603").c_str(), "000", REG_SZ, "z", 2);
    Zfunctions::ClearSearchHistory();
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_CURRENT_USER, base, 0, KEY_READ, &key));
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Search Assistant", 0, KEY_READ, &key));
    RegCloseKey(key);
    Zfunctions::ClearSearchHistory();  // nothing left to clear: silent
}

TEST_F(SystemRegistryTest, WalksWithEmptyNamesEndOnTheSameKey) {
    Zfunctions::WriteDwordValue("Software\\\\KestroWalk\\", "Marker", 9);
    EXPECT_EQ("REG_DWORD 0x9", RegQuery("HKCU\\Software\\KestroWalk", "Marker"));
    EXPECT_EQ(9, Zfunctions::ReadDwordValue("\\Software\\KestroWalk", "Marker"));
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\KestroWalk");
}

}  // namespace
}  // namespace kestro::test
