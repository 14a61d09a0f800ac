// Where Windows takes a setting from besides the user's own value (the
// machine's copy, the local Group Policy object's Registry.pol files):
// what get and list show, and what set lifts, live on the in-memory store
// and offline on the hive files and the volume's GroupPolicy folder.
#include "core/files.h"
#include "core/text.h"
#include "ctl/commands.h"
#include "ctl/offline_store.h"
#include "formats/policy_file.h"
#include "registry/group_policy_files.h"
#include "registry/memory_registry.h"
#include "settings/catalogue.h"
#include "settings/policy_sources.h"
#include "tests/ctl/ctl_fakes.h"
#include "tests/offline/offline_windows_fixture.h"
#include "tests/support/windows_volume.h"
#include "tests/support/hive_files.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <unistd.h>

namespace kestro::test {
namespace {

constexpr const char* kExplorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr const char* kSystem = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";

std::vector<std::uint8_t> Dword(std::uint32_t n) {
    return {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n >> 16),
            static_cast<std::uint8_t>(n >> 24)};
}

RegValue PolicyDword(KeyHandle root, const std::string& path, const std::string& name, std::uint32_t n) {
    return RegValue{root, path, name, kRegDword, Dword(n)};
}

std::string Text(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }
std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// ---- The catalogue's data ----

TEST(PolicySourcesCatalogue, ShellRestrictionsAreReadMachineFirstAndOtherSettingsKeepTheirOneSource) {
    for (const char* name : {"NoRun", "NoFind", "NoSMHelp", "MaxRecentDocs", "NoAddRemovePrograms", "NoDispCPL",
                             "NoDispBackgroundPage", "NoThemesTab", "DisableTaskMgr", "DisableRegistryTools"}) {
        const Setting* row = FindSettingByName(name);
        ASSERT_NE(nullptr, row) << name;
        EXPECT_TRUE(row->HasMachineCopy()) << name;
    }
    for (const char* name : {"PaintDesktopVersion", "FontSmoothing", "CdromOff", "UsbStorageOff", "Wallpaper",
                             "RecycleBinName", "CdAutorunOff", "SearchHistory"})
        EXPECT_FALSE(FindSettingByName(name)->HasMachineCopy()) << name;
    // Exactly the rows under the Policies keys have a machine copy.
    for (const Setting& row : kCatalogue) {
        const bool policies = std::string(row.keyPath).find("CurrentVersion\\Policies\\") != std::string::npos;
        EXPECT_EQ(policies, row.HasMachineCopy()) << row.name;
    }
}

TEST(PolicySourcesCatalogue, SourceNamesJoinInOneOrder) {
    EXPECT_EQ("user", SourceNames(kSourceUser));
    EXPECT_EQ("machine", SourceNames(kSourceMachine));
    EXPECT_EQ("user+machine+local-gpo", SourceNames(kSourceLocalGpo | kSourceUser | kSourceMachine));
    EXPECT_EQ("local-gpo+domain", SourceNames(kSourceDomain | kSourceLocalGpo));
}

// ---- gpt.ini and the rewritten Registry.pol ----

TEST(GptVersion, TheUserSideCountsInTheHigh16BitsAndTheMachinesInTheLow) {
    std::vector<std::uint8_t> out;
    ASSERT_TRUE(RaiseGptVersion(Bytes("[General]\r\nVersion=65538\r\n"), false, &out));
    EXPECT_EQ("[General]\r\nVersion=131074\r\n", Text(out));
    ASSERT_TRUE(RaiseGptVersion(Bytes("[General]\r\nVersion=65538\r\n"), true, &out));
    EXPECT_EQ("[General]\r\nVersion=65539\r\n", Text(out));
    // Each half wraps on its own: the other side's count never changes.
    ASSERT_TRUE(RaiseGptVersion(Bytes("[General]\r\nVersion=4294967295\r\n"), true, &out));
    EXPECT_EQ("[General]\r\nVersion=4294901760\r\n", Text(out));
    // Other lines and sections stay; a version in another section is not ours.
    ASSERT_TRUE(RaiseGptVersion(Bytes("[Other]\r\nVersion=7\r\n[General]\r\ngPCMachineExtensionNames=[{x}]\r\n"
                                      "version = 3\r\n"),
                                true, &out));
    EXPECT_EQ("[Other]\r\nVersion=7\r\n[General]\r\ngPCMachineExtensionNames=[{x}]\r\nversion = 4\r\n", Text(out));
    // Missing: made.
    ASSERT_TRUE(RaiseGptVersion({}, false, &out));
    EXPECT_EQ("[General]\r\nVersion=65536\r\n", Text(out));
    ASSERT_TRUE(RaiseGptVersion(Bytes("[General]\nDisplayName=x\n[Next]\n"), true, &out));
    EXPECT_EQ("[General]\nDisplayName=x\nVersion=1\n[Next]\n", Text(out));
    // Not a number, or UTF-16: refused.
    EXPECT_FALSE(RaiseGptVersion(Bytes("[General]\r\nVersion=12a\r\n"), true, &out));
    EXPECT_FALSE(RaiseGptVersion(Bytes("[General]\r\nVersion=99999999999\r\n"), true, &out));
    EXPECT_FALSE(RaiseGptVersion({0xFF, 0xFE, '[', 0}, true, &out));
}

TEST(RegistryPolRewrite, OnlyTheEntriesTakenOutChangeEveryOtherByteStays) {
    const PolicyFiles files = WritePolicyFiles({PolicyDword(kHkeyCurrentUser, kExplorer, "NoFind", 1),
                                                PolicyDword(kHkeyCurrentUser, kExplorer, "NoRun", 1),
                                                PolicyDword(kHkeyCurrentUser, kSystem, "DisableTaskMgr", 1)});
    LocalPolicyFile file;
    file.bytes = files.user;
    file.entries = ReadPolicyFile(file.bytes, PolicyScope::User, &file.offsets);
    file.valid = true;
    const std::vector<std::size_t> noRun = EntriesFor(file, *FindSettingByName("NoRun"));
    ASSERT_EQ(1u, noRun.size());
    const std::vector<std::uint8_t> out = WithoutEntries(file, noRun);
    const std::vector<RegValue> left = ReadPolicyFile(out, PolicyScope::User);
    ASSERT_EQ(2u, left.size());
    // The file without that entry is the original with the entry's bytes cut.
    const std::size_t from = file.offsets[noRun[0]], to = file.offsets[noRun[0] + 1];
    std::vector<std::uint8_t> expected(file.bytes.begin(), file.bytes.begin() + from);
    expected.insert(expected.end(), file.bytes.begin() + to, file.bytes.end());
    EXPECT_EQ(expected, out);
    // Every entry out leaves the header alone.
    EXPECT_EQ(8u, WithoutEntries(file, {0, 1, 2}).size());
}

// ---- Live, on the in-memory store ----

class LivePolicySources : public ::testing::Test {
protected:
    void SetUp() override { store_.AttachLocalGroupPolicy(&files_); }
    void TearDown() override { EXPECT_EQ(0, store_.OpenHandleCount()); }

    int Run(std::vector<std::string> arguments) {
        console_ = CapturingConsole();
        FixedStore provider(store_);
        return RunKestroctl(arguments, provider, console_);
    }
    std::int64_t Value(KeyHandle root, const char* path, const char* name) const {
        MemoryRegistryStore::Value value;
        if (!store_.GetValue(root, path, name, &value)) return -1;
        return value.data.size() == 4 ? value.data[0] | value.data[1] << 8 : -2;
    }
    void PutDword(KeyHandle root, const char* path, const char* name, std::uint32_t n) {
        store_.PutValue(root, path, name, kRegDword, Dword(n));
    }
    void PutPolicy(GroupPolicyFiles::File file, const std::vector<RegValue>& values) {
        const PolicyFiles made = WritePolicyFiles(values);
        const std::size_t i = static_cast<std::size_t>(file);
        files_.present[i] = true;
        files_.bytes[i] = file == GroupPolicyFiles::File::UserPolicy ? made.user : made.machine;
    }
    std::vector<std::uint8_t>& FileBytes(GroupPolicyFiles::File file) { return files_.bytes[static_cast<std::size_t>(file)]; }

