// The backups a commit keeps: the original as NAME.kestro-bak, never
// overwritten by a later one.
#include "offline/hive_backups.h"
#include "offline/hive_file.h"
#include "tests/offline/offline_hives.h"
#include "tests/support/windows_volume.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include <fcntl.h>
#include <unistd.h>

namespace kestro::test {
namespace {

TEST_F(OfflineHives, TheOriginalIsKeptAsABackupThatIsNeverOverwritten) {
    ::chmod(ntuser_.c_str(), 0640);
    const unsigned mode = ModeOf(ntuser_);  // 0777 on an ntfs-3g mount, which keeps no mode
    const WindowsMetadata windows = ReadWindowsMetadata(ntuser_);
    const std::string original = ReadFile(ntuser_);
    Use(HiveFile::Mode::Write);
    Zfunctions::SetDisableTaskMgr(0);
    ASSERT_TRUE(Commit());
    EXPECT_EQ(original, ReadFile(ntuser_ + ".kestro-bak"));
    EXPECT_EQ(mode, ModeOf(ntuser_));
    EXPECT_TRUE(windows == ReadWindowsMetadata(ntuser_));
    EXPECT_TRUE(windows == ReadWindowsMetadata(ntuser_ + ".kestro-bak"));
    const std::string first = ReadFile(ntuser_);
    EXPECT_NE(original, first);

    Use(HiveFile::Mode::Write);
    Zfunctions::SetDisableRegistryTools(0);
    ASSERT_TRUE(Commit());
    EXPECT_EQ(original, ReadFile(ntuser_ + ".kestro-bak"));
    EXPECT_EQ(first, ReadFile(ntuser_ + ".kestro-bak.1"));

    Use(HiveFile::Mode::Write);
    Zfunctions::SetNoRun(0);
    ASSERT_TRUE(Commit(false));
    EXPECT_EQ((std::vector<std::string>{"NTUSER.DAT", "NTUSER.DAT.kestro-bak", "NTUSER.DAT.kestro-bak.1"}),
              ListDir(dir_.Path() + "/Documents and Settings/Owner"));
    EXPECT_EQ("DWORD:0x00000000",
              ReglookupValues(ntuser_, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer")["NoRun"]);
}

// The next suffix is above the highest of the hive's and its logs', in
// any case, whatever gaps a backup removed by hand left; other files and
// other hives' backups do not count.
// The record's fingerprints may be taken before the record is written,
// from the files the commit holds open; it must still describe the files
// under the names as they are when it is written.
TEST(BackupRecord, DescribesTheFilesUnderTheNamesAsTheyAreWhenItIsWritten) {
    TempDir dir;
    Folder folder;
    std::string error;
    ASSERT_TRUE(Folder::Open(dir.Path(), nullptr, &folder, &error)) << error;
    const std::string hive = "NTUSER.DAT", backup = "NTUSER.DAT.kestro-bak";
    const std::string run = "00000000001700000000.000000001-4242";
    // The hive and the backup held open, their fingerprints taken.
    struct Held {
        UniqueFd hive, backup;
        HeldFiles files;
    };
    const auto hold = [&] {
        Held held;
        held.hive = UniqueFd(::open((dir / hive).c_str(), O_RDONLY | O_CLOEXEC));
        held.backup = UniqueFd(::open((dir / backup).c_str(), O_RDONLY | O_CLOEXEC));
        held.files.hive.fd = held.hive.Get();
        held.files.backup.fd = held.backup.Get();
        EXPECT_TRUE(TakeFingerprint(&held.files.hive) && TakeFingerprint(&held.files.backup));
        return held;
    };
    const auto recordMatches = [&](const HeldFiles& files) {
        EXPECT_TRUE(RecordCommit(folder, hive, backup, run, &error, files)) << error;
        const HiveBackup found = FindNewestBackup(folder, dir / hive);
        EXPECT_TRUE(found.recorded) << found.changed;
        return found.changed;
    };
    WriteFile(dir / hive, "the new hive");
    WriteFile(dir / backup, "the original hive");

    // Taken, then the hive rewritten in place: the record reads it again.
    Held rewritten = hold();
    WriteFile(dir / hive, "the new hive, changed since");
    EXPECT_EQ("", recordMatches(rewritten.files));

    // Taken, then other files renamed over both names: the record
    // describes the files the names lead to.
    Held replaced = hold();
    WriteFile(dir / "other", "another hive");
    ASSERT_EQ(0, ::rename((dir / "other").c_str(), (dir / hive).c_str()));
    WriteFile(dir / "other", "another backup");
    ASSERT_EQ(0, ::rename((dir / "other").c_str(), (dir / backup).c_str()));
    EXPECT_EQ("", recordMatches(replaced.files));

    // Unchanged: recorded from what was taken.
    EXPECT_EQ("", recordMatches(hold().files));
}

// Records made by earlier runs hold this hash: it must not change, and a
// file hashed as it is read, in pieces cut anywhere, hashes the same.
TEST(BackupRecord, AFilesHashIsTheSameWholeOrInPieces) {
    std::string bytes(1000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + 3);
    const std::uint64_t known = 0xb0fa7140e6f91b9aull;  // FNV-1a over words, as records of format 2 hold
    TempDir dir;
    WriteFile(dir / "hive", bytes);
    UniqueFd fd(::open((dir / "hive").c_str(), O_RDONLY | O_CLOEXEC));
    std::uint64_t hash = 0, size = 0;
    ASSERT_TRUE(HashFile(fd.Get(), &hash, &size));
    EXPECT_EQ(known, hash);
    EXPECT_EQ(1000u, size);
    for (std::size_t cut : {1, 3, 8, 13, 64, 999}) {
        FileHash pieces;
        for (std::size_t at = 0; at < bytes.size(); at += cut)
            pieces.Add(bytes.data() + at, std::min(cut, bytes.size() - at));
        EXPECT_EQ(known, pieces.Value()) << "pieces of " << cut;
        EXPECT_EQ("1000 b0fa7140e6f91b9a", pieces.Fingerprint());
    }
}

TEST(BackupSuffix, IsAboveTheHighestOfTheHiveAndItsLogs) {
    const std::vector<std::string> names = {"NTUSER.DAT", "NTUSER.DAT.LOG", "NTUSER.DAT.LOG1", "NTUSER.DAT.LOG2"};
    EXPECT_EQ(".kestro-bak", NextBackupSuffix({"NTUSER.DAT", "NTUSER.DAT.LOG1"}, names));
    EXPECT_EQ(".kestro-bak.1", NextBackupSuffix({"NTUSER.DAT", "ntuser.dat.kestro-bak"}, names));
    EXPECT_EQ(".kestro-bak.8", NextBackupSuffix({"NTUSER.DAT.kestro-bak", "NTUSER.DAT.LOG2.kestro-bak.7"}, names));
    EXPECT_EQ(".kestro-bak.3",
              NextBackupSuffix({"NTUSER.DAT.kestro-bak.2", "NTUSER.DAT.kestro-bak.2.kestro-record"}, names));
    EXPECT_EQ(".kestro-bak", NextBackupSuffix({"SYSTEM.kestro-bak.4", "NTUSER.DAT.kestro-bak.x",
                                               "NTUSER.DAT.kestro-bak.", "NTUSER.DATA.kestro-bak.9"},
                                              names));
}

}  // namespace
}  // namespace kestro::test
