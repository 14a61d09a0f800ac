// kestroctl's exports and their way back: export reg and export pol write
// what the writers store, apply takes those files back on another machine,
// and a malformed or foreign file writes nothing.
#include "ctl/commands.h"
#include "ctl/current_state.h"
#include "ctl/profile.h"
#include "ctl/writes.h"
#include "formats/file_bytes.h"
#include "formats/policy_file.h"
#include "formats/reg_file.h"
#include "core/files.h"
#include "registry/memory_registry.h"
#include "tests/ctl/ctl_fakes.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace kestro::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr const char* kExplorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";

class ExportApplyTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = "kestroctl-export-" + std::to_string(getpid());
        MakeDirectory(dir_);
    }
    void TearDown() override {
        EXPECT_EQ(0, store_.OpenHandleCount());
        for (const char* name : {"/a.reg", "/p.ini", "/gpo/User/Registry.pol", "/gpo/Machine/Registry.pol", "/x.pol",
                                 "/x.reg"})
            std::remove((dir_ + name).c_str());
        for (const char* name : {"/gpo/User", "/gpo/Machine", "/gpo", ""}) std::remove((dir_ + name).c_str());
    }

    int Run(std::vector<std::string> arguments, MemoryRegistryStore& store) {
        console_ = CapturingConsole();
        FixedStore provider(store);
        return RunKestroctl(arguments, provider, console_);
    }
    int Run(std::vector<std::string> arguments) { return Run(std::move(arguments), store_); }

    void SetSome() {
        for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
                 {"NoRun", "on"}, {"NoFind", "off"}, {"CdAutorunOff", "on"}, {"FontSmoothing", "on"},
                 {"UsbStorageOff", "on"}, {"FloppyOff", "off"}, {"MaxRecentDocs", "-1"},
                 {"RecycleBinName", "Корзина \"для\" \\ мусора"}, {"RecycleBinInfoTip", ""}})
            ASSERT_EQ(kExitOk, Run({"set", name, value})) << name << console_.err;
    }

    // Every setting reads the same in `other`, and every value stored here is
    // there byte for byte. (A value absent here reads as off; the export
    // states it, so `other` holds it explicitly.)
    void ExpectSameValues(MemoryRegistryStore& other) {
        for (const Setting& row : kCatalogue) {
            if (!row.HasState()) continue;
            const SettingState here = ReadSettingState(store_, row), there = ReadSettingState(other, row);
            EXPECT_EQ(here.value, there.value) << row.name;
        }
        Profile mine;
        std::vector<std::string> notes;
        CurrentProfile(store_, &mine, &notes);
        std::size_t compared = 0;
        for (const RegValue& value : RegistryValuesFor(mine)) {
            MemoryRegistryStore::Value here, there;
            if (!store_.GetValueW(value.root, value.keyPath, value.name, &here)) continue;
            ASSERT_TRUE(other.GetValueW(value.root, value.keyPath, value.name, &there)) << value.name;
            ++compared;
            EXPECT_EQ(here.type, there.type) << value.name;
            EXPECT_EQ(here.data, there.data) << value.name;
        }
        EXPECT_GE(compared, 11u);  // the values SetSome stores
    }

    std::string Path(const char* name) const { return dir_ + name; }

    void WriteUtf16(const std::string& path, const std::u16string& text) {
        std::vector<std::uint8_t> bytes = {0xFF, 0xFE};
        for (char16_t c : text) {
            bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
            bytes.push_back(static_cast<std::uint8_t>(c >> 8));
        }
        WriteFileBytes(path, bytes);
    }

    MemoryRegistryStore store_;
    CapturingConsole console_;
    std::string dir_;
};

TEST_F(ExportApplyTest, RegExportHoldsWhatTheWritersStoredAndAppliesBackExactly) {
    SetSome();
    ASSERT_EQ(kExitOk, Run({"export", "reg", Path("/a.reg")})) << console_.err;
    std::vector<RegValue> read = ReadRegFile(ReadFileBytes(Path("/a.reg"), 1 << 20));
    Profile mine;
    std::vector<std::string> notes;
    CurrentProfile(store_, &mine, &notes);
    EXPECT_EQ(read.size(), RegistryValuesFor(mine).size());

    MemoryRegistryStore other;
    ASSERT_EQ(kExitOk, Run({"apply", Path("/a.reg")}, other)) << console_.err;
    ExpectSameValues(other);
    EXPECT_EQ(0, other.OpenHandleCount());
}