    MemoryRegistryStore store_;
    MemoryGroupPolicyFiles files_;
    CapturingConsole console_;
};

TEST_F(LivePolicySources, TheMachinesCopyIsWhatGetAndListShowAndSetLiftsIt) {
    PutDword(kHkeyLocalMachine, kExplorer, "NoRun", 1);
    PutDword(kHkeyCurrentUser, kExplorer, "NoRun", 0);
    ASSERT_EQ(kExitOk, Run({"get", "NoRun"})) << console_.err;
    EXPECT_EQ("on (machine)\n", console_.out);
    ASSERT_EQ(kExitOk, Run({"list", "--json"}));
    for (const auto& item : nlohmann::json::parse(console_.json)) {
        if (item["name"] == "NoRun") {
            EXPECT_EQ("on", item["value"]);
            EXPECT_EQ("machine", item["source"]);
        }
        if (item["name"] == "NoFind") {
            EXPECT_EQ("user", item["source"]);
        }
        if (item["name"] == "UsbStorageOff") {
            EXPECT_EQ("machine", item["source"]);
        }
    }
    ASSERT_EQ(kExitOk, Run({"list"}));
    EXPECT_NE(std::string::npos, console_.out.find("STATE     SOURCE  SCOPE")) << console_.out;
    EXPECT_NE(std::string::npos, console_.out.find("NoRun                   on        machine user")) << console_.out;

    ASSERT_EQ(kExitOk, Run({"set", "NoRun", "off"})) << console_.err;
    EXPECT_EQ(-1, Value(kHkeyLocalMachine, kExplorer, "NoRun"));
    EXPECT_EQ(0, Value(kHkeyCurrentUser, kExplorer, "NoRun"));
    EXPECT_EQ("HKEY_LOCAL_MACHINE\\" + std::string(kExplorer) + "\\NoRun: the machine's copy (on) deleted\n",
              console_.out);
    ASSERT_EQ(kExitOk, Run({"get", "NoRun"}));
    EXPECT_EQ("off\n", console_.out);
}

TEST_F(LivePolicySources, AMachineCopyThatSaysOffIsLiftedToTurnItOnAndOneThatAgreesStays) {
    PutDword(kHkeyLocalMachine, kExplorer, "NoRun", 0);
    PutDword(kHkeyCurrentUser, kExplorer, "NoRun", 1);
    ASSERT_EQ(kExitOk, Run({"get", "NoRun"}));
    EXPECT_EQ("off (machine)\n", console_.out);
    ASSERT_EQ(kExitOk, Run({"set", "NoRun", "on"})) << console_.err;
    EXPECT_EQ(-1, Value(kHkeyLocalMachine, kExplorer, "NoRun"));
    EXPECT_EQ(1, Value(kHkeyCurrentUser, kExplorer, "NoRun"));

    PutDword(kHkeyLocalMachine, kExplorer, "NoFind", 1);
    ASSERT_EQ(kExitOk, Run({"set", "NoFind", "on"})) << console_.err;
    EXPECT_EQ(1, Value(kHkeyLocalMachine, kExplorer, "NoFind"));
    EXPECT_EQ("", console_.out);
    ASSERT_EQ(kExitOk, Run({"get", "NoFind"}));
    EXPECT_EQ("on (user+machine)\n", console_.out);
}

TEST_F(LivePolicySources, WithoutTheRightsForTheMachinesCopyNothingIsWritten) {
    PutDword(kHkeyLocalMachine, kSystem, "DisableTaskMgr", 1);
    store_.DenyWrite(kHkeyLocalMachine, kSystem);
    EXPECT_EQ(kExitFailed, Run({"set", "DisableTaskMgr", "off"}));
    EXPECT_NE(std::string::npos, console_.err.find("HKEY_LOCAL_MACHINE\\" + std::string(kSystem) + "\\DisableTaskMgr"))
        << console_.err;
    EXPECT_NE(std::string::npos, console_.err.find("only an administrator")) << console_.err;
    EXPECT_EQ(-1, Value(kHkeyCurrentUser, kSystem, "DisableTaskMgr"));
    EXPECT_EQ(1, Value(kHkeyLocalMachine, kSystem, "DisableTaskMgr"));
}

TEST_F(LivePolicySources, ALocalGroupPolicyEntryIsShownTakenOutAndItsSidesVersionRaised) {
    using File = GroupPolicyFiles::File;
    PutPolicy(File::UserPolicy, {PolicyDword(kHkeyCurrentUser, kSystem, "DisableRegistryTools", 1),
                                 PolicyDword(kHkeyCurrentUser, "Software\\Policies\\Microsoft\\Windows\\System",
                                             "DisableCMD", 1)});
    files_.present[2] = true;
    files_.bytes[2] = Bytes("[General]\r\nVersion=131075\r\n");
    const std::vector<std::uint8_t> before = FileBytes(File::UserPolicy);
    ASSERT_EQ(kExitOk, Run({"get", "DisableRegistryTools"}));
    EXPECT_EQ("on (local-gpo)\n", console_.out);

    ASSERT_EQ(kExitOk, Run({"set", "DisableRegistryTools", "off"})) << console_.err;
    const std::vector<RegValue> left = ReadPolicyFile(FileBytes(File::UserPolicy), PolicyScope::User);
    ASSERT_EQ(1u, left.size());
    EXPECT_EQ("DisableCMD", left[0].name);
    // The entry kept is byte for byte what it was: the file is the old one
    // with the first entry cut out.
    EXPECT_EQ(std::vector<std::uint8_t>(before.end() - static_cast<std::ptrdiff_t>(FileBytes(File::UserPolicy).size() - 8),
                                        before.end()),
              std::vector<std::uint8_t>(FileBytes(File::UserPolicy).begin() + 8, FileBytes(File::UserPolicy).end()));
    EXPECT_EQ("[General]\r\nVersion=196611\r\n", Text(files_.bytes[2]));
    EXPECT_NE(std::string::npos, console_.out.find("User\\Registry.pol: the local Group Policy's entry for "
                                                   "DisableRegistryTools taken out\n"))
        << console_.out;
    EXPECT_NE(std::string::npos, console_.out.find("gpt.ini: version raised")) << console_.out;
    ASSERT_EQ(kExitOk, Run({"get", "DisableRegistryTools"}));
    EXPECT_EQ("off\n", console_.out);
}

TEST_F(LivePolicySources, AMachineEntryGoesWithTheMachineCopyItWrote) {
    using File = GroupPolicyFiles::File;
    PutPolicy(File::MachinePolicy, {PolicyDword(kHkeyLocalMachine, kExplorer, "NoRun", 1)});
    PutDword(kHkeyLocalMachine, kExplorer, "NoRun", 1);
    ASSERT_EQ(kExitOk, Run({"get", "NoRun"}));
    EXPECT_EQ("on (machine+local-gpo)\n", console_.out);
    ASSERT_EQ(kExitOk, Run({"set", "NoRun", "off"})) << console_.err;
    EXPECT_TRUE(ReadPolicyFile(FileBytes(File::MachinePolicy), PolicyScope::Machine).empty());
    EXPECT_EQ(-1, Value(kHkeyLocalMachine, kExplorer, "NoRun"));
    // No gpt.ini before: one is made, with the machine's side counted.
    EXPECT_EQ("[General]\r\nVersion=1\r\n", Text(files_.bytes[2]));
}

TEST_F(LivePolicySources, ABadRegistryPolIsNamedReadsShowWhatTheyCanAndSetWritesNothing) {
    using File = GroupPolicyFiles::File;
    PutPolicy(File::UserPolicy, {PolicyDword(kHkeyCurrentUser, kExplorer, "NoRun", 1)});
    FileBytes(File::UserPolicy).pop_back();  // the last entry cut short
    PutDword(kHkeyCurrentUser, kExplorer, "NoRun", 1);
    ASSERT_EQ(kExitOk, Run({"get", "NoRun"}));
    EXPECT_EQ("on\n", console_.out);
    EXPECT_NE(std::string::npos, console_.err.find("note: %SystemRoot%\\System32\\GroupPolicy\\User\\Registry.pol "
                                                   "is not a valid Registry.pol"))
        << console_.err;
    const std::vector<std::uint8_t> bad = FileBytes(File::UserPolicy);
    EXPECT_EQ(kExitFailed, Run({"set", "NoRun", "off"}));
    EXPECT_NE(std::string::npos, console_.err.find("User\\Registry.pol")) << console_.err;
    EXPECT_NE(std::string::npos, console_.err.find("nothing was written")) << console_.err;
    EXPECT_EQ(1, Value(kHkeyCurrentUser, kExplorer, "NoRun"));
    EXPECT_EQ(bad, FileBytes(File::UserPolicy));

    // Unreadable gpt.ini, when an entry must go: refused, nothing written.
    PutPolicy(File::UserPolicy, {PolicyDword(kHkeyCurrentUser, kExplorer, "NoRun", 1)});
    files_.failReads[2] = true;
    EXPECT_EQ(kExitFailed, Run({"set", "NoRun", "off"}));
    EXPECT_NE(std::string::npos, console_.err.find("gpt.ini cannot be read")) << console_.err;
    EXPECT_EQ(1u, ReadPolicyFile(FileBytes(File::UserPolicy), PolicyScope::User).size());
    EXPECT_EQ(1, Value(kHkeyCurrentUser, kExplorer, "NoRun"));
}

TEST_F(LivePolicySources, AFailedWriteOfTheUsersValuePutsTheFilesAndTheMachineCopyBack) {
    using File = GroupPolicyFiles::File;
    PutPolicy(File::UserPolicy, {PolicyDword(kHkeyCurrentUser, kExplorer, "NoRun", 1)});
    files_.present[2] = true;
    files_.bytes[2] = Bytes("[General]\r\nVersion=0\r\n");
    PutDword(kHkeyLocalMachine, kExplorer, "NoRun", 1);
    const std::vector<std::uint8_t> pol = FileBytes(File::UserPolicy);
    store_.DenyWrite(kHkeyCurrentUser, kExplorer);
    EXPECT_EQ(kExitFailed, Run({"set", "NoRun", "off"}));
    EXPECT_EQ(pol, FileBytes(File::UserPolicy));
    EXPECT_EQ("[General]\r\nVersion=0\r\n", Text(files_.bytes[2]));
    EXPECT_EQ(1, Value(kHkeyLocalMachine, kExplorer, "NoRun"));
    EXPECT_NE(std::string::npos, console_.err.find("nothing was changed")) << console_.err;
}

TEST_F(LivePolicySources, TheUndoFileKeepsCopiesOfTheGroupPolicyFilesAndPutsThemBack) {
    using File = GroupPolicyFiles::File;
    PutPolicy(File::UserPolicy, {PolicyDword(kHkeyCurrentUser, kExplorer, "NoRun", 1),
                                 PolicyDword(kHkeyCurrentUser, kExplorer, "NoFind", 1)});
    PutPolicy(File::MachinePolicy, {PolicyDword(kHkeyLocalMachine, kExplorer, "NoRun", 1)});
    PutDword(kHkeyLocalMachine, kExplorer, "NoRun", 1);
    // gpt.ini absent: the undo file says so, and applying it deletes the new one.
    const std::vector<std::uint8_t> user = FileBytes(File::UserPolicy), machine = FileBytes(File::MachinePolicy);
    const std::string undo = "policy-sources-files-" + std::to_string(getpid()) + ".reg";
    ASSERT_EQ(kExitOk, Run({"set", "NoRun", "off", "--undo", undo})) << console_.err;
    EXPECT_NE(user, FileBytes(File::UserPolicy));
    EXPECT_TRUE(files_.present[2]);
    const std::string text = ReadFile(undo);
    std::string ascii;
    for (std::size_t i = 0; i < text.size(); i += 2) ascii += text[i];
    EXPECT_NE(std::string::npos, ascii.find("; Kestro saved %SystemRoot%\\System32\\GroupPolicy\\User\\Registry.pol as " +
                                            undo + ".User-Registry.pol"))
        << ascii;
    EXPECT_NE(std::string::npos, ascii.find("; Kestro found no %SystemRoot%\\System32\\GroupPolicy\\gpt.ini")) << ascii;
    EXPECT_EQ(Text(user), ReadFile(undo + ".User-Registry.pol"));

    // The dry run names each file the apply would put back, and writes none.
    const std::vector<std::uint8_t> lifted = FileBytes(File::UserPolicy);
    ASSERT_EQ(kExitOk, Run({"apply", undo, "--dry-run"})) << console_.err;
    for (const char* line : {"%SystemRoot%\\System32\\GroupPolicy\\User\\Registry.pol: would be put back as the undo "
                             "file's copy has it\n",
                             "%SystemRoot%\\System32\\GroupPolicy\\Machine\\Registry.pol: would be put back as the "
                             "undo file's copy has it\n",
                             "%SystemRoot%\\System32\\GroupPolicy\\gpt.ini: would be deleted, as it was absent\n"})
        EXPECT_NE(std::string::npos, console_.out.find(line)) << console_.out;
    EXPECT_EQ(lifted, FileBytes(File::UserPolicy));
    EXPECT_TRUE(files_.present[2]);

    ASSERT_EQ(kExitOk, Run({"apply", undo})) << console_.err;
    EXPECT_EQ(user, FileBytes(File::UserPolicy));
    EXPECT_EQ(machine, FileBytes(File::MachinePolicy));
    EXPECT_FALSE(files_.present[2]);
    EXPECT_EQ(1, Value(kHkeyLocalMachine, kExplorer, "NoRun"));
    ASSERT_EQ(kExitOk, Run({"get", "NoRun"}));
    EXPECT_EQ("on (machine+local-gpo)\n", console_.out);

    // A copy the undo file names that is gone: refused, nothing written.
    ASSERT_EQ(kExitOk, Run({"set", "NoRun", "off", "--undo", undo})) << console_.err;
    const std::vector<std::uint8_t> liftedAgain = FileBytes(File::UserPolicy);
    std::remove((undo + ".Machine-Registry.pol").c_str());
    EXPECT_EQ(kExitFailed, Run({"apply", undo, "--dry-run"}));
    EXPECT_NE(std::string::npos, console_.err.find(".Machine-Registry.pol")) << console_.err;
    EXPECT_EQ(kExitFailed, Run({"apply", undo}));
    EXPECT_NE(std::string::npos, console_.err.find(".Machine-Registry.pol")) << console_.err;
    EXPECT_EQ(liftedAgain, FileBytes(File::UserPolicy));
    EXPECT_EQ(-1, Value(kHkeyLocalMachine, kExplorer, "NoRun"));
    for (const char* suffix : {"", ".User-Registry.pol", ".Machine-Registry.pol", ".gpt.ini"})
        std::remove((undo + suffix).c_str());
}

TEST_F(LivePolicySources, TheUndoFileCarriesTheMachinesCopy) {
    PutDword(kHkeyLocalMachine, kExplorer, "NoRun", 1);
    const std::string undo = "policy-sources-undo-" + std::to_string(getpid()) + ".reg";
    ASSERT_EQ(kExitOk, Run({"set", "NoRun", "off", "--undo", undo})) << console_.err;
    EXPECT_EQ(-1, Value(kHkeyLocalMachine, kExplorer, "NoRun"));
    ASSERT_EQ(kExitOk, Run({"apply", undo})) << console_.err;
    EXPECT_EQ(1, Value(kHkeyLocalMachine, kExplorer, "NoRun"));
    EXPECT_EQ(-1, Value(kHkeyCurrentUser, kExplorer, "NoRun"));
    std::remove(undo.c_str());
}

}  // namespace
}  // namespace kestro::test

