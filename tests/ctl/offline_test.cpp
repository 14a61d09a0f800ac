// kestroctl --offline as an administrator uses it from a rescue system: its
// commands on real hive files the tests make, the results read back with
// reglookup, and every file left as it was whenever a command fails.
#include "ctl/commands.h"
#include "ctl/offline_store.h"
#include "tests/ctl/ctl_fakes.h"
#include "tests/platform/offline_windows_fixture.h"

#include "tests/support/windows_volume.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace kestro::test {
namespace {

std::string Fixture(const std::string& name) { return ReadFile(std::string(KESTRO_OFFLINE_FIXTURES) + "/" + name); }

constexpr const char* kSystemPolicies = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";

class OfflineTool : public ::testing::Test {
protected:
    void SetUp() override { Make({"Owner"}); }

    void Make(const std::vector<std::string>& users) {
        windir_ = MakeOfflineWindows(dir_.Path(), Fixture("system.reg"), Fixture("software.reg"), users,
                                     Fixture("ntuser.reg"));
        system_ = windir_ + "/system32/config/system";
        software_ = windir_ + "/system32/config/software";
        ntuser_ = dir_.Path() + "/Documents and Settings/Owner/NTUSER.DAT";
    }

    // kestroctl --offline WINDIR ARGUMENTS...
    int Run(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"--offline", windir_});
        console_ = CapturingConsole();
        OfflineStoreProvider provider(console_);
        return RunKestroctl(arguments, provider, console_);
    }

    std::string Bytes() const { return ReadFile(system_) + ReadFile(software_) + ReadFile(ntuser_); }

    TempDir dir_;
    std::string windir_, system_, software_, ntuser_;
    CapturingConsole console_;
};

TEST_F(OfflineTool, TheRescueUndoesTheRestrictionsInTheFiles) {
    ASSERT_EQ(kExitOk, Run({"get", "DisableTaskMgr"})) << console_.err;
    EXPECT_EQ("on\n", console_.out);

    ASSERT_EQ(kExitOk, Run({"set", "DisableTaskMgr", "off"})) << console_.err;
    ASSERT_EQ(kExitOk, Run({"set", "disableregistrytools", "off"})) << console_.err;
    EXPECT_EQ((std::map<std::string, std::string>{{"disabletaskmgr", "DWORD:0x00000000"},
                                                  {"DisableRegistryTools", "DWORD:0x00000000"}}),
              ReglookupValues(ntuser_, kSystemPolicies));
    EXPECT_NE(std::string::npos, console_.err.find("wrote " + ntuser_)) << console_.err;

    ASSERT_EQ(kExitOk, Run({"list"}));
    EXPECT_NE(std::string::npos, console_.out.find("DisableTaskMgr          off")) << console_.out;
    EXPECT_NE(std::string::npos, console_.out.find("UsbStorageOff           on ")) << console_.out;
}

TEST_F(OfflineTool, AMachineSettingNeedsNoUserButTheUsersSettingsDo) {
    Make({"Owner", "Anna"});
    const std::string otherSet = Shell("reglookup -H -p /ControlSet001 '" + system_ + "'");
    ASSERT_EQ(kExitOk, Run({"set", "UsbStorageOff", "off"})) << console_.err;
    EXPECT_EQ("DWORD:0x00000003", ReglookupValues(system_, "ControlSet002\\Services\\USBSTOR")["Start"]);
    EXPECT_EQ(otherSet, Shell("reglookup -H -p /ControlSet001 '" + system_ + "'"));

    EXPECT_EQ(kExitUsage, Run({"list"}));
    EXPECT_NE(std::string::npos, console_.err.find("--user")) << console_.err;
    EXPECT_EQ(kExitOk, Run({"--user", "anna", "list"})) << console_.err;

    ASSERT_EQ(kExitOk, Run({"list-users"}));
    EXPECT_EQ("Anna  " + dir_.Path() + "/Documents and Settings/Anna/NTUSER.DAT\nOwner  " + ntuser_ + "\n",
              console_.out);
}