TEST_F(ExportApplyTest, PolicyExportSplitsByRootAndAppliesBackFromItsFolders) {
    SetSome();
    ASSERT_EQ(kExitOk, Run({"export", "pol", Path("/gpo")})) << console_.err;
    const std::string user = Path("/gpo/User/Registry.pol"), machine = Path("/gpo/Machine/Registry.pol");
    for (const RegValue& v : ReadPolicyFile(ReadFileBytes(user, 1 << 20), PolicyScope::User))
        EXPECT_EQ(v.root, kHkeyCurrentUser);
    bool classes = false;
    for (const RegValue& v : ReadPolicyFile(ReadFileBytes(machine, 1 << 20), PolicyScope::Machine))
        classes = classes || v.keyPath.rfind("Software\\Classes\\CLSID\\", 0) == 0;
    EXPECT_TRUE(classes) << "the Recycle Bin texts go to the machine file under Software\\Classes";

    MemoryRegistryStore other;
    ASSERT_EQ(kExitOk, Run({"apply", user}, other)) << console_.err;
    ASSERT_EQ(kExitOk, Run({"apply", machine}, other)) << console_.err;
    ExpectSameValues(other);
}

TEST_F(ExportApplyTest, ExportOfAProfileIsTheProfilesValuesNotThisMachines) {
    std::ofstream(Path("/p.ini"), std::ios::binary) << "[Kestro]\nNoRun = off\nUsbStorageOff = on\n";
    store_.PutValue(kHkeyCurrentUser, kExplorer, "NoRun", kRegDword, {1, 0, 0, 0});
    ASSERT_EQ(kExitOk, Run({"export", "reg", Path("/a.reg"), "--profile", Path("/p.ini")})) << console_.err;
    std::vector<RegValue> read = ReadRegFile(ReadFileBytes(Path("/a.reg"), 1 << 20));
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[0].name, "NoRun");
    EXPECT_EQ(read[0].data, (std::vector<std::uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(read[1].name, "start");
    EXPECT_EQ(read[1].data, (std::vector<std::uint8_t>{4, 0, 0, 0}));
    // A bad profile line: exit 2 with its line, no file.
    std::ofstream(Path("/p.ini"), std::ios::binary) << "[Kestro]\nNoRun = maybe\n";
    std::remove(Path("/a.reg").c_str());
    EXPECT_EQ(kExitUsage, Run({"export", "reg", Path("/a.reg"), "--profile", Path("/p.ini")}));
    EXPECT_THAT(console_.err, HasSubstr("p.ini:2"));
    EXPECT_THROW(ReadFileBytes(Path("/a.reg"), 1 << 20), FileError);
}

TEST_F(ExportApplyTest, ExportOfAnUnreadableStateWritesNothing) {
    store_.PutValue(kHkeyCurrentUser, kExplorer, "NoFind", kRegBinary, {1});
    EXPECT_EQ(kExitFailed, Run({"export", "reg", Path("/a.reg")}));
    EXPECT_THAT(console_.err, HasSubstr("nothing was exported"));
    EXPECT_THROW(ReadFileBytes(Path("/a.reg"), 1 << 20), FileError);
}

// An export that fails half way, after its temporary file was made and
// part of the new file written, leaves the previous export byte for byte
// and nothing beside it: an administrator copying it meanwhile gets a whole
// file.
TEST_F(ExportApplyTest, AnExportThatFailsHalfWayLeavesThePreviousExportAndNoTemporaryFile) {
    namespace fs = std::filesystem;
    SetSome();
    ASSERT_EQ(kExitOk, Run({"export", "reg", Path("/a.reg")})) << console_.err;
    ASSERT_EQ(kExitOk, Run({"export", "pol", Path("/gpo")})) << console_.err;
    const std::vector<std::uint8_t> reg = ReadFileBytes(Path("/a.reg"), 1 << 20);
    const std::vector<std::uint8_t> user = ReadFileBytes(Path("/gpo/User/Registry.pol"), 1 << 20);
    ASSERT_EQ(kExitOk, Run({"set", "NoFind", "on"}));  // the next export differs
    const auto names = [](const std::string& folder) {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(folder)) found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        return found;
    };
    {
        ScopedFileWriteFailure failure(FileStep::Write);
        EXPECT_EQ(kExitFailed, Run({"export", "reg", Path("/a.reg")}));
        EXPECT_THAT(console_.err, HasSubstr(Path("/a.reg") + ": cannot write"));
    }
    EXPECT_EQ(reg, ReadFileBytes(Path("/a.reg"), 1 << 20));
    EXPECT_EQ((std::vector<std::string>{"a.reg", "gpo"}), names(dir_));
    {
        ScopedFileWriteFailure failure(FileStep::Write);
        EXPECT_EQ(kExitFailed, Run({"export", "pol", Path("/gpo")}));
    }
    EXPECT_EQ(user, ReadFileBytes(Path("/gpo/User/Registry.pol"), 1 << 20));
    EXPECT_EQ(std::vector<std::string>{"Registry.pol"}, names(Path("/gpo/User")));
    // Without the failure the same export goes through.
    ASSERT_EQ(kExitOk, Run({"export", "reg", Path("/a.reg")})) << console_.err;
    EXPECT_NE(reg, ReadFileBytes(Path("/a.reg"), 1 << 20));
}