namespace kestro::test {
namespace {

std::string Fixture(const std::string& name) { return ReadFile(std::string(KESTRO_OFFLINE_FIXTURES) + "/" + name); }

// An XP layout whose SOFTWARE hive and GroupPolicy folder a lock-out left
// its marks in, as a rescuer meets it.
// ---- A domain's Group Policy, as Windows records what it applied ----

constexpr const char* kRegistryHistory =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Group Policy\\History\\{35378EAC-683F-11D2-A89A-00C04FBBCF62}";

class LiveDomainPolicy : public LivePolicySources {
protected:
    // An entry of the registry extension's history: GPOLink as userenv.h's
    // GPO_LINK (1 the local computer, 2 a site, 3 the domain, 4 an OU).
    void Applied(KeyHandle root, int index, std::uint32_t link, const std::u16string& name) {
        const std::string key = std::string(kRegistryHistory) + "\\" + std::to_string(index);
        PutDword(root, key.c_str(), "GPOLink", link);
        std::vector<std::uint8_t> text = Utf16LeBytes(name + u'\0');
        store_.PutValueW(root, key, "DisplayName", kRegSz, text);
        store_.PutValueW(root, key, "FileSysPath", kRegSz,
                         Utf16LeBytes(u"\\\\corp.example\\SysVol\\corp.example\\Policies\\{31B2F340-016D-11D2-945F-00C04FB984F9}\\Machine"));
    }
};

TEST_F(LiveDomainPolicy, TheMachinesValueOfADomainsObjectIsShownAsTheDomainsAndNeverLifted) {
    PutDword(kHkeyLocalMachine, kExplorer, "NoRun", 1);
    PutDword(kHkeyCurrentUser, kExplorer, "NoRun", 0);
    Applied(kHkeyLocalMachine, 0, 1, u"Local Group Policy");
    Applied(kHkeyLocalMachine, 1, 3, u"Политика отдела");
    ASSERT_EQ(kExitOk, Run({"get", "NoRun"})) << console_.err;
    EXPECT_EQ("on (domain)\n", console_.out);
    ASSERT_EQ(kExitOk, Run({"list", "--json"}));
    bool seen = false;
    for (const auto& item : nlohmann::json::parse(console_.json)) {
        if (item["name"] != "NoRun") continue;
        seen = true;
        EXPECT_EQ("domain", item["source"]);
    }
    EXPECT_TRUE(seen);

    const std::string before = store_.Dump();
    EXPECT_EQ(kExitFailed, Run({"set", "NoRun", "off"}));
    EXPECT_NE(std::string::npos, console_.err.find("\"Политика отдела\"")) << console_.err;
    EXPECT_NE(std::string::npos, console_.err.find("domain's administrator")) << console_.err;
    // Live: no note of a domain controller to come back from.
    EXPECT_EQ(std::string::npos, console_.err.find("domain controller")) << console_.err;
    // The local object's entry is no domain's: it is not named.
    EXPECT_EQ(std::string::npos, console_.err.find("Local Group Policy")) << console_.err;
    EXPECT_EQ(before, store_.Dump());
    // What the domain asks for already is no lift: the user's value is set.
    ASSERT_EQ(kExitOk, Run({"set", "NoRun", "on"})) << console_.err;
    EXPECT_EQ(1, Value(kHkeyLocalMachine, kExplorer, "NoRun"));
    EXPECT_EQ(1, Value(kHkeyCurrentUser, kExplorer, "NoRun"));
    // apply refuses as set does.
    const std::string profile = ::testing::TempDir() + "/kestro-domain-profile.ini";
    WriteFile(profile, "[Kestro]\nNoRun=off\n");
    const std::string held = store_.Dump();
    EXPECT_EQ(kExitFailed, Run({"apply", profile}));
    EXPECT_NE(std::string::npos, console_.err.find("Политика отдела")) << console_.err;
    EXPECT_EQ(held, store_.Dump());
}

TEST_F(LiveDomainPolicy, OnlyASiteDomainOrOuObjectCountsAndALocalEntryExplainsTheValue) {
    PutDword(kHkeyLocalMachine, kExplorer, "NoRun", 1);
    // The local computer's object (1) and an unknown link (0) are not a domain's.
    Applied(kHkeyLocalMachine, 0, 1, u"Local Group Policy");
    Applied(kHkeyLocalMachine, 1, 0, u"Unknown");
    ASSERT_EQ(kExitOk, Run({"get", "NoRun"}));
    EXPECT_EQ("on (machine)\n", console_.out);
    // A site's object (2) counts.
    Applied(kHkeyLocalMachine, 2, 2, u"Site policy");
    ASSERT_EQ(kExitOk, Run({"get", "NoRun"}));
    EXPECT_EQ("on (domain)\n", console_.out);
    // The local Machine Registry.pol holds the value: it is the local one's.
    PutPolicy(GroupPolicyFiles::File::MachinePolicy, {PolicyDword(kHkeyLocalMachine, kExplorer, "NoRun", 1)});
    ASSERT_EQ(kExitOk, Run({"get", "NoRun"}));
    EXPECT_EQ("on (machine+local-gpo)\n", console_.out);
}

TEST_F(LiveDomainPolicy, TheUsersSideOfAnOusObjectHoldsTheUsersValue) {
    PutDword(kHkeyCurrentUser, kSystem, "DisableTaskMgr", 1);
    Applied(kHkeyCurrentUser, 0, 4, u"Accounting OU");
    // The machine's side has a domain's object too, but no value: not it.
    Applied(kHkeyLocalMachine, 0, 3, u"Default Domain Policy");
    ASSERT_EQ(kExitOk, Run({"get", "DisableTaskMgr"})) << console_.err;
    EXPECT_EQ("on (domain)\n", console_.out);
    const std::string before = store_.Dump();
    EXPECT_EQ(kExitFailed, Run({"set", "DisableTaskMgr", "off"}));
    EXPECT_NE(std::string::npos, console_.err.find("\"Accounting OU\"")) << console_.err;
    EXPECT_EQ(std::string::npos, console_.err.find("Default Domain Policy")) << console_.err;
    EXPECT_EQ(before, store_.Dump());
}

// Vista and later keep a copy of each domain object below
// %SystemRoot%\System32\GroupPolicy\DataStore, which the history's
// FileSysPath names: only what its Registry.pol sets is the domain's.
constexpr const char16_t* kCachedMachine =
    u"C:\\Windows\\system32\\GroupPolicy\\DataStore\\0\\sysvol\\corp.example\\Policies\\"
    u"{31B2F340-016D-11D2-945F-00C04FB984F9}\\Machine";

class LiveDomainCopy : public LiveDomainPolicy {
protected:
    void AppliedFrom(KeyHandle root, int index, const std::u16string& name, const std::u16string& path) {
        Applied(root, index, 3, name);
        const std::string key = std::string(kRegistryHistory) + "\\" + std::to_string(index);
        store_.PutValueW(root, key, "FileSysPath", kRegSz, Utf16LeBytes(path + u'\0'));
    }
    void Copy(const std::u16string& path, GroupPolicyFiles::DomainCopy::Kind kind, std::vector<std::uint8_t> bytes = {}) {
        GroupPolicyFiles::DomainCopy copy;
        copy.kind = kind;
        copy.bytes = std::move(bytes);
        files_.domainCopies[Utf16ToUtf8(path)] = copy;
    }
};

TEST_F(LiveDomainCopy, OnlyWhatTheDomainsCopySetsIsTheDomainsTheRestIsLifted) {
    PutDword(kHkeyLocalMachine, kExplorer, "NoRun", 1);
    PutDword(kHkeyLocalMachine, kExplorer, "NoFind", 1);
    AppliedFrom(kHkeyLocalMachine, 0, u"Default Domain Policy", kCachedMachine);
    Copy(kCachedMachine, GroupPolicyFiles::DomainCopy::Kind::Read,
         WritePolicyFiles({PolicyDword(kHkeyLocalMachine, kExplorer, "NoFind", 1)}).machine);
    ASSERT_EQ(kExitOk, Run({"get", "NoFind"})) << console_.err;
    EXPECT_EQ("on (domain)\n", console_.out);
    ASSERT_EQ(kExitOk, Run({"get", "NoRun"})) << console_.err;
    EXPECT_EQ("on (machine)\n", console_.out);
    // NoRun is no domain's: lifted as any machine's copy.
    ASSERT_EQ(kExitOk, Run({"set", "NoRun", "off"})) << console_.err;
    EXPECT_EQ(-1, Value(kHkeyLocalMachine, kExplorer, "NoRun"));
    // NoFind is: refused, nothing written.
    const std::string before = store_.Dump();
    EXPECT_EQ(kExitFailed, Run({"set", "NoFind", "off"}));
    EXPECT_NE(std::string::npos, console_.err.find("\"Default Domain Policy\"")) << console_.err;
    EXPECT_EQ(before, store_.Dump());
}

TEST_F(LiveDomainCopy, ACopyWithoutRegistryPolSetsNothingAndOneThatCannotBeReadOrParsedKeepsTheCoarseRule) {
    PutDword(kHkeyLocalMachine, kExplorer, "NoRun", 1);
    AppliedFrom(kHkeyLocalMachine, 0, u"Security baseline", kCachedMachine);
    Copy(kCachedMachine, GroupPolicyFiles::DomainCopy::Kind::NoRegistryPol);
    ASSERT_EQ(kExitOk, Run({"get", "NoRun"})) << console_.err;
    EXPECT_EQ("on (machine)\n", console_.out);
    for (const auto kind : {GroupPolicyFiles::DomainCopy::Kind::Failed, GroupPolicyFiles::DomainCopy::Kind::None}) {
        Copy(kCachedMachine, kind);
        ASSERT_EQ(kExitOk, Run({"get", "NoRun"})) << console_.err;
        EXPECT_EQ("on (domain)\n", console_.out);
    }
    Copy(kCachedMachine, GroupPolicyFiles::DomainCopy::Kind::Read, Bytes("PReg\x01\0\0\0[broken"));
    ASSERT_EQ(kExitOk, Run({"get", "NoRun"})) << console_.err;
    EXPECT_EQ("on (domain)\n", console_.out);
}

TEST(DomainCopyPath, OnlyALocalPathOfPlainNamesIsACopyToRead) {
    std::vector<std::string> parts;
    ASSERT_TRUE(GroupPolicyFiles::LocalPathParts("C:\\Windows\\system32\\GroupPolicy\\DataStore\\", &parts));
    EXPECT_EQ((std::vector<std::string>{"Windows", "system32", "GroupPolicy", "DataStore"}), parts);
    for (const char* refused : {"\\\\corp.example\\SysVol\\corp.example\\Policies", "C:Windows", "C:\\",
                                "C:\\Windows\\..\\secret", "C:\\Windows\\.\\x", "C:\\a\\\\b",
                                "C:\\a/..\\b", "C:\\a\\b:stream", "relative\\path", ""})
        EXPECT_FALSE(GroupPolicyFiles::LocalPathParts(refused, &parts)) << refused;
}

// ---- apply --dry-run and save: the state in force ----

TEST_F(LivePolicySources, DryRunComparesWithTheStateInForceAndListsTheLiftItWouldMake) {
    using File = GroupPolicyFiles::File;
    PutDword(kHkeyLocalMachine, kExplorer, "NoRun", 1);
    PutDword(kHkeyCurrentUser, kExplorer, "NoRun", 0);
    PutPolicy(File::UserPolicy, {PolicyDword(kHkeyCurrentUser, kSystem, "DisableRegistryTools", 1)});
    PutDword(kHkeyCurrentUser, kExplorer, "NoFind", 0);
    const std::string profile = ::testing::TempDir() + "/kestro-dry-run-profile.ini";
    // The user's own values say off already: only the machine's copy and
    // the Registry.pol entry make NoRun and DisableRegistryTools change.
    WriteFile(profile, "[Kestro]\nNoRun=off\nDisableRegistryTools=off\nNoFind=off\n");
    const std::string before = store_.Dump();
    const std::vector<std::uint8_t> pol = FileBytes(File::UserPolicy);
    ASSERT_EQ(kExitOk, Run({"apply", "--dry-run", profile})) << console_.err;
    const std::string out = console_.out;
    EXPECT_NE(std::string::npos, out.find("HKEY_LOCAL_MACHINE\\" + std::string(kExplorer) +
                                          "\\NoRun: the machine's copy (on) would be deleted\n")) << out;
    EXPECT_NE(std::string::npos, out.find("%SystemRoot%\\System32\\GroupPolicy\\User\\Registry.pol: the local Group "
                                          "Policy's entry for DisableRegistryTools would be taken out\n")) << out;
    EXPECT_NE(std::string::npos, out.find("gpt.ini: its version would be raised\n")) << out;
    EXPECT_NE(std::string::npos, out.find("NoRun: on (machine) -> off\n")) << out;
    EXPECT_NE(std::string::npos, out.find("DisableRegistryTools: on (local-gpo) -> off\n")) << out;
    EXPECT_EQ(std::string::npos, out.find("NoFind:")) << out;
    EXPECT_NE(std::string::npos, out.find("2 of 3 settings would change; nothing was written")) << out;
    EXPECT_EQ(before, store_.Dump());
    EXPECT_EQ(pol, FileBytes(File::UserPolicy));
    EXPECT_FALSE(files_.present[2]);
}

TEST_F(LiveDomainPolicy, DryRunIsRefusedAsApplyWouldBe) {
    PutDword(kHkeyLocalMachine, kExplorer, "NoRun", 1);
    Applied(kHkeyLocalMachine, 0, 3, u"Default Domain Policy");
    const std::string profile = ::testing::TempDir() + "/kestro-dry-run-domain.ini";
    WriteFile(profile, "[Kestro]\nNoRun=off\n");
    EXPECT_EQ(kExitFailed, Run({"apply", "--dry-run", profile}));
    EXPECT_NE(std::string::npos, console_.err.find("\"Default Domain Policy\"")) << console_.err;
}

TEST_F(LivePolicySources, SaveKeepsTheStateInForceSoThatApplyingItChangesNothing) {
    PutDword(kHkeyLocalMachine, kExplorer, "NoRun", 1);
    PutPolicy(GroupPolicyFiles::File::UserPolicy, {PolicyDword(kHkeyCurrentUser, kSystem, "DisableRegistryTools", 1)});
    PutDword(kHkeyCurrentUser, kSystem, "DisableRegistryTools", 0);
    const std::string profile = ::testing::TempDir() + "/kestro-saved-in-force.ini";
    ASSERT_EQ(kExitOk, Run({"save", profile})) << console_.err;
    const std::string saved = ReadFile(profile);
    EXPECT_NE(std::string::npos, saved.find("\nNoRun = on\r\n")) << saved;
    EXPECT_NE(std::string::npos, saved.find("\nDisableRegistryTools = on\r\n")) << saved;
    EXPECT_NE(std::string::npos, saved.find("\nNoFind = default\r\n")) << saved;
    ASSERT_EQ(kExitOk, Run({"apply", "--dry-run", profile})) << console_.err;
    EXPECT_NE(std::string::npos, console_.out.find("0 of ")) << console_.out;
}

class OfflinePolicySources : public ::testing::Test {
protected:
    void SetUp() override {
        windir_ = MakeOfflineWindows(dir_.Path(), Fixture("system.reg"), Fixture("software.reg"), {"Owner"},
                                     Fixture("ntuser.reg"));
        software_ = windir_ + "/system32/config/software";
        ntuser_ = dir_.Path() + "/Documents and Settings/Owner/NTUSER.DAT";
        gpo_ = windir_ + "/system32/GroupPolicy";
        // The user's own values say no lock: only the other places hold one.
        ASSERT_TRUE(MergeReg(ntuser_, "Windows Registry Editor Version 5.00\n\n"
                                      "[\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer]\n"
                                      "\"NoRun\"=dword:00000000\n\n"
                                      "[\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System]\n"
                                      "\"DisableRegistryTools\"=dword:00000000\n\n"));
    }

