// Log replay: on hives real Windows left dirty, against what Windows itself
// made of them, and on logs the tests make.
#include "core/bytes.h"
#include "offline/hive_file.h"
#include "offline/hive_log.h"
#include "offline/hive_registry.h"
#include "tests/support/hive_files.h"
#include "tests/offline/log_fixture.h"
#include "tests/offline/own_logs.h"
#include "tests/support/windows_volume.h"

#include <gtest/gtest.h>

#include <optional>

#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace kestro::test {
namespace {

std::string DumpOf(const std::string& path) {
    Opened o = Open(path);
    EXPECT_TRUE(o.hive) << o.error;
    EXPECT_FALSE(o.hive && o.hive->Dirty()) << path;
    return o.dump;
}

void Copy(const std::string& from, const std::string& to) { WriteFile(to, ReadFile(from)); }

TEST(WindowsMadeLogs, TheOldFormatReplaysToWhatWindows7Made) {
    REQUIRE_DIRTY_HIVES(dir);
    const std::string expected = DumpOf(dir + "/OldDirtyHive/RecoveredHive_Windows7");
    Opened replayed = Open(dir + "/OldDirtyHive/OldDirtyHive");
    ASSERT_TRUE(replayed.hive) << replayed.error;
    EXPECT_TRUE(replayed.hive->Dirty());
    EXPECT_TRUE(replayed.hive->Recovered()) << replayed.hive->LogProblem();
    EXPECT_EQ((std::vector<std::string>{"OldDirtyHive.LOG1"}), replayed.hive->LogsUsed());
    EXPECT_TRUE(SameDump(expected, replayed.dump));

    // The primary alone is the older state the issue is about.
    TempDir temp;
    Copy(dir + "/OldDirtyHive/OldDirtyHive", temp / "OldDirtyHive");
    Opened alone = Open(temp / "OldDirtyHive");
    ASSERT_TRUE(alone.hive) << alone.error;
    EXPECT_TRUE(alone.hive->Dirty());
    EXPECT_FALSE(alone.hive->Recovered());
    EXPECT_NE(std::string::npos, alone.hive->LogProblem().find("no log")) << alone.hive->LogProblem();
    EXPECT_FALSE(SameDump(expected, alone.dump));
}

TEST(WindowsMadeLogs, TheNewFormatChainsBothLogsToWhatWindows10Made) {
    REQUIRE_DIRTY_HIVES(dir);
    Opened replayed = Open(dir + "/NewDirtyHive1/NewDirtyHive");
    ASSERT_TRUE(replayed.hive) << replayed.error;
    EXPECT_TRUE(replayed.hive->Recovered()) << replayed.hive->LogProblem();
    // LOG1 holds entry 2, LOG2 entries 3 to 5.
    EXPECT_EQ((std::vector<std::string>{"NewDirtyHive.LOG1", "NewDirtyHive.LOG2"}), replayed.hive->LogsUsed());
    EXPECT_TRUE(SameDump(DumpOf(dir + "/NewDirtyHive1/RecoveredHive_Windows10"), replayed.dump));
}

TEST(WindowsMadeLogs, LogsAreFoundByXpsNamesAndInAnyCase) {
    REQUIRE_DIRTY_HIVES(dir);
    TempDir temp;
    Copy(dir + "/OldDirtyHive/OldDirtyHive", temp / "NTUSER.DAT");
    Copy(dir + "/OldDirtyHive/OldDirtyHive.LOG1", temp / "ntuser.dat.LOG");  // XP's one log
    Opened xp = Open(temp / "NTUSER.DAT");
    ASSERT_TRUE(xp.hive) << xp.error;
    EXPECT_EQ((std::vector<std::string>{"ntuser.dat.LOG"}), xp.hive->LogsUsed());
    EXPECT_TRUE(SameDump(DumpOf(dir + "/OldDirtyHive/RecoveredHive_Windows7"), xp.dump));

    Copy(dir + "/NewDirtyHive1/NewDirtyHive", temp / "SYSTEM");
    Copy(dir + "/NewDirtyHive1/NewDirtyHive.LOG1", temp / "system.log1");
    Copy(dir + "/NewDirtyHive1/NewDirtyHive.LOG2", temp / "System.Log2");
    Opened system = Open(temp / "SYSTEM");
    ASSERT_TRUE(system.hive) << system.error;
    EXPECT_EQ((std::vector<std::string>{"system.log1", "System.Log2"}), system.hive->LogsUsed());
    EXPECT_TRUE(SameDump(DumpOf(dir + "/NewDirtyHive1/RecoveredHive_Windows10"), system.dump));
}

TEST(WindowsMadeLogs, DamagedAndForeignLogsAreNotUsed) {
    REQUIRE_DIRTY_HIVES(dir);
    struct Case {
        const char* hive;
        const char* why;
    };
    for (const Case& c : {Case{"BadLogHive1/BadLogHive", "checksum"}, Case{"BadLogHive2/BadLogHive", "DIRT"},
                          Case{"BadLogHive3/BadLogHive", "checksum"}, Case{"TruncatedDirtyHive", "no log"}}) {
        Opened o = Open(dir + "/" + c.hive);
        if (!o.hive) {
            // hivex cannot read the file itself either: the error says why.
            EXPECT_NE(std::string::npos, o.error.find(c.why)) << c.hive << ": " << o.error;
            continue;
        }
        EXPECT_TRUE(o.hive->Dirty()) << c.hive;
        EXPECT_FALSE(o.hive->Recovered()) << c.hive;
        EXPECT_NE(std::string::npos, o.hive->LogProblem().find(c.why)) << c.hive << ": " << o.hive->LogProblem();
    }

    // Windows 10's logs beside Windows 7's hive: another hive's logs.
    std::vector<HiveLog> foreign = {
        {HiveLog::Kind::Log1, "NewDirtyHive.LOG1", ReadFile(dir + "/NewDirtyHive1/NewDirtyHive.LOG1")},
        {HiveLog::Kind::Log2, "NewDirtyHive.LOG2", ReadFile(dir + "/NewDirtyHive1/NewDirtyHive.LOG2")}};
    HiveReplay replay = ReplayHiveLogs(ReadFile(dir + "/OldDirtyHive/OldDirtyHive"), foreign);
    EXPECT_FALSE(replay.recovered);
    EXPECT_NE(std::string::npos, replay.problem.find("another hive")) << replay.problem;
}

// ---------------------------------------------------------------- own logs

TEST_F(OwnLogs, AnOldFormatLogCarriesItsPages) {
    const std::string log = MakeOldFormatLog(older_, newer_, 8);
    HiveReplay replay = ReplayHiveLogs(primary_, {{HiveLog::Kind::Log, "NTUSER.DAT.LOG", log}});
    EXPECT_EQ("DWORD:0x00000001 DWORD:0x00000001", Values(replay));
    EXPECT_EQ(512u, replay.pageBytes);  // one dirty page

    // Cut short in its pages, with a damaged "DIRT", or from before the
    // primary's last write: not used.
    for (const std::string& bad : {log.substr(0, log.size() - 1), std::string(log).replace(512, 4, "DIRt")}) {
        HiveReplay r = ReplayHiveLogs(primary_, {{HiveLog::Kind::Log, "NTUSER.DAT.LOG", bad}});
        EXPECT_FALSE(r.recovered);
        EXPECT_NE(std::string::npos, r.problem.find("NTUSER.DAT.LOG: ")) << r.problem;
    }
    HiveReplay stale = ReplayHiveLogs(primary_, {{HiveLog::Kind::Log, "L", MakeOldFormatLog(older_, newer_, 6)}});
    EXPECT_NE(std::string::npos, stale.problem.find("older than the hive")) << stale.problem;

    // With two, the later one: Windows switched to it after a failed write.
    HiveReplay two = ReplayHiveLogs(primary_, {{HiveLog::Kind::Log1, "L1", MakeOldFormatLog(older_, newer_, 8)},
                                               {HiveLog::Kind::Log2, "L2", MakeOldFormatLog(older_, newest_, 9)}});
    EXPECT_EQ("DWORD:0x00000001 DWORD:0x00000000", Values(two));
    EXPECT_EQ((std::vector<std::string>{"L2"}), two.used);
}

TEST_F(OwnLogs, NewFormatEntriesApplyInSequenceAcrossTheTwoLogs) {
    // LOG2 holds the earlier entry: the order is by sequence, not by name.
    const std::string log2 = MakeNewFormatLog(older_, {{7, newer_}});
    const std::string log1 = MakeNewFormatLog(newer_, {{8, newest_}});
    HiveReplay both = ReplayHiveLogs(primary_, {{HiveLog::Kind::Log1, "LOG1", log1}, {HiveLog::Kind::Log2, "LOG2", log2}});
    EXPECT_EQ("DWORD:0x00000001 DWORD:0x00000000", Values(both));
    EXPECT_EQ((std::vector<std::string>{"LOG2", "LOG1"}), both.used);
    EXPECT_EQ(2u, both.entries);
    // The highest number seen; a commit takes it one past, so that no entry
    // here can ever follow the written hive.
    EXPECT_EQ(8u, SequenceOf(both.image, 1));
    EXPECT_EQ(8u, SequenceOf(both.image, 2));

    // An entry failing its hash ends its log's valid part, not the replay.
    std::string torn = log1;
    torn[EntryAt(torn, 0) + 100] ^= 1;
    HiveReplay first = ReplayHiveLogs(primary_, {{HiveLog::Kind::Log1, "LOG1", torn}, {HiveLog::Kind::Log2, "LOG2", log2}});
    EXPECT_EQ("DWORD:0x00000001 DWORD:0x00000001", Values(first));
    EXPECT_EQ((std::vector<std::string>{"LOG2"}), first.used);

    // A gap in the sequence ends the chain.
    const std::string later = MakeNewFormatLog(newer_, {{9, newest_}});
    HiveReplay gap = ReplayHiveLogs(primary_, {{HiveLog::Kind::Log1, "LOG1", later}, {HiveLog::Kind::Log2, "LOG2", log2}});
    EXPECT_EQ("DWORD:0x00000001 DWORD:0x00000001", Values(gap));

    // Entries the hive already holds are not replayed over it.
    std::string ahead = primary_;
    SetSequence(ahead, 9, 8);
    HiveReplay stale = ReplayHiveLogs(ahead, {{HiveLog::Kind::Log2, "LOG2", log2}});
    EXPECT_FALSE(stale.recovered);
    EXPECT_NE(std::string::npos, stale.problem.find("older than the hive")) << stale.problem;
}

TEST_F(OwnLogs, ALogThatWouldBreakTheHiveIsNotUsed) {
    // An entry claiming a hive far larger than the pages it brings.
    std::string grows = MakeNewFormatLog(older_, {{7, newer_}});
    StoreLe32(&grows[EntryAt(grows, 0) + 16], LoadLe32(&newer_[40]) + (64u << 20));
    RehashEntry(grows, EntryAt(grows, 0));
    HiveReplay r = ReplayHiveLogs(primary_, {{HiveLog::Kind::Log1, "LOG1", grows}});
    EXPECT_FALSE(r.recovered);

    // A page that overwrites a bin's header.
    std::string broken = newer_;
    std::memcpy(&broken[4096], "XXXX", 4);
    r = ReplayHiveLogs(primary_, {{HiveLog::Kind::Log, "LOG", MakeOldFormatLog(older_, broken, 8)}});
    EXPECT_FALSE(r.recovered);
    EXPECT_NE(std::string::npos, r.problem.find("hive bin")) << r.problem;

    // A log whose time stamp is another hive's.
    std::string foreign = MakeOldFormatLog(older_, newer_, 8);
    foreign[12] ^= 1;
    StoreLe32(&foreign[508], BaseBlockChecksum(reinterpret_cast<const unsigned char*>(foreign.data())));
    r = ReplayHiveLogs(primary_, {{HiveLog::Kind::Log, "LOG", foreign}});
    EXPECT_NE(std::string::npos, r.problem.find("another hive")) << r.problem;
}

TEST_F(OwnLogs, AValueThatCannotBeReadMakesNoRecoveryAndNoWritableHive) {
    // DisableTaskMgr's cell claims 8 bytes held in the cell itself. hivex
    // opens such a hive and walks past a DWORD it cannot read; the store
    // would then fail on that value, and the commit on its comparison.
    std::string unreadable = newer_;
    const std::size_t vk = DwordCellAt(unreadable, "disabletaskmgr");
    ASSERT_NE(std::string::npos, vk);
    StoreLe32(&unreadable[vk + 4], 0x80000008u);

    WriteFile(dir_ / "clean", unreadable);
    EXPECT_NE(std::string::npos, HiveFile::CheckFile(dir_ / "clean").find("cannot be read to the end"))
        << HiveFile::CheckFile(dir_ / "clean");

    // The same bytes brought by a log: the replay is sound page by page,
    // but the store does not call it a recovery.
    const std::string hive = dir_ / "NTUSER.DAT";
    WriteFile(hive, primary_);
    WriteFile(hive + ".LOG", MakeOldFormatLog(older_, unreadable, 8));
    EXPECT_TRUE(ReplayHiveLogs(primary_, {{HiveLog::Kind::Log, "LOG", ReadFile(hive + ".LOG")}}).recovered);
    for (HiveFile::Mode mode : {HiveFile::Mode::ReadOnly, HiveFile::Mode::Write}) {
        std::string error;
        auto file = HiveFile::Open(hive, mode, &error);
        ASSERT_TRUE(file) << error;
        if (mode == HiveFile::Mode::ReadOnly) {
            EXPECT_FALSE(file->Recovered());
            EXPECT_NE(std::string::npos, file->LogProblem().find("cannot be read to the end")) << file->LogProblem();
        } else {
            EXPECT_NE(std::string::npos, file->WriteRefusal().find("cannot be read to the end"))
                << file->WriteRefusal();
        }
    }
    EXPECT_EQ(primary_, ReadFile(hive));
}

TEST_F(OwnLogs, AHiveWithADamagedBaseBlockTakesItFromItsLog) {
    std::string damaged = primary_;
    damaged[0x30] ^= 0x55;  // in the checksummed part: the checksum is now wrong
    HiveReplay r = ReplayHiveLogs(damaged, {{HiveLog::Kind::Log1, "LOG1", MakeNewFormatLog(older_, {{7, newer_}})}});
    EXPECT_EQ("DWORD:0x00000001 DWORD:0x00000001", Values(r));
    EXPECT_EQ(older_.substr(0x30, 16), r.image.substr(0x30, 16));
}

// ---------------------------------------------------------------- commit

}  // namespace
}  // namespace kestro::test
