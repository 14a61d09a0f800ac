// kestroctl --offline on a Windows that was switched off hard: its user hive
// is dirty, with the newest changes only in the logs beside it. Reading
// shows the recovered state and touches nothing; writing leaves a clean hive
// and logs no Windows replays, and keeps every original; a hive whose logs
// cannot be used is refused with nothing written.
#include "ctl/commands.h"
#include "ctl/offline_store.h"
#include "offline/hive_file.h"
#include "offline/hive_log.h"
#include "tests/ctl/ctl_fakes.h"
#include "tests/offline/offline_windows_fixture.h"
#include "tests/offline/log_fixture.h"

#include <gtest/gtest.h>

namespace kestro::test {
namespace {

std::string Fixture(const std::string& name) { return ReadFile(std::string(KESTRO_OFFLINE_FIXTURES) + "/" + name); }

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class SwitchedOff : public ::testing::Test {
protected:
    void SetUp() override {
        windir_ = MakeOfflineWindows(dir_.Path(), Fixture("system.reg"), Fixture("software.reg"), {"Owner"},
                                     Fixture("ntuser.reg"));
        profile_ = dir_.Path() + "/Documents and Settings/Owner";
        ntuser_ = profile_ + "/NTUSER.DAT";
    }

    // The user's hive and its logs (name suffix -> file) from elsewhere.
    void PlaceUserHive(const std::string& primary, const std::vector<std::pair<std::string, std::string>>& logs) {
        WriteFile(ntuser_, ReadFile(primary));
        for (const auto& log : logs) WriteFile(ntuser_ + log.first, ReadFile(log.second));
    }

    // kestroctl --offline WINDIR ARGUMENTS...
    int Run(std::vector<std::string> arguments, const std::string& windir = std::string()) {
        arguments.insert(arguments.begin(), {"--offline", windir.empty() ? windir_ : windir});
        console_ = CapturingConsole();
        OfflineStoreProvider provider(console_);
        return RunKestroctl(arguments, provider, console_);
    }

    // Every file of the profile, by name, with its bytes.
    std::string Profile() const {
        std::string all;
        for (const std::string& name : ListDir(profile_)) all += name + "=" + ReadFile(profile_ + "/" + name) + "\n";
        return all;
    }

    std::string Dump(const std::string& path) {
        std::string error, out;
        auto hive = HiveFile::Open(path, HiveFile::Mode::ReadOnly, &error);
        EXPECT_TRUE(hive) << error;
        if (hive) {
            EXPECT_TRUE(DumpHive(hive->Handle(), &out));
        }
        return out;
    }

    TempDir dir_;
    std::string windir_, profile_, ntuser_;
    CapturingConsole console_;
};

TEST_F(SwitchedOff, ReadingTheRecoveredHiveChangesNoByteAndSaysSo) {
    REQUIRE_DIRTY_HIVES(hives);
    PlaceUserHive(hives + "/OldDirtyHive/OldDirtyHive",
                  {{".LOG1", hives + "/OldDirtyHive/OldDirtyHive.LOG1"}, {".LOG2", hives + "/OldDirtyHive/OldDirtyHive.LOG2"}});
    const std::string before = Profile();
    const std::string said = ntuser_ + ": the hive was dirty (Windows was not shut down cleanly); it was read as "
                                       "recovered from its logs (NTUSER.DAT.LOG1)\n";
    ASSERT_EQ(kExitOk, Run({"list"})) << console_.err;
    EXPECT_EQ("kestroctl: " + said, console_.err);
    EXPECT_TRUE(Has(console_.out, "DisableTaskMgr")) << console_.out;
    ASSERT_EQ(kExitOk, Run({"save", dir_ / "saved.ini"})) << console_.err;
    EXPECT_TRUE(Has(console_.err, said)) << console_.err;
    EXPECT_TRUE(before == Profile());
}

TEST_F(SwitchedOff, SetWritesACleanHiveOfTheRecoveredStateAndTheChange) {
    REQUIRE_DIRTY_HIVES(hives);
    PlaceUserHive(hives + "/OldDirtyHive/OldDirtyHive",
                  {{".LOG1", hives + "/OldDirtyHive/OldDirtyHive.LOG1"}, {".LOG2", hives + "/OldDirtyHive/OldDirtyHive.LOG2"}});
    const std::string original = ReadFile(ntuser_);
    ASSERT_EQ(kExitOk, Run({"set", "DisableTaskMgr", "on"})) << console_.err;
    EXPECT_TRUE(Has(console_.err, "emptied " + ntuser_ + ".LOG1")) << console_.err;

    // What the same change makes of Windows 7's own recovery, on a second
    // volume.
    TempDir other;
    const std::string otherWindir = MakeOfflineWindows(other.Path(), Fixture("system.reg"), Fixture("software.reg"),
                                                       {"Owner"}, Fixture("ntuser.reg"));
    const std::string otherUser = other.Path() + "/Documents and Settings/Owner/NTUSER.DAT";
    WriteFile(otherUser, ReadFile(hives + "/OldDirtyHive/RecoveredHive_Windows7"));
    ASSERT_EQ(kExitOk, Run({"--no-backup", "set", "DisableTaskMgr", "on"}, otherWindir)) << console_.err;
    EXPECT_TRUE(SameDump(Dump(otherUser), Dump(ntuser_)));

    const std::string written = ReadFile(ntuser_);
    EXPECT_FALSE(HiveNeedsLogs(reinterpret_cast<const unsigned char*>(written.data()), written.size()));
    EXPECT_EQ(SequenceOf(written, 1), SequenceOf(written, 2));
    EXPECT_TRUE(original == ReadFile(ntuser_ + ".kestro-bak"));
    EXPECT_TRUE(ReadFile(hives + "/OldDirtyHive/OldDirtyHive.LOG1") == ReadFile(ntuser_ + ".LOG1.kestro-bak"));
    EXPECT_TRUE(IsEmptyFile(ntuser_ + ".LOG2.kestro-bak"));  // Windows left it empty
    EXPECT_TRUE(IsEmptyFile(ntuser_ + ".LOG1"));
    EXPECT_TRUE(IsEmptyFile(ntuser_ + ".LOG2"));

    // Read back with the logs as they were left: nothing to replay.
    ASSERT_EQ(kExitOk, Run({"get", "DisableTaskMgr"})) << console_.err;
    EXPECT_EQ("on\n", console_.out);
    EXPECT_EQ("", console_.err);
}

TEST_F(SwitchedOff, AHiveWhoseLogsCannotBeUsedIsRefusedAndReadWithAWarning) {
    REQUIRE_DIRTY_HIVES(hives);
    struct Case {
        std::string primary;
        std::vector<std::pair<std::string, std::string>> logs;
        std::string why;
    };
    const std::string bad = hives + "/BadLogHive";
    const std::vector<Case> cases = {
        {bad + "1/BadLogHive", {{".LOG1", bad + "1/BadLogHive.LOG1"}, {".LOG2", bad + "1/BadLogHive.LOG2"}}, "checksum"},
        {bad + "2/BadLogHive", {{".LOG1", bad + "2/BadLogHive.LOG1"}, {".LOG2", bad + "2/BadLogHive.LOG2"}}, "DIRT"},
        {bad + "3/BadLogHive", {{".LOG1", bad + "3/BadLogHive.LOG1"}, {".LOG2", bad + "3/BadLogHive.LOG2"}}, "checksum"},
        {hives + "/TruncatedDirtyHive", {}, "no log"},
        // The logs of another hive.
        {hives + "/OldDirtyHive/OldDirtyHive",
         {{".LOG1", hives + "/NewDirtyHive1/NewDirtyHive.LOG1"}, {".LOG2", hives + "/NewDirtyHive1/NewDirtyHive.LOG2"}},
         "another hive"},
    };
    for (const Case& c : cases) {
        for (const std::string& name : ListDir(profile_)) std::remove((profile_ + "/" + name).c_str());
        PlaceUserHive(c.primary, c.logs);
        const std::string before = Profile();
        EXPECT_EQ(kExitFailed, Run({"set", "DisableTaskMgr", "off"})) << c.primary;
        EXPECT_TRUE(Has(console_.err, c.why)) << c.primary << ": " << console_.err;
        EXPECT_TRUE(before == Profile()) << c.primary;

        EXPECT_EQ(kExitFailed, Run({"list"})) << c.primary;
        if (c.primary.find("Truncated") == std::string::npos) {
            // What the file holds is still shown, with the warning.
            EXPECT_TRUE(Has(console_.out, "DisableTaskMgr")) << c.primary << ": " << console_.out;
            EXPECT_TRUE(Has(console_.err, "may be older than what Windows would load")) << console_.err;
        }
        EXPECT_TRUE(Has(console_.err, c.why)) << c.primary << ": " << console_.err;
        EXPECT_TRUE(before == Profile()) << c.primary;
    }
}

// The fixture's user hive says DisableTaskMgr=1; its file is made to say 0
// while a log of our own making carries the 1, as after a hard switch-off.
TEST_F(SwitchedOff, TwoLogsWindowsTakesForOneAreRefusedNamingBoth) {
    // A case-sensitive mount can hold both; Windows would replay only one.
    std::string dirty = ReadFile(ntuser_);
    SetSequence(dirty, 8, 7);
    WriteFile(ntuser_, dirty);
    WriteFile(ntuser_ + ".LOG1", "one");
    WriteFile(profile_ + "/ntuser.dat.log1", "two");
    const std::string before = Profile();
    EXPECT_EQ(kExitFailed, Run({"get", "DisableTaskMgr"}));
    EXPECT_TRUE(Has(console_.err, profile_ + " holds both \"NTUSER.DAT.LOG1\" and \"ntuser.dat.log1\", which "
                                             "Windows takes for one name"))
        << console_.err;
    EXPECT_EQ(kExitFailed, Run({"set", "DisableTaskMgr", "off"}));
    EXPECT_TRUE(Has(console_.err, "holds both")) << console_.err;
    EXPECT_TRUE(before == Profile());
}

TEST_F(SwitchedOff, ASettingOnlyTheLogsHoldIsShownAndKept) {
    const std::string newer = ReadFile(ntuser_);
    std::string older = newer;
    ASSERT_TRUE(PatchDword(older, "disabletaskmgr", 0));
    const std::uint32_t seq = SequenceOf(newer, 1);
    std::string primary = older;
    SetSequence(primary, seq + 1, seq);

    struct Layout {
        const char* name;
        std::vector<std::pair<std::string, std::string>> logs;  // suffix -> bytes
    };
    for (const Layout& layout :
         {Layout{"XP", {{".LOG", MakeOldFormatLog(older, newer, seq + 1)}}},
          Layout{"Windows 10", {{".LOG1", MakeNewFormatLog(older, {{seq, newer}})}, {".LOG2", ""}}}}) {
        for (const std::string& name : ListDir(profile_)) std::remove((profile_ + "/" + name).c_str());
        WriteFile(ntuser_, primary);
        for (const auto& log : layout.logs) WriteFile(ntuser_ + log.first, log.second);
        ASSERT_EQ(kExitOk, Run({"list"})) << layout.name << ": " << console_.err;
        EXPECT_TRUE(Has(console_.out, "DisableTaskMgr          on ")) << layout.name << ": " << console_.out;
        EXPECT_TRUE(Has(console_.err, "read as recovered")) << console_.err;

        // A change elsewhere keeps it.
        ASSERT_EQ(kExitOk, Run({"set", "NoRun", "off"})) << layout.name << ": " << console_.err;
        EXPECT_EQ((std::map<std::string, std::string>{{"disabletaskmgr", "DWORD:0x00000001"},
                                                      {"DisableRegistryTools", "DWORD:0x00000001"}}),
                  ReglookupValues(ntuser_, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System"))
            << layout.name;
        for (const auto& log : layout.logs) {
            EXPECT_TRUE(IsEmptyFile(ntuser_ + log.first)) << layout.name << log.first;
            EXPECT_TRUE(log.second == ReadFile(ntuser_ + log.first + ".kestro-bak")) << layout.name;
        }
    }
}

// The way back: restore puts the dirty hive and its log back as Windows
// left them, so that Windows replays the log as it would have.
TEST_F(SwitchedOff, RestorePutsBackTheDirtyHiveWithItsLog) {
    const std::string newer = ReadFile(ntuser_);
    std::string older = newer;
    ASSERT_TRUE(PatchDword(older, "disabletaskmgr", 0));
    const std::uint32_t seq = SequenceOf(newer, 1);
    std::string primary = older;
    SetSequence(primary, seq + 1, seq);
    const std::string log = MakeOldFormatLog(older, newer, seq + 1);
    WriteFile(ntuser_, primary);
    WriteFile(ntuser_ + ".LOG", log);

    ASSERT_EQ(kExitOk, Run({"set", "NoRun", "off"})) << console_.err;
    ASSERT_TRUE(IsEmptyFile(ntuser_ + ".LOG"));
    const std::string written = ReadFile(ntuser_);

    ASSERT_EQ(kExitOk, Run({"restore"})) << console_.err;
    EXPECT_TRUE(primary == ReadFile(ntuser_));
    EXPECT_TRUE(log == ReadFile(ntuser_ + ".LOG"));
    EXPECT_TRUE(written == ReadFile(ntuser_ + ".kestro-replaced"));
    EXPECT_EQ((std::vector<std::string>{"NTUSER.DAT", "NTUSER.DAT.LOG", "NTUSER.DAT.kestro-replaced"}), ListDir(profile_));
    ASSERT_EQ(kExitOk, Run({"get", "NoRun"})) << console_.err;
    EXPECT_EQ("on\n", console_.out);
    EXPECT_TRUE(Has(console_.err, "read as recovered")) << console_.err;
}

TEST_F(SwitchedOff, RestoreRefusesWhereTheLogsWereWrittenSince) {
    ASSERT_EQ(kExitOk, Run({"set", "NoRun", "off"})) << console_.err;
    // Windows 8.1 and later may write only a log, for up to an hour.
    WriteFile(ntuser_ + ".LOG1", "HvLE and more");
    const std::string before = Profile();
    EXPECT_EQ(kExitFailed, Run({"restore"}));
    EXPECT_TRUE(Has(console_.err, "NTUSER.DAT.LOG1 changed since kestroctl wrote NTUSER.DAT")) << console_.err;
    EXPECT_TRUE(before == Profile());
}

}  // namespace
}  // namespace kestro::test