    int Run(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"--offline", windir_});
        console_ = CapturingConsole();
        OfflineStoreProvider provider(console_);
        return RunKestroctl(arguments, provider, console_);
    }

    void MachineNoRun(int value) {
        ASSERT_TRUE(MergeReg(software_, "Windows Registry Editor Version 5.00\n\n"
                                        "[\\Microsoft]\n\n[\\Microsoft\\Windows]\n\n"
                                        "[\\Microsoft\\Windows\\CurrentVersion]\n\n"
                                        "[\\Microsoft\\Windows\\CurrentVersion\\Policies]\n\n"
                                        "[\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer]\n"
                                        "\"NoRun\"=dword:0000000" + std::to_string(value) + "\n\n"));
    }
    // A domain's object in the machine's Group Policy history, as a
    // domain member keeps it, with `moreValues` (.reg lines) in its entry.
    void DomainHistory(const std::string& moreValues) {
        ASSERT_TRUE(MergeReg(software_, "Windows Registry Editor Version 5.00\n\n"
                                        "[\\Microsoft\\Windows\\CurrentVersion\\Group Policy]\n\n"
                                        "[\\Microsoft\\Windows\\CurrentVersion\\Group Policy\\History]\n\n"
                                        "[\\Microsoft\\Windows\\CurrentVersion\\Group Policy\\History\\"
                                        "{35378EAC-683F-11D2-A89A-00C04FBBCF62}]\n\n"
                                        "[\\Microsoft\\Windows\\CurrentVersion\\Group Policy\\History\\"
                                        "{35378EAC-683F-11D2-A89A-00C04FBBCF62}\\0]\n"
                                        "\"GPOLink\"=dword:00000003\n"
                                        "\"DisplayName\"=\"Default Domain Policy\"\n" +
                                            moreValues + "\n"));
    }
    void WritePolicy(const std::string& side, const std::vector<std::uint8_t>& bytes) {
        ::mkdir(gpo_.c_str(), 0755);
        ::mkdir((gpo_ + "/" + side).c_str(), 0755);
        WriteFile(gpo_ + "/" + side + "/Registry.pol", Text(bytes));
    }
    std::string Explorer(const std::string& hive) {
        const auto values = ReglookupValues(hive, hive == software_ ? "Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer"
                                                                    : kExplorer);
        const auto found = values.find("NoRun");
        return found == values.end() ? "absent" : found->second;
    }

