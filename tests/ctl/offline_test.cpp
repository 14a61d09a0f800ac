// kestroctl --offline as an administrator uses it from a rescue system: its
// commands on real hive files the tests make, the results read back with
// reglookup, and every file left as it was whenever a command fails.
#include "ctl/commands.h"
#include "ctl/offline_store.h"
#include "registry/memory_registry.h"
#include "tests/ctl/ctl_fakes.h"
#include "tests/offline/offline_windows_fixture.h"

#include "tests/support/windows_volume.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

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

    // No ProfileList in these hives: the folders, with a note that says so.
    ASSERT_EQ(kExitOk, Run({"list-users"}));
    EXPECT_EQ("ACCOUNT  SID  NTUSER.DAT  FOLDER\n"
              "-        -    yes         " + dir_.Path() + "/Documents and Settings/Anna\n"
              "-        -    yes         " + dir_.Path() + "/Documents and Settings/Owner\n",
              console_.out);
    EXPECT_NE(std::string::npos, console_.err.find("the profiles are the folders that hold an NTUSER.DAT"))
        << console_.err;
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

// Offline, --undo keeps the way back too: the hives' values and the search
// history's tree, read by reglookup, are as before after the undo files
// are applied.
TEST_F(OfflineTool, UndoFilesGiveBackTheHivesValues) {
    ASSERT_TRUE(MergeReg(ntuser_, "Windows Registry Editor Version 5.00\n\n"
                                  "[\\Software\\Microsoft\\Search Assistant]\n\n"
                                  "[\\Software\\Microsoft\\Search Assistant\\ACMru]\n\n"
                                  "[\\Software\\Microsoft\\Search Assistant\\ACMru\\5001]\n\"000\"=\"cats\"\n\n"));
    const auto policies = ReglookupValues(ntuser_, kSystemPolicies);
    WriteFile(dir_ / "p.ini", "[Kestro]\nDisableTaskMgr = off\nDisableRegistryTools = default\nUsbStorageOff = off\n");
    ASSERT_EQ(kExitOk, Run({"--no-backup", "apply", dir_ / "p.ini", "--undo", dir_ / "apply.reg"})) << console_.err;
    ASSERT_EQ(kExitOk, Run({"--no-backup", "clear-search-history", "--undo", dir_ / "clear.reg"})) << console_.err;
    ASSERT_NE(policies, ReglookupValues(ntuser_, kSystemPolicies));
    ASSERT_FALSE(ReglookupHasKey(ntuser_, "Software\\Microsoft\\Search Assistant\\ACMru"));
    ASSERT_EQ(kExitOk, Run({"--no-backup", "apply", dir_ / "clear.reg"})) << console_.err;
    ASSERT_EQ(kExitOk, Run({"--no-backup", "apply", dir_ / "apply.reg"})) << console_.err;
    EXPECT_EQ(policies, ReglookupValues(ntuser_, kSystemPolicies));
    EXPECT_EQ((std::map<std::string, std::string>{{"000", "SZ:cats"}}),
              ReglookupValues(ntuser_, "Software\\Microsoft\\Search Assistant\\ACMru\\5001"));
}

