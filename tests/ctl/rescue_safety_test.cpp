// What a rescue must never do to the Windows volume it is given, and what
// it says when it will not: follow a link off the volume, let two runs lose
// a change, write over a change it did not read, drop what Windows set on a
// hive, write to a read-only mount, or leave its leftovers for ever. Run on
// a plain folder and, through tests/offline/on_ntfs.sh, on an NTFS volume.
#include "ctl/commands.h"
#include "ctl/offline_store.h"
#include "offline/writer_lock.h"
#include "offline/hive_registry.h"
#include "tests/ctl/ctl_fakes.h"
#include "tests/offline/offline_windows_fixture.h"
#include "tests/support/log_files.h"
#include "tests/support/windows_volume.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace kestro::test {
namespace {

std::string Fixture(const std::string& name) { return ReadFile(std::string(KESTRO_OFFLINE_FIXTURES) + "/" + name); }

constexpr const char* kSystemPolicies = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";

dev_t DeviceOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_dev;
}

// A folder off the volume the tests run on: in memory where there is
// /dev/shm (another file system than any disk), else the system's /tmp.
class OutsideDir {
public:
    OutsideDir() {
        std::string pattern = std::string(::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/kestro-out-XXXXXX";
        if (::mkdtemp(&pattern[0])) path_ = pattern;
    }
    ~OutsideDir() { Shell("rm -rf " + Quote(path_)); }
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

class RescueSafety : public ::testing::Test {
protected:
    void SetUp() override {
        windir_ = MakeOfflineWindows(dir_.Path(), Fixture("system.reg"), Fixture("software.reg"), {"Owner"},
                                     Fixture("ntuser.reg"));
        profile_ = dir_.Path() + "/Documents and Settings/Owner";
        ntuser_ = profile_ + "/NTUSER.DAT";
    }

    // kestroctl --offline WINDIR --user Owner ARGUMENTS...
    int Run(std::vector<std::string> arguments, const std::string& windir = "") {
        arguments.insert(arguments.begin(), {"--offline", windir.empty() ? windir_ : windir, "--user", "Owner"});
        console_ = CapturingConsole();
        OfflineStoreProvider provider(console_);
        return RunKestroctl(arguments, provider, console_);
    }

    // The DisableTaskMgr the user's hive holds, as reglookup reads it.
    std::string TaskMgr(const std::string& hive) { return ReglookupValues(hive, kSystemPolicies)["disabletaskmgr"]; }

    TempDir dir_;
    OutsideDir outside_;
    std::string windir_, profile_, ntuser_;
    CapturingConsole console_;
};

TEST_F(RescueSafety, AHiveThatIsASymlinkIsRefusedAndItsTargetNeitherChangedNorCopied) {
    // The worst case: the link leads to a real hive, which would be written.
    ASSERT_FALSE(outside_.Path().empty());
    WriteFile(outside_ / "target", ReadFile(ntuser_));
    const std::string target = ReadFile(outside_ / "target");
    ASSERT_EQ(0, ::unlink(ntuser_.c_str()));
    ASSERT_EQ(0, ::symlink((outside_ / "target").c_str(), ntuser_.c_str()));

    EXPECT_EQ(kExitFailed, Run({"set", "DisableTaskMgr", "off"}));
    EXPECT_NE(std::string::npos, console_.err.find(ntuser_ + ": it is a symbolic link")) << console_.err;
    EXPECT_EQ(kExitFailed, Run({"get", "DisableTaskMgr"}));
    EXPECT_EQ(target, ReadFile(outside_ / "target"));
    EXPECT_EQ((std::vector<std::string>{"target"}), ListDir(outside_.Path()));
    EXPECT_EQ((std::vector<std::string>{"NTUSER.DAT"}), ListDir(profile_));
}

TEST_F(RescueSafety, ALogThatIsASymlinkIsNeitherCopiedNorEmptied) {
    // A dirty hive whose log, a real one that would recover it, is a link
    // off the volume: replayed, it would be copied beside the hive and
    // then emptied where it points.
    std::string newer = ReadFile(ntuser_);
    SetSequence(newer, 7, 7);
    std::string older = newer;
    ASSERT_TRUE(PatchDword(older, "disabletaskmgr", 0));
    std::string primary = older;
    SetSequence(primary, 8, 7);
    WriteFile(ntuser_, primary);
    WriteFile(outside_ / "target", MakeOldFormatLog(older, newer, 8));
    const std::string target = ReadFile(outside_ / "target");
    ASSERT_EQ(0, ::symlink((outside_ / "target").c_str(), (ntuser_ + ".LOG").c_str()));

    EXPECT_EQ(kExitFailed, Run({"set", "DisableRegistryTools", "off"}));
    EXPECT_NE(std::string::npos, console_.err.find("NTUSER.DAT.LOG: it is a symbolic link")) << console_.err;
    EXPECT_EQ(target, ReadFile(outside_ / "target"));
    EXPECT_EQ(primary, ReadFile(ntuser_));
    EXPECT_EQ((std::vector<std::string>{"target"}), ListDir(outside_.Path()));
    EXPECT_EQ((std::vector<std::string>{"NTUSER.DAT", "NTUSER.DAT.LOG"}), ListDir(profile_));
}

TEST_F(RescueSafety, AFolderIsFollowedOnlyWhileItStaysOnTheVolume) {
    // Vista's junction "Documents and Settings" -> "Users", on the volume:
    // followed.
    const std::string root = dir_.Path();
    ASSERT_EQ(0, ::rename((root + "/Documents and Settings").c_str(), (root + "/Users").c_str()));
    ASSERT_EQ(0, ::symlink("Users", (root + "/Documents and Settings").c_str()));
    EXPECT_EQ(kExitOk, Run({"set", "DisableTaskMgr", "off"})) << console_.err;
    EXPECT_EQ("DWORD:0x00000000", TaskMgr(root + "/Users/Owner/NTUSER.DAT"));

    // A profile folder that leads to another file system: not followed.
    if (DeviceOf(outside_.Path()) == DeviceOf(root))
        GTEST_SKIP() << outside_.Path() << " is on the same file system as " << root;
    Shell("mv " + Quote(root + "/Users/Owner") + " " + Quote(outside_.Path()));
    ASSERT_TRUE(IsExistingFile(outside_ / "Owner/NTUSER.DAT"));
    ASSERT_EQ(0, ::symlink((outside_ / "Owner").c_str(), (root + "/Users/Owner").c_str()));
    const std::string before = ReadFile(outside_ / "Owner/NTUSER.DAT");
    const std::vector<std::string> listing = ListDir(outside_ / "Owner");
    EXPECT_EQ(kExitFailed, Run({"set", "DisableTaskMgr", "on"}));
    EXPECT_NE(std::string::npos, console_.err.find("leads off the Windows volume")) << console_.err;
    EXPECT_EQ(before, ReadFile(outside_ / "Owner/NTUSER.DAT"));
    EXPECT_EQ(listing, ListDir(outside_ / "Owner"));
}

TEST_F(RescueSafety, ARelativeWindowsFolderIsWalkedFromTheCurrentFolder) {
    char here[4096];
    ASSERT_NE(nullptr, ::getcwd(here, sizeof here));
    ASSERT_EQ(0, ::chdir(dir_.Path().c_str()));
    const int code = Run({"set", "DisableTaskMgr", "off"}, "WINDOWS");
    ASSERT_EQ(0, ::chdir(here));
    EXPECT_EQ(kExitOk, code) << console_.err;
    EXPECT_EQ("DWORD:0x00000000", TaskMgr(ntuser_));
}

TEST_F(RescueSafety, ASecondWriterWaitsAndIsToldWhoHoldsTheHive) {
    Folder folder;
    std::string error;
    ASSERT_TRUE(Folder::Open(profile_, nullptr, &folder, &error)) << error;
    const std::string before = ReadFile(ntuser_);
    {
        WriterLock other;
        bool readOnly = false;
        ASSERT_TRUE(other.Acquire(folder, "NTUSER.DAT", std::chrono::milliseconds(0), &error, &readOnly)) << error;
        HiveFile::ScopedLockWait wait(std::chrono::milliseconds(300));
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(kExitFailed, Run({"set", "DisableTaskMgr", "off"}));
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
        EXPECT_NE(std::string::npos,
                  console_.err.find("another kestroctl is writing it (process " + std::to_string(::getpid()) + " on "))
            << console_.err;
        EXPECT_EQ(before, ReadFile(ntuser_));
        // Reading needs no lock.
        EXPECT_EQ(kExitOk, Run({"get", "DisableTaskMgr"})) << console_.err;
    }
    EXPECT_EQ(kExitOk, Run({"set", "DisableTaskMgr", "off"})) << console_.err;
    EXPECT_EQ((std::vector<std::string>{"NTUSER.DAT", "NTUSER.DAT.kestro-bak", "NTUSER.DAT.kestro-bak.kestro-record"}),
              ListDir(profile_));
}

TEST_F(RescueSafety, RestoreWaitsForAnotherWriterAndPutsNothingBackMeanwhile) {
    const std::string original = ReadFile(ntuser_);
    ASSERT_EQ(kExitOk, Run({"set", "DisableTaskMgr", "off"})) << console_.err;
    const std::string written = ReadFile(ntuser_);
    const std::vector<std::string> files = ListDir(profile_);
    Folder folder;
    std::string error;
    ASSERT_TRUE(Folder::Open(profile_, nullptr, &folder, &error)) << error;
    {
        WriterLock other;
        bool readOnly = false;
        ASSERT_TRUE(other.Acquire(folder, "NTUSER.DAT", std::chrono::milliseconds(0), &error, &readOnly)) << error;
        HiveFile::ScopedLockWait wait(std::chrono::milliseconds(300));
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(kExitFailed, Run({"restore"}));
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
        EXPECT_NE(std::string::npos, console_.err.find("another kestroctl is writing it")) << console_.err;
        EXPECT_NE(std::string::npos, console_.err.find("nothing was put back")) << console_.err;
        EXPECT_EQ(written, ReadFile(ntuser_));
        std::vector<std::string> withLock = files;
        withLock.push_back("NTUSER.DAT.kestro-lock");
        std::sort(withLock.begin(), withLock.end());
        EXPECT_EQ(withLock, ListDir(profile_));
        // Saying what it would do changes nothing, and needs no lock.
        EXPECT_EQ(kExitOk, Run({"restore", "--dry-run"})) << console_.err;
    }
    ASSERT_EQ(kExitOk, Run({"restore"})) << console_.err;
    EXPECT_EQ(original, ReadFile(ntuser_));
    EXPECT_EQ((std::vector<std::string>{"NTUSER.DAT", "NTUSER.DAT.kestro-replaced"}), ListDir(profile_));
}

TEST_F(RescueSafety, RestorePutsBackNoBackupThatIsASymlink) {
    ASSERT_FALSE(outside_.Path().empty());
    ASSERT_EQ(kExitOk, Run({"set", "DisableTaskMgr", "off"})) << console_.err;
    const std::string written = ReadFile(ntuser_);
    // The backup swapped for a link off the volume: put back, the hive
    // would be that link.
    WriteFile(outside_ / "target", ReadFile(ntuser_ + ".kestro-bak"));
    const std::string backup = ntuser_ + ".kestro-bak";
    ASSERT_EQ(0, ::unlink(backup.c_str()));
    ASSERT_EQ(0, ::symlink((outside_ / "target").c_str(), backup.c_str()));
    EXPECT_EQ(kExitFailed, Run({"restore"}));
    EXPECT_NE(std::string::npos, console_.err.find(backup + ": it is a symbolic link"))
        << console_.err;
    struct stat st {};
    ASSERT_EQ(0, ::lstat(ntuser_.c_str(), &st));
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(written, ReadFile(ntuser_));
    EXPECT_EQ((std::vector<std::string>{"NTUSER.DAT", "NTUSER.DAT.kestro-bak", "NTUSER.DAT.kestro-bak.kestro-record"}),
              ListDir(profile_));
}

TEST_F(RescueSafety, AHiveChangedBetweenTheReadAndTheCommitIsNotWrittenOver) {
    // Another program's write in place, and a copy renamed over the hive
    // with the same size and times: both are found, and nothing is written.
    const std::string original = ReadFile(ntuser_);
    for (bool inPlace : {true, false}) {
        SCOPED_TRACE(inPlace ? "written in place" : "renamed over");
        WriteFile(ntuser_, original);
        std::string error;
        auto hive = HiveFile::Open(ntuser_, HiveFile::Mode::Write, &error);
        ASSERT_TRUE(hive) << error;
        HiveRegistryStore store;
        store.Mount(HiveRegistryStore::Slot::User, std::move(hive));
        KeyHandle key = 0;
        ASSERT_EQ(kErrorSuccess, store.OpenKey(kHkeyCurrentUser, kSystemPolicies, kKeyAllAccess, &key));
        const std::uint8_t zero[4] = {};
        ASSERT_EQ(kErrorSuccess, store.SetValue(key, "DisableRegistryTools", kRegDword, zero, 4));
        store.CloseKey(key);

        std::string theirs = original;
        ASSERT_TRUE(PatchDword(theirs, "NoRun", 7));
        struct stat st {};
        ::stat(ntuser_.c_str(), &st);
        if (inPlace) {
            WriteFile(ntuser_, theirs);
        } else {
            WriteFile(ntuser_ + ".theirs", theirs);
            const timespec times[2] = {st.st_atim, st.st_mtim};
            ::utimensat(AT_FDCWD, (ntuser_ + ".theirs").c_str(), times, 0);
            ASSERT_EQ(0, ::rename((ntuser_ + ".theirs").c_str(), ntuser_.c_str()));
        }
        EXPECT_FALSE(store.Commit(HiveFile::CommitOptions{true}, &error));
        EXPECT_NE(std::string::npos, error.find("it changed on disk after it was read")) << error;
        EXPECT_EQ(theirs, ReadFile(ntuser_));
        EXPECT_EQ((std::vector<std::string>{"NTUSER.DAT"}), ListDir(profile_));
    }
}

TEST_F(RescueSafety, WhatWindowsSetOnTheHiveIsKeptOrNothingIsWritten) {
    const std::string before = ReadFile(ntuser_);
    const WindowsMetadata windows = ReadWindowsMetadata(ntuser_);
    {
        ScopedFileWriteFailure refuse(FileStep::Carry);
        EXPECT_EQ(kExitFailed, Run({"set", "DisableTaskMgr", "off"}));
    }
    EXPECT_NE(std::string::npos, console_.err.find("cannot keep what Windows set on it")) << console_.err;
    EXPECT_EQ(before, ReadFile(ntuser_));
    EXPECT_EQ((std::vector<std::string>{"NTUSER.DAT"}), ListDir(profile_));

    EXPECT_EQ(kExitOk, Run({"set", "DisableTaskMgr", "off"})) << console_.err;
    EXPECT_TRUE(windows == ReadWindowsMetadata(ntuser_));
    EXPECT_TRUE(windows == ReadWindowsMetadata(ntuser_ + ".kestro-bak"));
    if (HasWindowsMetadata(ntuser_)) {
        EXPECT_EQ(WindowsLikeDescriptor(1000), windows.descriptor);
    }
}

TEST_F(RescueSafety, ARunStoppedPartWayLeavesNothingTheNextWriteDoesNotRemove) {
    // What a run killed before its rename leaves: the new hive under its
    // temporary name, and a rollback's undo link.
    const std::vector<std::string> leftovers = {".NTUSER.DAT.kestro-4242-0-0badf00d.tmp", ".NTUSER.DAT.kestro-undo"};
    for (const std::string& name : leftovers) WriteFile(profile_ + "/" + name, ReadFile(ntuser_));
    WriteFile(profile_ + "/NTUSER.DAT.kestro-lock", "process 4242 on rescue, since 2026-01-01 10:00:00 UTC\n");
    // What earlier runs and a restore keep is no leftover: it stays.
    const std::vector<std::string> kept = {"NTUSER.DAT.kestro-bak", "NTUSER.DAT.kestro-bak.kestro-record",
                                           "NTUSER.DAT.kestro-replaced"};
    for (const std::string& name : kept) WriteFile(profile_ + "/" + name, name);

    EXPECT_EQ(kExitOk, Run({"get", "DisableTaskMgr"})) << console_.err;
    for (const std::string& name : leftovers)
        EXPECT_NE(std::string::npos, console_.err.find(name + " was left by a run that was stopped part-way"))
            << console_.err;
    EXPECT_EQ(7u, ListDir(profile_).size());  // the hive, two leftovers, a stale lock, what is kept

    EXPECT_EQ(kExitOk, Run({"set", "DisableTaskMgr", "off"})) << console_.err;
    for (const std::string& name : leftovers)
        EXPECT_NE(std::string::npos, console_.err.find("removed " + profile_ + "/" + name)) << console_.err;
    EXPECT_EQ((std::vector<std::string>{"NTUSER.DAT", "NTUSER.DAT.kestro-bak", "NTUSER.DAT.kestro-bak.1",
                                        "NTUSER.DAT.kestro-bak.1.kestro-record", "NTUSER.DAT.kestro-bak.kestro-record",
                                        "NTUSER.DAT.kestro-replaced"}),
              ListDir(profile_));
    for (const std::string& name : kept) EXPECT_EQ(name, ReadFile(profile_ + "/" + name));
}

TEST_F(RescueSafety, AReadOnlyMountIsSaidSoAndNothingChanges) {
    if (::geteuid() != 0) GTEST_SKIP() << "a read-only bind mount needs root";
    const std::string view = dir_.Path() + "-ro";
    ASSERT_EQ(0, ::mkdir(view.c_str(), 0755));
    int status = 0;
    Shell("mount --bind " + Quote(dir_.Path()) + " " + Quote(view) + " && mount -o remount,bind,ro " + Quote(view) +
              " 2>&1",
          &status);
    if (status != 0) {
        Shell("umount " + Quote(view) + " 2>/dev/null; rmdir " + Quote(view));
        GTEST_SKIP() << "cannot make a read-only bind mount here";
    }
    const std::string before = ReadFile(ntuser_);
    const int code = Run({"set", "DisableTaskMgr", "off"}, view + "/WINDOWS");
    const std::string err = console_.err;
    const int readCode = Run({"get", "DisableTaskMgr"}, view + "/WINDOWS");
    Shell("umount " + Quote(view) + " && rmdir " + Quote(view));
    EXPECT_EQ(kExitFailed, code);
    EXPECT_NE(std::string::npos, err.find("the volume is mounted read-only")) << err;
    EXPECT_EQ(std::string::npos, err.find("chmod")) << err;
    EXPECT_EQ(kExitOk, readCode);
    EXPECT_EQ(before, ReadFile(ntuser_));
    EXPECT_EQ((std::vector<std::string>{"NTUSER.DAT"}), ListDir(profile_));
}

}  // namespace
}  // namespace kestro::test