    TempDir dir_;
    std::string windir_, software_, ntuser_, gpo_;
    CapturingConsole console_;
};

TEST_F(OfflinePolicySources, TheSoftwareHivesNoRunIsShownAndLiftedWithTheUsersValue) {
    MachineNoRun(1);
    ASSERT_EQ(kExitOk, Run({"get", "NoRun"})) << console_.err;
    EXPECT_EQ("on (machine)\n", console_.out);
    ASSERT_EQ(kExitOk, Run({"list"})) << console_.err;
    EXPECT_NE(std::string::npos, console_.out.find("NoRun                   on        machine")) << console_.out;

    ASSERT_EQ(kExitOk, Run({"set", "NoRun", "off"})) << console_.err;
    EXPECT_EQ("absent", Explorer(software_));
    EXPECT_EQ("DWORD:0x00000000", Explorer(ntuser_));
    EXPECT_NE(std::string::npos, console_.out.find("NoRun: the machine's copy (on) deleted\n")) << console_.out;
    EXPECT_NE(std::string::npos, console_.err.find("wrote " + software_)) << console_.err;
    ASSERT_EQ(kExitOk, Run({"get", "NoRun"}));
    EXPECT_EQ("off\n", console_.out);
}

TEST_F(OfflinePolicySources, ADomainsValueInTheSoftwareHiveIsShownAndRefusedWithTheDomainControllersNote) {
    MachineNoRun(1);
    DomainHistory("");
    ASSERT_EQ(kExitOk, Run({"get", "NoRun"})) << console_.err;
    EXPECT_EQ("on (domain)\n", console_.out);
    const std::string software = ReadFile(software_), ntuser = ReadFile(ntuser_);
    EXPECT_EQ(kExitFailed, Run({"set", "NoRun", "off"}));
    EXPECT_NE(std::string::npos, console_.err.find("\"Default Domain Policy\"")) << console_.err;
    EXPECT_NE(std::string::npos, console_.err.find("next reaches its domain controller")) << console_.err;
    EXPECT_EQ(software, ReadFile(software_));
    EXPECT_EQ(ntuser, ReadFile(ntuser_));
}