// A profile is exported without any registry: natively with no --offline
// (a Samba domain controller is a Linux machine), and the bytes are those
// the in-memory store's run of the same command gives. Without --profile
// there is still nothing to export from.
TEST_F(OfflineTool, AProfileIsExportedWithoutARegistry) {
    WriteFile(dir_ / "p.ini", "[Kestro]\nNoRun = on\nMaxRecentDocs = 7\nRecycleBinName = \"Корзина\"\n");
    CapturingConsole console;
    OfflineStoreProvider provider(console);
    ASSERT_EQ(kExitOk, RunKestroctl({"export", "reg", dir_ / "native.reg", "--profile", dir_ / "p.ini"}, provider,
                                    console))
        << console.err;
    ASSERT_EQ(kExitOk, RunKestroctl({"export", "pol", dir_ / "gpo", "--profile", dir_ / "p.ini"}, provider, console))
        << console.err;

    MemoryRegistryStore memory;
    FixedStore fixed(memory);
    ASSERT_EQ(kExitOk, RunKestroctl({"export", "reg", dir_ / "memory.reg", "--profile", dir_ / "p.ini"}, fixed,
                                    console));
    EXPECT_EQ(ReadFile(dir_ / "memory.reg"), ReadFile(dir_ / "native.reg"));
    EXPECT_EQ(0, memory.CallCount()) << "an export of a profile read the registry";
    EXPECT_NE(std::string::npos, ReadFile(dir_ / "gpo/User/Registry.pol").find("PReg"));

    EXPECT_EQ(kExitUsage, RunKestroctl({"export", "reg", dir_ / "none.reg"}, provider, console));
    EXPECT_NE(std::string::npos, console.err.find("no Windows registry")) << console.err;
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

TEST_F(OfflineTool, AWallpaperIsAWindowsPathOfAFileOnTheVolume) {
    Shell("mkdir -p " + Quote(windir_ + "/Web/Wallpaper") + " && touch " + Quote(windir_ + "/Web/Wallpaper/Bliss.bmp") +
          " " + Quote(dir_ / "pic.bmp"));
    const std::string before = Bytes();
    // A file of the rescue system, by a relative or a POSIX path, means
    // nothing to the Windows on the volume.
    for (const std::string& wrong : {dir_ / "pic.bmp", std::string("pic.bmp"), std::string("D:\\pic.bmp"),
                                     std::string("C:\\WINDOWS\\Web\\missing.bmp"),
                                     std::string("C:\\WINDOWS\\Web")}) {  // a folder
        EXPECT_EQ(kExitUsage, Run({"set", "Wallpaper", wrong})) << wrong;
        EXPECT_NE(std::string::npos, console_.err.find("Wallpaper: " + wrong)) << console_.err;
    }
    EXPECT_EQ(before, Bytes());

    ASSERT_EQ(kExitOk, Run({"set", "Wallpaper", "c:/windows/web/WALLPAPER/bliss.bmp"})) << console_.err;
    EXPECT_EQ("SZ:c:\\windows\\web\\WALLPAPER\\bliss.bmp", ReglookupValues(ntuser_, "Control Panel\\Desktop")["Wallpaper"]);

    // A profile saved on that Windows names its files as Windows does.
    WriteFile(dir_ / "saved.ini", "[Kestro]\nWallpaper = \"%SystemRoot%\\Web\\Wallpaper\\Bliss.bmp\"\nNoRun = off\n");
    ASSERT_EQ(kExitOk, Run({"apply", dir_ / "saved.ini"})) << console_.err;
    // (reglookup shows % as %25.)
    EXPECT_EQ("SZ:%25SystemRoot%25\\Web\\Wallpaper\\Bliss.bmp", ReglookupValues(ntuser_, "Control Panel\\Desktop")["Wallpaper"]);
    EXPECT_EQ("Wallpaper = %SystemRoot%\\Web\\Wallpaper\\Bliss.bmp\nNoRun = off\n", console_.out);
}

TEST_F(OfflineTool, ApplyReportsOnlyWhatReachedTheFiles) {
    SetReadOnly(software_, true);
    WriteFile(dir_ / "p.ini", "[Kestro]\nDisableTaskMgr = off\nUsbStorageOff = off\nRecycleBinName = \"Trash\"\n");
    EXPECT_EQ(kExitFailed, Run({"apply", dir_ / "p.ini"}));
    EXPECT_EQ("", console_.out);  // nothing was written, so nothing is set
    SetReadOnly(software_, false);
    ASSERT_EQ(kExitOk, Run({"apply", dir_ / "p.ini"})) << console_.err;
    EXPECT_EQ("DisableTaskMgr = off\nUsbStorageOff = off\nRecycleBinName = Trash\n", console_.out);
}

TEST_F(OfflineTool, AHibernatedWindowsIsReadButNotWritten) {
    WriteFile(dir_ / "hiberfil.sys", "hibr" + std::string(8192, '\x01'));
    const std::string before = Bytes();
    EXPECT_EQ(kExitFailed, Run({"set", "DisableTaskMgr", "off"}));
    EXPECT_NE(std::string::npos, console_.err.find("hibernated")) << console_.err;
    EXPECT_NE(std::string::npos, console_.err.find("powercfg /h off")) << console_.err;
    EXPECT_EQ(kExitFailed, Run({"--user", "Owner", "restore"}));
    EXPECT_EQ(before, Bytes());
    EXPECT_EQ((std::vector<std::string>{"NTUSER.DAT"}), ListDir(dir_.Path() + "/Documents and Settings/Owner"));

    ASSERT_EQ(kExitOk, Run({"get", "DisableTaskMgr"})) << console_.err;
    EXPECT_EQ("on\n", console_.out);
    EXPECT_NE(std::string::npos, console_.err.find("note:")) << console_.err;

    // Resumed and shut down: the header is zeroed.
    WriteFile(dir_ / "hiberfil.sys", std::string(8192, '\0'));
    EXPECT_EQ(kExitOk, Run({"set", "DisableTaskMgr", "off"})) << console_.err;
}

TEST_F(OfflineTool, TheUserIsTheProfileWindowsLoads) {
    Make({"john", "john.PC"});
    const std::string key = "\\Microsoft\\Windows NT\\CurrentVersion";
    ASSERT_TRUE(MergeReg(software_, "Windows Registry Editor Version 5.00\n\n[" + key + "\\ProfileList]\n\n[" + key +
                                        "\\ProfileList\\S-1-5-21-7-8-9-1004]\n\"ProfileImagePath\"=\"C:\\\\Documents and "
                                        "Settings\\\\john.PC\"\n\n"));
    const std::string sam = windir_ + "/system32/config/sam";
    WriteEmptyHive(sam);
    ASSERT_TRUE(MergeReg(sam, "Windows Registry Editor Version 5.00\n\n[\\SAM]\n\n[\\SAM\\Domains]\n\n"
                              "[\\SAM\\Domains\\Account]\n\n[\\SAM\\Domains\\Account\\Users]\n\n"
                              "[\\SAM\\Domains\\Account\\Users\\Names]\n\n"
                              "[\\SAM\\Domains\\Account\\Users\\Names\\john]\n@=hex(3ec):\n\n"));
    const std::string old = dir_.Path() + "/Documents and Settings/john/NTUSER.DAT";
    const std::string loaded = dir_.Path() + "/Documents and Settings/john.PC/NTUSER.DAT";
    const std::string oldBytes = ReadFile(old);
    ASSERT_EQ(kExitOk, Run({"--user", "john", "set", "NoRun", "off"})) << console_.err;
    EXPECT_EQ("DWORD:0x00000000", ReglookupValues(loaded, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer")["NoRun"]);
    EXPECT_EQ(oldBytes, ReadFile(old));
    // The one person Windows loads needs no --user.
    ASSERT_EQ(kExitOk, Run({"get", "NoRun"})) << console_.err;
    EXPECT_EQ("off\n", console_.out);

    ASSERT_EQ(kExitOk, Run({"list-users"}));
    EXPECT_NE(std::string::npos, console_.out.find("john     S-1-5-21-7-8-9-1004  yes         " + dir_.Path() +
                                                    "/Documents and Settings/john.PC\n"))
        << console_.out;
    EXPECT_NE(std::string::npos, console_.out.find("/Documents and Settings/john (not loaded by Windows"))
        << console_.out;
}

TEST_F(OfflineTool, RestoreUndoesTheLastRunThenTheOneBefore) {
    const std::string system0 = ReadFile(system_), user0 = ReadFile(ntuser_);
    WriteFile(dir_ / "p.ini", "[Kestro]\nDisableTaskMgr = off\nUsbStorageOff = off\n");
    ASSERT_EQ(kExitOk, Run({"apply", dir_ / "p.ini"})) << console_.err;
    const std::string system1 = ReadFile(system_), user1 = ReadFile(ntuser_);
    ASSERT_EQ(kExitOk, Run({"set", "NoRun", "off"})) << console_.err;
    const std::string user2 = ReadFile(ntuser_);

    ASSERT_EQ(kExitOk, Run({"restore", "--dry-run"})) << console_.err;
    EXPECT_NE(std::string::npos, console_.out.find("would put back " + ntuser_ + " from " + ntuser_ + ".kestro-bak.1"))
        << console_.out;
    EXPECT_EQ(user2, ReadFile(ntuser_));

    // The last run touched the user's hive only: SYSTEM keeps its change.
    ASSERT_EQ(kExitOk, Run({"restore"})) << console_.err;
    EXPECT_EQ(user1, ReadFile(ntuser_));
    EXPECT_EQ(system1, ReadFile(system_));
    EXPECT_EQ(user2, ReadFile(ntuser_ + ".kestro-replaced"));
    // The run before: both hives.
    ASSERT_EQ(kExitOk, Run({"restore"})) << console_.err;
    EXPECT_EQ(user0, ReadFile(ntuser_));
    EXPECT_EQ(system0, ReadFile(system_));
    EXPECT_EQ(kExitUsage, Run({"restore"}));
    EXPECT_NE(std::string::npos, console_.err.find("no kestroctl backup")) << console_.err;
}

TEST_F(OfflineTool, ANewBackupIsNumberedAboveEveryOtherSoRestoreTakesIt) {
    ASSERT_EQ(kExitOk, Run({"set", "NoRun", "off"})) << console_.err;
    ASSERT_EQ(kExitOk, Run({"set", "NoRun", "on"})) << console_.err;
    const std::string before = ReadFile(ntuser_);
    // The oldest removed by hand, and an old log's backup left: the next is
    // above both, not in the gap.
    ASSERT_EQ(0, ::unlink((ntuser_ + ".kestro-bak").c_str()));
    WriteFile(ntuser_ + ".log1.kestro-bak.2", "an old log");
    ASSERT_EQ(kExitOk, Run({"set", "DisableTaskMgr", "off"})) << console_.err;
    EXPECT_EQ(before, ReadFile(ntuser_ + ".kestro-bak.3"));
    ASSERT_EQ(kExitOk, Run({"restore"})) << console_.err;
    EXPECT_EQ(before, ReadFile(ntuser_));
}

TEST_F(OfflineTool, RestoreRefusesAHiveWindowsChangedSinceUnlessForced) {
    const std::string user0 = ReadFile(ntuser_);
    ASSERT_EQ(kExitOk, Run({"set", "NoRun", "off"})) << console_.err;
    // Windows ran and wrote the hive.
    ASSERT_TRUE(MergeReg(ntuser_, "Windows Registry Editor Version 5.00\n\n[\\Control Panel]\n\"Windows\"=dword:00000001\n\n"));
    const std::string changed = ReadFile(ntuser_);
    EXPECT_EQ(kExitFailed, Run({"restore"}));
    EXPECT_NE(std::string::npos, console_.err.find("NTUSER.DAT changed since kestroctl wrote it")) << console_.err;
    EXPECT_EQ(changed, ReadFile(ntuser_));
    ASSERT_EQ(kExitOk, Run({"restore", "--force"})) << console_.err;
    EXPECT_EQ(user0, ReadFile(ntuser_));
    EXPECT_EQ(changed, ReadFile(ntuser_ + ".kestro-replaced"));
}

}  // namespace
}  // namespace kestro::test