TEST_F(OfflineTool, ClearingTheSearchHistoryRemovesItsWholeTree) {
    ASSERT_TRUE(MergeReg(ntuser_, "Windows Registry Editor Version 5.00\n\n"
                                  "[\\Software\\Microsoft\\Search Assistant]\n\n"
                                  "[\\Software\\Microsoft\\Search Assistant\\ACMru]\n\"a\"=\"x\"\n\n"
                                  "[\\Software\\Microsoft\\Search Assistant\\ACMru\\5001]\n\"000\"=\"cats\"\n\n"
                                  "[\\Software\\Microsoft\\Search Assistant\\ACMru\\5001\\Deeper]\n\n"));
    ASSERT_TRUE(ReglookupHasKey(ntuser_, "Software\\Microsoft\\Search Assistant\\ACMru\\5001\\Deeper"));
    ASSERT_EQ(kExitOk, Run({"clear-search-history"})) << console_.err;
    EXPECT_FALSE(ReglookupHasKey(ntuser_, "Software\\Microsoft\\Search Assistant\\ACMru"));
    EXPECT_TRUE(ReglookupHasKey(ntuser_, "Software\\Microsoft\\Search Assistant"));
}

TEST_F(OfflineTool, ReadingCommandsChangeNoByte) {
    const std::string before = Bytes();
    struct stat st {};
    ::stat(ntuser_.c_str(), &st);
    EXPECT_EQ(kExitOk, Run({"list", "--json"}));
    EXPECT_EQ(kExitOk, Run({"get", "FontSmoothing"}));
    const std::string profile = dir_ / "saved.ini";
    EXPECT_EQ(kExitOk, Run({"save", profile})) << console_.err;
    WriteFile(dir_ / "rescue.ini", "[Kestro]\nDisableTaskMgr = off\nUsbStorageOff = off\n");
    EXPECT_EQ(kExitOk, Run({"apply", "--dry-run", dir_ / "rescue.ini"}));
    EXPECT_NE(std::string::npos, console_.out.find("DisableTaskMgr: on -> off")) << console_.out;

    EXPECT_EQ(before, Bytes());
    struct stat after {};
    ::stat(ntuser_.c_str(), &after);
    EXPECT_EQ(st.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
    EXPECT_EQ((std::vector<std::string>{"software", "system"}), ListDir(windir_ + "/system32/config"));
    EXPECT_NE(std::string::npos, ReadFile(profile).find("DisableTaskMgr = on")) << ReadFile(profile);
}

TEST_F(OfflineTool, ACommandThatFailsAnywhereWritesNoHiveAtAll) {
    // The Recycle Bin's texts live in SOFTWARE, which is read-only here;
    // the user's and the machine's settings before it must not be written
    // either.
    SetReadOnly(software_, true);
    WriteFile(dir_ / "p.ini", "[Kestro]\nDisableTaskMgr = off\nUsbStorageOff = off\nRecycleBinName = \"Trash\"\n");
    const std::string before = Bytes();
    EXPECT_EQ(kExitFailed, Run({"apply", dir_ / "p.ini"}));
    EXPECT_NE(std::string::npos, console_.err.find(software_ + ": the file is read-only")) << console_.err;
    EXPECT_NE(std::string::npos, console_.err.find("nothing was written to the other hives")) << console_.err;
    EXPECT_EQ(before, Bytes());
    EXPECT_EQ((std::vector<std::string>{"software", "system"}), ListDir(windir_ + "/system32/config"));

    SetReadOnly(software_, false);
    EXPECT_EQ(kExitOk, Run({"--no-backup", "apply", dir_ / "p.ini"})) << console_.err;
}

TEST_F(OfflineTool, NoBackupKeepsNoCopyAndADirtyHiveIsRefused) {
    ASSERT_EQ(kExitOk, Run({"--no-backup", "set", "NoRun", "off"})) << console_.err;
    EXPECT_EQ((std::vector<std::string>{"NTUSER.DAT"}), ListDir(dir_.Path() + "/Documents and Settings/Owner"));

    MakeDirty(system_);
    const std::string dirty = ReadFile(system_);
    EXPECT_EQ(kExitFailed, Run({"set", "CdromOff", "on"}));
    EXPECT_NE(std::string::npos, console_.err.find("dirty")) << console_.err;
    EXPECT_EQ(dirty, ReadFile(system_));  // left as it was
}

}  // namespace
}  // namespace kestro::test