TEST_F(OfflinePolicySources, TurningOnLiftsAMachineCopyThatSaysOff) {
    MachineNoRun(0);
    ASSERT_EQ(kExitOk, Run({"get", "NoRun"}));
    // The user's own 0 says the same as the machine's, which decides.
    EXPECT_EQ("off (user+machine)\n", console_.out);
    ASSERT_EQ(kExitOk, Run({"set", "NoRun", "on"})) << console_.err;
    EXPECT_EQ("absent", Explorer(software_));
    EXPECT_EQ("DWORD:0x00000001", Explorer(ntuser_));
}

TEST_F(OfflinePolicySources, TheLocalGroupPolicysEntryIsTakenOutOfTheVolumesFile) {
    const PolicyFiles made = WritePolicyFiles({PolicyDword(kHkeyCurrentUser, kSystem, "DisableRegistryTools", 1),
                                               PolicyDword(kHkeyCurrentUser, kExplorer, "NoFind", 1)});
    // Windows spells the folders as it likes: matched as NTFS matches names.
    ::mkdir(gpo_.c_str(), 0755);
    WritePolicy("USER", made.user);
    WriteFile(gpo_ + "/GPT.INI", "[General]\r\nVersion=65536\r\n");
    ASSERT_EQ(kExitOk, Run({"get", "DisableRegistryTools"})) << console_.err;
    EXPECT_EQ("on (local-gpo)\n", console_.out);

    const std::string hiveBefore = ReadFile(software_);
    ASSERT_EQ(kExitOk, Run({"set", "DisableRegistryTools", "off"})) << console_.err;
    const std::string after = ReadFile(gpo_ + "/USER/Registry.pol");
    const std::vector<RegValue> left = ReadPolicyFile(Bytes(after), PolicyScope::User);
    ASSERT_EQ(1u, left.size());
    EXPECT_EQ("NoFind", left[0].name);
    EXPECT_EQ("[General]\r\nVersion=131072\r\n", ReadFile(gpo_ + "/GPT.INI"));
    EXPECT_EQ((std::vector<std::string>{"GPT.INI", "USER"}), ListDir(gpo_));
    EXPECT_EQ((std::vector<std::string>{"Registry.pol"}), ListDir(gpo_ + "/USER"));
    EXPECT_EQ(hiveBefore, ReadFile(software_));
    ASSERT_EQ(kExitOk, Run({"get", "DisableRegistryTools"}));
    EXPECT_EQ("off\n", console_.out);
}