TEST_F(ExportApplyTest, MalformedFilesExitTwoWithTheirPlaceAndWriteNothing) {
    SetSome();
    ASSERT_EQ(kExitOk, Run({"export", "reg", Path("/a.reg")}));
    ASSERT_EQ(kExitOk, Run({"export", "pol", Path("/gpo")}));
    std::vector<std::uint8_t> reg = ReadFileBytes(Path("/a.reg"), 1 << 20);
    std::vector<std::uint8_t> pol = ReadFileBytes(Path("/gpo/Machine/Registry.pol"), 1 << 20);

    struct Case {
        const char* what;
        const char* file;
        std::vector<std::uint8_t> bytes;
        const char* mentions;
    };
    std::vector<std::uint8_t> cutReg(reg.begin(), reg.end() - 6);
    std::vector<std::uint8_t> cutPol(pol.begin(), pol.end() - 3);
    std::vector<std::uint8_t> prex = pol;
    prex[3] = 'x';
    std::vector<std::uint8_t> version2 = pol;
    version2[4] = 2;
    const Case cases[] = {
        {"a .reg cut short", "/x.reg", cutReg, ": line "},
        {"a .pol cut short", "/x.pol", cutPol, ": offset "},
        {"signature PRex", "/x.pol", prex, ": offset 0: "},
        {"version 2", "/x.pol", version2, ": offset 4: "},
    };
    for (const Case& c : cases) {
        WriteFileBytes(Path(c.file), c.bytes);
        MemoryRegistryStore other;
        EXPECT_EQ(kExitUsage, Run({"apply", Path(c.file), "--scope", "machine"}, other)) << c.what;
        EXPECT_THAT(console_.err, HasSubstr(c.mentions)) << c.what;
        EXPECT_THAT(console_.err, HasSubstr("nothing was written")) << c.what;
        EXPECT_EQ(other.Dump(), MemoryRegistryStore().Dump()) << c.what;
    }
}

TEST_F(ExportApplyTest, ForeignValuesAreRefusedUnlessIgnoredAndBadStatesAlways) {
    const std::u16string head = u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\" +
                                std::u16string(u"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer") +
                                u"]\r\n\"NoRun\"=dword:00000001\r\n";
    WriteUtf16(Path("/x.reg"), head + u"\"NoDrives\"=dword:00000004\r\n");
    MemoryRegistryStore other;
    EXPECT_EQ(kExitUsage, Run({"apply", Path("/x.reg")}, other));
    EXPECT_THAT(console_.err, HasSubstr("line 5: HKEY_CURRENT_USER\\"));
    EXPECT_THAT(console_.err, HasSubstr("\"NoDrives\" is not a Kestro setting"));
    EXPECT_EQ(other.Dump(), MemoryRegistryStore().Dump());

    ASSERT_EQ(kExitOk, Run({"apply", Path("/x.reg"), "--ignore-unknown"}, other)) << console_.err;
    EXPECT_THAT(console_.err, HasSubstr("passed over"));
    MemoryRegistryStore::Value noRun;
    ASSERT_TRUE(other.GetValueW(kHkeyCurrentUser, kExplorer, "NoRun", &noRun));
    EXPECT_EQ(noRun.data, (std::vector<std::uint8_t>{1, 0, 0, 0}));
    EXPECT_FALSE(other.GetValueW(kHkeyCurrentUser, kExplorer, "NoDrives", nullptr));

    // A start type no toggle gives: refused even with --ignore-unknown.
    WriteUtf16(Path("/x.reg"), head + u"\r\n[HKEY_LOCAL_MACHINE\\system\\currentcontrolset\\services\\usbstor]\r\n"
                                      u"\"start\"=dword:00000002\r\n");
    MemoryRegistryStore third;
    EXPECT_EQ(kExitUsage, Run({"apply", Path("/x.reg"), "--ignore-unknown"}, third));
    EXPECT_THAT(console_.err, HasSubstr("line 7: UsbStorageOff"));
    EXPECT_EQ(third.Dump(), MemoryRegistryStore().Dump());
}

