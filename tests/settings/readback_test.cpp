// The start-up read-back: every rule, its order, and where it stops.
#include "settings/catalogue.h"
#include "settings/readback.h"
#include "formats/policy_file.h"
#include "registry/group_policy_files.h"
#include "settings/policy_sources.h"

#include <map>
#include "tests/engine_fixture.h"

namespace kestro::test {
namespace {

constexpr KeyHandle HKCU = kHkeyCurrentUser;
constexpr KeyHandle HKLM = kHkeyLocalMachine;
constexpr const char* kCdrom = "SYSTEM\\CurrentControlSet\\Services\\CDRom";
constexpr const char* kFileSystem = "SYSTEM\\CurrentControlSet\\Control\\FileSystem";
constexpr const char* kFont = "Control Panel\\Desktop";

class ReadBackTest : public EngineTest {
protected:
    std::string Load() { return ErrorOf([&] { LoadSettingsState(view_); }); }
    FakeView view_;
};

TEST_F(ReadBackTest, AFreshMachineShowsEverythingUpButAutorunAndCreatesOnlyKeys) {
    EXPECT_EQ("(no error)", Load());
    for (const Setting& row : kCatalogue) {
        if (!row.IsToggle()) continue;
        EXPECT_TRUE(view_.WasSet(row.control)) << row.control;
        EXPECT_EQ(std::string(row.control) == "sbDelAutorunCDROM", view_.Down(row.control)) << row.control;
    }
    EXPECT_EQ(0, view_.count());
    EXPECT_EQ(1, view_.countSets());
    EXPECT_TRUE(store_.KeyExists(HKCU, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Uninstall"));
    EXPECT_FALSE(store_.KeyExists(HKCU, "DEFAULT"));  // font smoothing is read where Windows keeps it
    EXPECT_TRUE(store_.KeyExists(HKLM, "SYSTEM\\CurrentControlSet\\Services\\usbstor"));
    EXPECT_EQ(std::string::npos, store_.Dump().find("type=")) << "the read-back created a value";
    EXPECT_FALSE(store_.KeyExists(HKCU, "Software\\Microsoft\\Search Assistant"));  // not read back
    EXPECT_FALSE(store_.KeyExists(kHkeyClassesRoot, "CLSID"));
}

TEST_F(ReadBackTest, AutorunIsDownUnlessTheValueIsOne) {
    for (std::uint32_t value : {0u, 1u, 2u}) {
        MemoryRegistryStore fresh;
        ScopedRegistryStore scope(fresh);
        fresh.PutValue(HKLM, kCdrom, "AutoRun", kRegDword, DwordBytes(value));
        FakeView view;
        LoadSettingsState(view);
        EXPECT_EQ(value != 1, view.Down("sbDelAutorunCDROM")) << value;
    }
}

TEST_F(ReadBackTest, LastAccessIsDownUnlessTheValueIsZero) {
    for (std::uint32_t value : {0u, 1u, 2u}) {
        MemoryRegistryStore fresh;
        ScopedRegistryStore scope(fresh);
        fresh.PutValue(HKLM, kFileSystem, "NtfsDisableLastAccessUpdate", kRegDword, DwordBytes(value));
        FakeView view;
        LoadSettingsState(view);
        EXPECT_EQ(value != 0, view.Down("sbFastOpenDir")) << value;
    }
}

TEST_F(ReadBackTest, PlainTogglesAndDevicesNeedTheirExactDownValue) {
    PutDword(HKCU, kExplorer, "NoRun", 1);
    PutDword(HKCU, kExplorer, "NoFind", 2);
    PutDword(HKCU, "Control Panel\\Desktop", "PaintDesktopVersion", 1);
    PutDword(HKLM, "SYSTEM\\CurrentControlSet\\Services\\cdrom", "start", 3);
    PutDword(HKLM, "SYSTEM\\CurrentControlSet\\Services\\flpydisk", "start", 1);
    PutDword(HKLM, "SYSTEM\\CurrentControlSet\\Services\\parport", "start", 0);
    PutDword(HKLM, "SYSTEM\\CurrentControlSet\\Services\\usbstor", "start", 4);
    PutDword(HKCU, kExplorer, "MaxRecentDocs", 0xFFFFFFFF);
    EXPECT_EQ("(no error)", Load());
    EXPECT_TRUE(view_.Down("sbDelDoing"));
    EXPECT_FALSE(view_.Down("sbDelFind"));
    EXPECT_TRUE(view_.Down("sbPrintVerWindows"));
    EXPECT_FALSE(view_.Down("sbBanCDROM"));
    EXPECT_FALSE(view_.Down("sbBanFDD"));
    EXPECT_FALSE(view_.Down("sbBanParallesPort"));
    EXPECT_TRUE(view_.Down("sbBanUSB"));
    EXPECT_EQ(-1, view_.count());
}

// Down exactly when smoothing is on (a text that is not "0") and of the
// ClearType kind; the kind is read only then, and the order not at all.
TEST_F(ReadBackTest, FontSmoothingIsDownWhenOnAndClearType) {
    PutText(HKCU, kFont, "FontSmoothing", "2");
    PutDword(HKCU, kFont, "FontSmoothingType", 2);
    PutDword(HKCU, kFont, "FontSmoothingOrientation", 0);
    EXPECT_EQ("(no error)", Load());
    EXPECT_TRUE(view_.Down("sbClearTypeStyle"));

    PutDword(HKCU, kFont, "FontSmoothingType", 1);  // standard smoothing is not ClearType
    FakeView second;
    LoadSettingsState(second);
    EXPECT_FALSE(second.Down("sbClearTypeStyle"));

    // Behind smoothing off, a kind of the wrong type is never read.
    PutText(HKCU, kFont, "FontSmoothing", "0");
    PutText(HKCU, kFont, "FontSmoothingType", "not a number");
    FakeView third;
    EXPECT_EQ("(no error)", ErrorOf([&] { LoadSettingsState(third); }));
    EXPECT_FALSE(third.Down("sbClearTypeStyle"));
    EXPECT_TRUE(third.WasSet("sbBanUSB"));

    // Behind smoothing on, it is, and stops the read-back there.
    PutText(HKCU, kFont, "FontSmoothing", "1");
    PutText(HKCU, kFont, "FontSmoothingType", "no");
    FakeView fourth;
    EXPECT_EQ("Invalid data type for 'FontSmoothingType'", ErrorOf([&] { LoadSettingsState(fourth); }));
    EXPECT_FALSE(fourth.Down("sbClearTypeStyle"));
    EXPECT_FALSE(fourth.WasSet("sbBanUSB"));
}

// The old REG_DWORD copy is not what Windows keeps: a DWORD there is of the
// wrong type, as a text is where a number belongs.
TEST_F(ReadBackTest, FontSmoothingAsANumberIsOfTheWrongType) {
    PutDword(HKCU, kFont, "FontSmoothing", 2);
    EXPECT_EQ("Invalid data type for 'FontSmoothing'", Load());
    EXPECT_FALSE(view_.Down("sbClearTypeStyle"));
}

TEST_F(ReadBackTest, AValueOfTheWrongTypeStopsTheReadBackThere) {
    PutDword(HKCU, kExplorer, "NoNetworkConnections", 1);
    PutDword(HKCU, kExplorer, "StartmenuLogoff", 1);
    PutText(HKCU, kExplorer, "NoRecentDocsMenu", "1");  // sbDelDocuments, fourth of the plain toggles
    PutDword(HKCU, kExplorer, "NoRun", 1);
    PutDword(HKCU, kExplorer, "MaxRecentDocs", 12);
    EXPECT_EQ("Invalid data type for 'NoRecentDocsMenu'", Load());
    EXPECT_EQ(12, view_.count());
    EXPECT_TRUE(view_.Down("sbDelLANConnection"));
    EXPECT_TRUE(view_.Down("sbDelChangeUser"));
    EXPECT_TRUE(view_.WasSet("sbDelFavorites"));
    EXPECT_FALSE(view_.WasSet("sbDelDocuments"));
    EXPECT_FALSE(view_.WasSet("sbDelDoing"));
    EXPECT_FALSE(view_.Down("sbDelDoing"));
    EXPECT_FALSE(view_.WasSet("sbDelAutorunCDROM"));  // stays up, as designed
}

// A user without administrator rights may read HKEY_LOCAL_MACHINE but not
// change it.
TEST_F(ReadBackTest, ALimitedAccountSeesWhatIsStoredUnderTheMachineKey) {
    PutDword(HKLM, kCdrom, "AutoRun", 1);
    PutDword(HKLM, kFileSystem, "NtfsDisableLastAccessUpdate", 1);
    PutDword(HKLM, "SYSTEM\\CurrentControlSet\\Services\\cdrom", "start", 4);
    PutDword(HKLM, "SYSTEM\\CurrentControlSet\\Services\\usbstor", "start", 4);
    PutDword(HKCU, kExplorer, "NoRun", 1);
    store_.DenyWrite(HKLM, "");
    const std::string before = store_.Dump();
    EXPECT_EQ("(no error)", Load());
    EXPECT_FALSE(view_.Down("sbDelAutorunCDROM"));
    EXPECT_TRUE(view_.Down("sbFastOpenDir"));
    EXPECT_TRUE(view_.Down("sbBanCDROM"));
    EXPECT_TRUE(view_.Down("sbBanUSB"));
    EXPECT_TRUE(view_.Down("sbDelDoing"));
    // A missing machine key is not made, and counts as 0.
    EXPECT_FALSE(view_.Down("sbBanFDD"));
    EXPECT_FALSE(store_.KeyExists(HKLM, "SYSTEM\\CurrentControlSet\\Services\\flpydisk"));
    const std::string after = store_.Dump();
    EXPECT_EQ(before.substr(before.find("[HKEY_LOCAL_MACHINE]")), after.substr(after.find("[HKEY_LOCAL_MACHINE]")));

    // Writes still need the rights, and fail as before.
    EXPECT_EQ("Failed to set data for 'start'", ErrorOf([] { Zfunctions::SetUsbstorStart(3); }));
    EXPECT_EQ(4, Dword(HKLM, "SYSTEM\\CurrentControlSet\\Services\\usbstor", "start"));
}

TEST_F(ReadBackTest, AKeyNeitherReadableNorWritableStillCountsAsZero) {
    PutDword(HKLM, "SYSTEM\\CurrentControlSet\\Services\\usbstor", "start", 4);
    store_.Deny(HKLM, "SYSTEM\\CurrentControlSet\\Services\\usbstor");
    EXPECT_EQ("(no error)", Load());
    EXPECT_FALSE(view_.Down("sbBanUSB"));
}

TEST_F(ReadBackTest, ReadsInTheDocumentedOrder) {
    LoadSettingsState(view_);
    std::vector<std::string> names;
    for (const auto& call : store_.Journal())
        if (call.op == MemoryRegistryStore::Op::QueryValue || call.op == MemoryRegistryStore::Op::QueryValueW)
            names.push_back(call.name);
    const std::vector<std::string> expected = {
        "MaxRecentDocs", "NoNetworkConnections", "StartmenuLogoff", "NoFavoritesMenu", "NoRecentDocsMenu",
        "ClearRecentDocsOnExit", "NoRecentDocsHistory", "NoSMMyPictures", "NoSetTaskbar", "NoAddPrinter", "NoFind",
        "NoSMHelp", "NoRun", "NoStartMenuMorePrograms", "NoChangeStartMenu", "PaintDesktopVersion",
        "NoAddRemovePrograms", "NoDispCPL", "NoThemesTab", "NoDispBackgroundPage", "NoDispScrSavPage",
        "NoDispAppearancePage", "DisableTaskMgr", "DisableRegistryTools", "AutoRun", "NtfsDisableLastAccessUpdate",
        "FontSmoothing", "start", "start", "start", "start"};
    EXPECT_EQ(expected, names);
}

}  // namespace
}  // namespace kestro::test

namespace kestro::test {
namespace {

// The view, with the sources it was told.
class SourceView : public FakeView {
public:
    void SetSettingSource(const char* control, unsigned sources) override { sources_[control] = sources; }
    std::map<std::string, unsigned> sources_;
};

TEST_F(ReadBackTest, AToggleInForceFromTheMachineOrTheLocalGroupPolicyIsDownAndSaysWhere) {
    constexpr const char* kExplorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
    constexpr const char* kSystem = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
    store_.PutValue(HKLM, kExplorer, "NoRun", kRegDword, DwordBytes(1));
    store_.PutValue(HKCU, kExplorer, "NoRun", kRegDword, DwordBytes(0));
    store_.PutValue(HKLM, kExplorer, "NoFind", kRegDword, DwordBytes(0));  // the machine says up
    store_.PutValue(HKCU, kExplorer, "NoFind", kRegDword, DwordBytes(1));
    store_.PutValue(HKLM, kExplorer, "MaxRecentDocs", kRegDword, DwordBytes(5));
    MemoryGroupPolicyFiles files;
    files.present[0] = true;
    files.bytes[0] = WritePolicyFiles({RegValue{HKCU, kSystem, "DisableTaskMgr", kRegDword, DwordBytes(1)}}).user;
    store_.AttachLocalGroupPolicy(&files);
    SourceView view;
    LoadSettingsState(view);
    EXPECT_TRUE(view.Down("sbDelDoing"));
    EXPECT_FALSE(view.Down("sbDelFind"));
    EXPECT_TRUE(view.Down("sbDelTaskMGR"));
    EXPECT_EQ(5, view.count());
    EXPECT_EQ((std::map<std::string, unsigned>{{"sbDelDoing", kSourceMachine},
                                               {"sbDelFind", kSourceMachine},
                                               {"sbDelTaskMGR", kSourceLocalGpo},
                                               {"bbSetNumRemDocuments", kSourceMachine}}),
              view.sources_);
    // The read-back reads the machine's keys and makes none of them.
    EXPECT_FALSE(store_.KeyExists(HKLM, kSystem));
}

TEST_F(ReadBackTest, AValueOfADomainsObjectIsDownAndSaysSo) {
    constexpr const char* kExplorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
    constexpr const char* kHistory = "Software\\Microsoft\\Windows\\CurrentVersion\\Group Policy\\History\\"
                                     "{35378EAC-683F-11D2-A89A-00C04FBBCF62}\\0";
    store_.PutValue(HKLM, kExplorer, "NoRun", kRegDword, DwordBytes(1));
    store_.PutValue(HKLM, kHistory, "GPOLink", kRegDword, DwordBytes(4));  // an organizational unit's
    SourceView view;
    LoadSettingsState(view);
    EXPECT_TRUE(view.Down("sbDelDoing"));
    EXPECT_EQ((std::map<std::string, unsigned>{{"sbDelDoing", kSourceDomain}}), view.sources_);
}

}  // namespace
}  // namespace kestro::test