TEST_F(OfflinePolicySources, TheUndoFileGivesBackTheVolumesFilesAndTheSoftwareHivesCopy) {
    MachineNoRun(1);
    const std::vector<std::uint8_t> pol = WritePolicyFiles({PolicyDword(kHkeyCurrentUser, kExplorer, "NoRun", 1),
                                                            PolicyDword(kHkeyCurrentUser, kExplorer, "NoFind", 1)}).user;
    WritePolicy("User", pol);
    WriteFile(gpo_ + "/gpt.ini", "[General]\r\nVersion=3\r\n");
    const std::string undo = dir_ / "undo.reg";
    ASSERT_EQ(kExitOk, Run({"set", "NoRun", "off", "--undo", undo})) << console_.err;
    ASSERT_EQ("absent", Explorer(software_));
    ASSERT_NE(Text(pol), ReadFile(gpo_ + "/User/Registry.pol"));
    ASSERT_EQ(kExitOk, Run({"apply", undo})) << console_.err;
    EXPECT_EQ(Text(pol), ReadFile(gpo_ + "/User/Registry.pol"));
    EXPECT_EQ("[General]\r\nVersion=3\r\n", ReadFile(gpo_ + "/gpt.ini"));
    EXPECT_EQ("DWORD:0x00000001", Explorer(software_));
    EXPECT_EQ("DWORD:0x00000000", Explorer(ntuser_));
    ASSERT_EQ(kExitOk, Run({"get", "NoRun"}));
    EXPECT_EQ("on (machine)\n", console_.out);
}

TEST_F(OfflinePolicySources, AFileThatCannotBeReplacedLeavesTheHivesAndTheFilesAsTheyWere) {
    MachineNoRun(1);
    const std::vector<std::uint8_t> pol = WritePolicyFiles({PolicyDword(kHkeyCurrentUser, kExplorer, "NoRun", 1)}).user;
    WritePolicy("User", pol);
    const std::string software = ReadFile(software_), ntuser = ReadFile(ntuser_);
    {
        ScopedFileWriteFailure failure(FileStep::Replace);
        EXPECT_EQ(kExitFailed, Run({"set", "NoRun", "off"}));
    }
    EXPECT_NE(std::string::npos, console_.err.find("nothing was changed")) << console_.err;
    EXPECT_EQ(Text(pol), ReadFile(gpo_ + "/User/Registry.pol"));
    EXPECT_EQ(software, ReadFile(software_));
    EXPECT_EQ(ntuser, ReadFile(ntuser_));
    EXPECT_EQ((std::vector<std::string>{"Registry.pol"}), ListDir(gpo_ + "/User"));
    EXPECT_EQ((std::vector<std::string>{"User"}), ListDir(gpo_));  // no gpt.ini made
}

TEST_F(OfflinePolicySources, ALinkedOrBadRegistryPolIsNeverFollowedNorChanged) {
    const std::string outside = dir_ / "elsewhere.pol";
    WriteFile(outside, Text(WritePolicyFiles({PolicyDword(kHkeyCurrentUser, kExplorer, "NoRun", 1)}).user));
    ::mkdir(gpo_.c_str(), 0755);
    ::mkdir((gpo_ + "/User").c_str(), 0755);
    ASSERT_EQ(0, ::symlink(outside.c_str(), (gpo_ + "/User/Registry.pol").c_str()));
    ASSERT_EQ(kExitOk, Run({"get", "NoRun"}));
    EXPECT_EQ("off\n", console_.out);
    EXPECT_NE(std::string::npos, console_.err.find("symbolic link")) << console_.err;
    const std::string ntuserBefore = ReadFile(ntuser_);
    EXPECT_EQ(kExitFailed, Run({"set", "NoRun", "off"}));
    EXPECT_NE(std::string::npos, console_.err.find("nothing was written")) << console_.err;
    EXPECT_EQ(ntuserBefore, ReadFile(ntuser_));

    // A file that is not a Registry.pol: named, read around, never written.
    ::unlink((gpo_ + "/User/Registry.pol").c_str());
    WriteFile(gpo_ + "/User/Registry.pol", "PReg\x02");
    ASSERT_EQ(kExitOk, Run({"list"}));
    EXPECT_NE(std::string::npos, console_.err.find("User\\Registry.pol is not a valid Registry.pol")) << console_.err;
    EXPECT_EQ(kExitFailed, Run({"set", "NoFind", "on"}));
    EXPECT_EQ(ntuserBefore, ReadFile(ntuser_));
    EXPECT_EQ("PReg\x02", ReadFile(gpo_ + "/User/Registry.pol"));
}

// ---- restore: the Group Policy files go back with the hives ----

bool FileExists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

class OfflineRestorePolicy : public OfflinePolicySources {
protected:
    // A run that lifts NoRun from the software hive's copy and from the
    // user's Registry.pol (keeping NoFind), gpt.ini absent or not.
    void LiftedRun(const char* gptIni = nullptr) {
        MachineNoRun(1);
        pol_ = WritePolicyFiles({PolicyDword(kHkeyCurrentUser, kExplorer, "NoRun", 1),
                                 PolicyDword(kHkeyCurrentUser, kExplorer, "NoFind", 1)}).user;
        WritePolicy("User", pol_);
        if (gptIni) WriteFile(gpo_ + "/gpt.ini", gptIni);
        ASSERT_EQ(kExitOk, Run({"set", "NoRun", "off"})) << console_.err;
        ASSERT_EQ("absent", Explorer(software_));
        ASSERT_NE(Text(pol_), ReadFile(gpo_ + "/User/Registry.pol"));
        ASSERT_TRUE(FileExists(gpo_ + "/gpt.ini"));
        // Kept beside the hives: the GroupPolicy folders hold only Windows' files.
        EXPECT_NE(std::string::npos, console_.err.find("the original is kept as " + windir_ +
                                                        "/system32/config/GroupPolicy-User-Registry.pol.kestro-bak."))
            << console_.err;
        EXPECT_EQ((std::vector<std::string>{"User", "gpt.ini"}), ListDir(gpo_));
        EXPECT_EQ((std::vector<std::string>{"Registry.pol"}), ListDir(gpo_ + "/User"));
        liftedPol_ = ReadFile(gpo_ + "/User/Registry.pol");
        liftedGpt_ = ReadFile(gpo_ + "/gpt.ini");
        liftedSoftware_ = ReadFile(software_);
    }
    void ExpectAsLifted() {
        EXPECT_EQ(liftedPol_, ReadFile(gpo_ + "/User/Registry.pol"));
        EXPECT_EQ(liftedGpt_, ReadFile(gpo_ + "/gpt.ini"));
        EXPECT_EQ(liftedSoftware_, ReadFile(software_));
    }
    std::vector<std::uint8_t> pol_;
    std::string liftedPol_, liftedGpt_, liftedSoftware_;
};