// An export from before font smoothing moved holds the triple under
// HKEY_CURRENT_USER\DEFAULT: values no setting stores any more, so foreign
// ones, named, and passed over only when asked. Font smoothing off is one
// value.
TEST_F(ExportApplyTest, AnOlderExportsFontSmoothingTripleIsForeign) {
    const std::u16string old = u"Windows Registry Editor Version 5.00\r\n\r\n"
                               u"[HKEY_CURRENT_USER\\DEFAULT\\Control Panel\\Desktop]\r\n"
                               u"\"FontSmoothing\"=dword:00000002\r\n\"FontSmoothingOrientation\"=dword:00000001\r\n"
                               u"\"FontSmoothingType\"=dword:00000002\r\n\r\n"
                               u"[HKEY_CURRENT_USER\\Control Panel\\Desktop]\r\n\"FontSmoothing\"=\"0\"\r\n";
    WriteUtf16(Path("/x.reg"), old);
    MemoryRegistryStore other;
    EXPECT_EQ(kExitUsage, Run({"apply", Path("/x.reg")}, other));
    EXPECT_THAT(console_.err, HasSubstr("line 4: HKEY_CURRENT_USER\\DEFAULT\\Control Panel\\Desktop"));
    EXPECT_THAT(console_.err, HasSubstr("3 entries are not Kestro settings"));
    EXPECT_EQ(other.Dump(), MemoryRegistryStore().Dump());

    ASSERT_EQ(kExitOk, Run({"apply", Path("/x.reg"), "--ignore-unknown"}, other)) << console_.err;
    EXPECT_THAT(console_.out, HasSubstr("FontSmoothing = off"));
    EXPECT_FALSE(other.KeyExists(kHkeyCurrentUser, "DEFAULT"));
    ASSERT_EQ(kExitOk, Run({"get", "FontSmoothing"}, other));
    EXPECT_EQ("off\n", console_.out);
}

TEST_F(ExportApplyTest, APolicyFileSaysWhoseItIsByItsFolderOrScope) {
    SetSome();
    ASSERT_EQ(kExitOk, Run({"export", "pol", Path("/gpo")}));
    WriteFileBytes(Path("/x.pol"), ReadFileBytes(Path("/gpo/User/Registry.pol"), 1 << 20));
    MemoryRegistryStore other;
    EXPECT_EQ(kExitUsage, Run({"apply", Path("/x.pol")}, other));
    EXPECT_THAT(console_.err, HasSubstr("--scope"));
    // Taken as the machine's, the user's values are foreign there.
    EXPECT_EQ(kExitUsage, Run({"apply", Path("/x.pol"), "--scope", "machine"}, other));
    EXPECT_EQ(other.Dump(), MemoryRegistryStore().Dump());
    EXPECT_EQ(kExitOk, Run({"apply", Path("/x.pol"), "--scope", "user"}, other)) << console_.err;
    EXPECT_FALSE(other.Dump().empty());
}

TEST_F(ExportApplyTest, ListAndExportHelpMarkWhatAGpoLeavesBehind) {
    ASSERT_EQ(kExitOk, Run({"list"}));
    std::string noRun, smoothing;
    std::istringstream lines(console_.out);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("NoRun ", 0) == 0) noRun = line;
        if (line.rfind("FontSmoothing ", 0) == 0) smoothing = line;
    }
    EXPECT_THAT(console_.out, HasSubstr("TATTOO"));
    EXPECT_THAT(noRun, HasSubstr(" no "));
    EXPECT_THAT(noRun, Not(HasSubstr(" yes ")));  // neither admin nor tattoo
    EXPECT_THAT(smoothing, HasSubstr(" yes "));
    EXPECT_THAT(smoothing, HasSubstr(" logon "));  // written to a registry at rest: at the next logon

    ASSERT_EQ(kExitOk, Run({"list", "--json"}));
    nlohmann::json list = nlohmann::json::parse(console_.json);
    for (const auto& item : list) {
        if (item["name"] == "NoRun") {
            EXPECT_FALSE(item["tattoo"].get<bool>());
        }
        if (item["name"] == "UsbStorageOff") {
            EXPECT_TRUE(item["tattoo"].get<bool>());
        }
    }

    ASSERT_EQ(kExitOk, Run({"export", "/?"}));
    EXPECT_THAT(console_.out, HasSubstr("tattoo"));
    EXPECT_THAT(console_.out, HasSubstr("FontSmoothing, "));
    EXPECT_THAT(console_.out, HasSubstr("search history is an action"));
    EXPECT_THAT(console_.out, Not(HasSubstr("NoRun,")));
}

}  // namespace
}  // namespace kestro::test