TEST_F(OfflineRestorePolicy, RestorePutsBackTheRegistryPolAndDeletesTheGptIniTheRunMade) {
    LiftedRun();
    ASSERT_EQ(kExitOk, Run({"restore", "--dry-run"})) << console_.err;
    EXPECT_NE(std::string::npos, console_.out.find("would put back " + gpo_ + "/User/Registry.pol from ")) << console_.out;
    EXPECT_NE(std::string::npos, console_.out.find("would put back " + gpo_ + "/gpt.ini from ")) << console_.out;
    ExpectAsLifted();

    ASSERT_EQ(kExitOk, Run({"restore"})) << console_.err;
    EXPECT_EQ(Text(pol_), ReadFile(gpo_ + "/User/Registry.pol"));
    EXPECT_FALSE(FileExists(gpo_ + "/gpt.ini"));
    EXPECT_NE(std::string::npos, console_.out.find("deleted " + gpo_ + "/gpt.ini: it was absent")) << console_.out;
    EXPECT_EQ("DWORD:0x00000001", Explorer(software_));
    ASSERT_EQ(kExitOk, Run({"get", "NoRun"}));
    EXPECT_EQ("on (machine)\n", console_.out);
    // What was put back is not found again: the next restore has nothing of
    // the files to give.
    EXPECT_NE(kExitOk, Run({"restore", "--dry-run"}));
    EXPECT_EQ(std::string::npos, console_.out.find("Registry.pol")) << console_.out;
}

TEST_F(OfflineRestorePolicy, AFileChangedSinceTheRunRefusesTheWholeRestoreUnlessForced) {
    LiftedRun();
    // Someone edited the local Group Policy since (gpedit.msc on that Windows).
    WriteFile(gpo_ + "/User/Registry.pol",
              Text(WritePolicyFiles({PolicyDword(kHkeyCurrentUser, kExplorer, "NoFind", 0)}).user));
    liftedPol_ = ReadFile(gpo_ + "/User/Registry.pol");
    EXPECT_EQ(kExitFailed, Run({"restore"}));
    EXPECT_NE(std::string::npos, console_.err.find(gpo_ + "/User/Registry.pol: changed since the run")) << console_.err;
    ExpectAsLifted();  // the hive was not put back either

    ASSERT_EQ(kExitOk, Run({"restore", "--force"})) << console_.err;
    EXPECT_EQ(Text(pol_), ReadFile(gpo_ + "/User/Registry.pol"));
    EXPECT_EQ("DWORD:0x00000001", Explorer(software_));
}

TEST_F(OfflineRestorePolicy, AFileThatCannotBePutBackLeavesTheOthersAndTheHivesAsTheyWereFound) {
    LiftedRun("[General]\r\nVersion=3\r\n");
    {
        // User\Registry.pol goes back; gpt.ini's rename then fails.
        ScopedFileWriteFailure failure(FileStep::Replace, 1);
        EXPECT_EQ(kExitFailed, Run({"restore"}));
    }
    EXPECT_NE(std::string::npos, console_.err.find("Registry.pol is again as it was found")) << console_.err;
    ExpectAsLifted();
    EXPECT_EQ("absent", Explorer(software_));
    // and the way back is still there.
    ASSERT_EQ(kExitOk, Run({"restore"})) << console_.err;
    EXPECT_EQ(Text(pol_), ReadFile(gpo_ + "/User/Registry.pol"));
    EXPECT_EQ("[General]\r\nVersion=3\r\n", ReadFile(gpo_ + "/gpt.ini"));
    EXPECT_EQ("DWORD:0x00000001", Explorer(software_));
}

TEST_F(OfflineRestorePolicy, ABackupThatIsALinkOrNotOursIsPassedOver) {
    LiftedRun();
    const std::string config = windir_ + "/system32/config/";
    std::string backup;
    for (const std::string& name : ListDir(config))
        if (name.rfind("GroupPolicy-User-Registry.pol.kestro-bak.", 0) == 0) backup = name;
    ASSERT_FALSE(backup.empty());
    // A link to a file elsewhere in place of the backup: never followed.
    const std::string outside = dir_ / "planted";
    ::rename((config + backup).c_str(), outside.c_str());
    ASSERT_EQ(0, ::symlink(outside.c_str(), (config + backup).c_str()));
    EXPECT_EQ(kExitOk, Run({"restore", "--dry-run"})) << console_.err;
    EXPECT_NE(std::string::npos, console_.err.find("symbolic link")) << console_.err;
    EXPECT_EQ(std::string::npos, console_.out.find("User/Registry.pol")) << console_.out;
    // Bytes that are not a backup's: named, passed over, never written.
    ::unlink((config + backup).c_str());
    std::string text = ReadFile(outside);
    text[text.find("after\t")] = 'A';
    WriteFile(config + backup, text);
    EXPECT_EQ(kExitOk, Run({"restore", "--dry-run"})) << console_.err;
    EXPECT_NE(std::string::npos, console_.err.find("not a backup kestroctl made")) << console_.err;
}

// ---- A domain's copy on the volume ----

TEST_F(OfflinePolicySources, TheDomainsCopyOnTheVolumeSaysWhichValuesAreTheDomainsAndALinkIsNotFollowed) {
    MachineNoRun(1);
    const std::string guid = "{31B2F340-016D-11D2-945F-00C04FB984F9}";
    DomainHistory("\"FileSysPath\"=\"C:\\\\windows\\\\System32\\\\GroupPolicy\\\\DataStore\\\\0\\\\"
                  "sysvol\\\\corp.example\\\\Policies\\\\" + guid + "\\\\Machine\"\n");
    // Windows spells the folders as it likes: matched as NTFS matches names.
    const std::string copy = gpo_ + "/DataStore/0/SysVol/corp.example/Policies/" + guid + "/MACHINE";
    ASSERT_EQ(0, std::system(("mkdir -p '" + copy + "'").c_str()));
    WriteFile(copy + "/Registry.pol",
              Text(WritePolicyFiles({PolicyDword(kHkeyLocalMachine, kExplorer, "NoFind", 1)}).machine));
    ASSERT_EQ(kExitOk, Run({"get", "NoRun"})) << console_.err;
    EXPECT_EQ("on (machine)\n", console_.out);

    // Where the copy's Registry.pol is a link, nothing is read through it:
    // the value stays the domain's, and set is refused.
    const std::string outside = dir_ / "elsewhere.pol";
    ::rename((copy + "/Registry.pol").c_str(), outside.c_str());
    ASSERT_EQ(0, ::symlink(outside.c_str(), (copy + "/Registry.pol").c_str()));
    ASSERT_EQ(kExitOk, Run({"get", "NoRun"})) << console_.err;
    EXPECT_EQ("on (domain)\n", console_.out);
    const std::string software = ReadFile(software_);
    EXPECT_EQ(kExitFailed, Run({"set", "NoRun", "off"}));
    EXPECT_EQ(software, ReadFile(software_));

    // The copy back in place: NoRun is no domain's and is lifted.
    ::unlink((copy + "/Registry.pol").c_str());
    ::rename(outside.c_str(), (copy + "/Registry.pol").c_str());
    ASSERT_EQ(kExitOk, Run({"set", "NoRun", "off"})) << console_.err;
    EXPECT_EQ("absent", Explorer(software_));
}

}  // namespace
}  // namespace kestro::test
