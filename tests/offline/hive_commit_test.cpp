// The hive's commit: a failure after any of its steps leaves the original
// (and, for a hive recovered from its logs, every log) as it was; a commit
// that goes through leaves a clean hive and empty logs, and keeps them all.
#include "offline/hive_file.h"
#include "offline/hive_log.h"
#include "offline/hive_registry.h"
#include "tests/offline/offline_hives.h"
#include "tests/offline/own_logs.h"
#include "tests/support/windows_volume.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>

namespace kestro::test {
namespace {

TEST_F(OfflineHives, AFailureAtAnyStepOfTheCommitLeavesTheOriginal) {
    const std::string original = ReadFile(ntuser_);
    for (int step = 0; step <= static_cast<int>(CommitStep::LogsEmptied); ++step) {
        Use(HiveFile::Mode::Write);
        Zfunctions::SetDisableTaskMgr(0);
        ScopedCommitFailure fail(static_cast<CommitStep>(step));
        std::string error;
        EXPECT_FALSE(Commit(true, &error)) << "step " << step;
        EXPECT_NE(std::string::npos, error.find("left as it was")) << error;
        EXPECT_EQ(original, ReadFile(ntuser_)) << "step " << step;
        EXPECT_EQ((std::vector<std::string>{"NTUSER.DAT"}), ListDir(dir_.Path() + "/Documents and Settings/Owner"))
            << "step " << step;
    }
}

// ---------------------------------------------------------------- recovered from logs

class RecoveredCommit : public OwnLogs {
protected:
    void SetUp() override {
        OwnLogs::SetUp();
        hive_ = dir_ / "NTUSER.DAT";
        WriteFile(hive_, primary_);
        WriteFile(dir_ / "NTUSER.DAT.LOG1", MakeNewFormatLog(newer_, {{8, newest_}}));
        WriteFile(dir_ / "NTUSER.DAT.LOG2", MakeNewFormatLog(older_, {{7, newer_}}));
        WriteFile(dir_ / "NTUSER.DAT.LOG", "");  // an installation's leftover
        unsigned rid = 1000;
        for (const char* name : {"NTUSER.DAT", "NTUSER.DAT.LOG", "NTUSER.DAT.LOG1", "NTUSER.DAT.LOG2"})
            ASSERT_TRUE(GiveWindowsMetadata(dir_ / name, rid++)) << name;
    }

    // Every file of the hive's, by name.
    std::map<std::string, std::string> Files() {
        std::map<std::string, std::string> all;
        for (const std::string& name : ListDir(dir_.Path()))
            if (name.rfind("NTUSER", 0) == 0) all[name] = ReadFile(dir_ / name);
        return all;
    }

    // Sets DisableRegistryTools=0 in the hive and commits.
    std::string Change(bool backup, std::optional<CommitStep> failStep = {}, int failLog = 0, bool failRestore = false) {
        std::optional<ScopedCommitFailure> fail, failPutBack;
        if (failStep) fail.emplace(*failStep, failLog);
        if (failRestore) failPutBack.emplace(CommitStep::LogsPutBack);
        std::string error;
        HiveRegistryStore store;
        auto file = HiveFile::Open(hive_, HiveFile::Mode::Write, &error);
        EXPECT_TRUE(file && file->Recovered()) << error;
        if (!file) return error;
        store.Mount(HiveRegistryStore::Slot::User, std::move(file));
        KeyHandle key = 0;
        EXPECT_EQ(kErrorSuccess, store.OpenKey(kHkeyCurrentUser, kSystemPolicies, kKeyAllAccess, &key));
        const std::uint8_t zero[4] = {};
        EXPECT_EQ(kErrorSuccess, store.SetValue(key, "DisableRegistryTools", kRegDword, zero, 4));
        store.CloseKey(key);
        std::vector<std::string> written, backups;
        store.Commit(HiveFile::CommitOptions{backup}, &error, &written, &backups);
        backups_ = backups;
        return error;
    }

    std::string hive_;
    std::vector<std::string> backups_;
};

TEST_F(RecoveredCommit, WritesACleanHiveEmptiesTheLogsAndKeepsThemAll) {
    const auto before = Files();
    std::map<std::string, WindowsMetadata> windows;
    for (const auto& file : before) windows[file.first] = ReadWindowsMetadata(dir_ / file.first);
    ASSERT_EQ("", Change(true));
    const std::string written = ReadFile(hive_);
    EXPECT_FALSE(HiveNeedsLogs(reinterpret_cast<const unsigned char*>(written.data()), written.size()));
    EXPECT_EQ(9u, SequenceOf(written, 1));  // past every entry the logs held
    EXPECT_EQ((std::map<std::string, std::string>{{"disabletaskmgr", "DWORD:0x00000001"},
                                                  {"DisableRegistryTools", "DWORD:0x00000000"}}),
              ReglookupValues(hive_, kSystemPolicies));
    EXPECT_EQ("DWORD:0x00000000",
              ReglookupValues(hive_, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer")["NoRun"]);
    for (const char* log : {"NTUSER.DAT.LOG", "NTUSER.DAT.LOG1", "NTUSER.DAT.LOG2"})
        EXPECT_TRUE(IsEmptyFile(dir_ / log)) << log;

    // Each original, byte for byte, under the same suffix.
    EXPECT_EQ(4u, backups_.size());
    for (const char* name : {"NTUSER.DAT", "NTUSER.DAT.LOG", "NTUSER.DAT.LOG1", "NTUSER.DAT.LOG2"})
        EXPECT_TRUE(before.at(name) == ReadFile(dir_ / (name + std::string(".kestro-bak")))) << name;
    // Each with what Windows set on it (on NTFS; nothing on a plain folder),
    // and so the new hive and the emptied logs.
    for (const auto& file : windows) {
        EXPECT_TRUE(file.second == ReadWindowsMetadata(dir_ / (file.first + ".kestro-bak"))) << file.first;
        EXPECT_TRUE(file.second == ReadWindowsMetadata(dir_ / file.first)) << file.first;
    }

    // Read again with the logs as they were left: nothing to replay.
    Opened again = Open(hive_);
    ASSERT_TRUE(again.hive) << again.error;
    EXPECT_FALSE(again.hive->Dirty());
}

TEST_F(RecoveredCommit, WithoutBackupsNoCopyStays) {
    ASSERT_EQ("", Change(false));
    EXPECT_EQ((std::vector<std::string>{"NTUSER.DAT", "NTUSER.DAT.LOG", "NTUSER.DAT.LOG1", "NTUSER.DAT.LOG2", "made"}),
              ListDir(dir_.Path()));
    EXPECT_TRUE(IsEmptyFile(dir_ / "NTUSER.DAT.LOG2"));
}

TEST_F(RecoveredCommit, AFailureAtAnyStepLeavesTheHiveAndEveryLog) {
    const auto before = Files();
    const std::vector<std::string> listing = ListDir(dir_.Path());
    for (bool backup : {true, false}) {
        for (int step = 0; step <= static_cast<int>(CommitStep::LogsEmptied); ++step) {
            const CommitStep commitStep = static_cast<CommitStep>(step);
            const bool perLog = commitStep == CommitStep::LogsBackedUp || commitStep == CommitStep::LogsEmptied;
            for (int log = 0; log < (perLog ? 3 : 1); ++log) {
                const std::string error = Change(backup, commitStep, log);
                const std::string at = "step " + std::to_string(step) + " log " + std::to_string(log);
                EXPECT_NE(std::string::npos, error.find("its logs were left as they were")) << at << ": " << error;
                EXPECT_TRUE(before == Files()) << at;
                EXPECT_EQ(listing, ListDir(dir_.Path())) << at;
            }
        }
    }
}

TEST_F(RecoveredCommit, ALogThatCannotBePutBackLeavesTheNewHiveWhichHoldsEverything) {
    // Past the rename, the second log fails to empty, and no log can be put
    // back: the old hive would need the logs that are lost, so the new one,
    // clean and holding all they held, stays, and the error says so.
    const auto before = Files();
    const std::string error = Change(true, CommitStep::LogsEmptied, 1, true);
    EXPECT_NE(std::string::npos, error.find("could not be put back, so the new hive stays")) << error;
    const std::string written = ReadFile(hive_);
    EXPECT_FALSE(HiveNeedsLogs(reinterpret_cast<const unsigned char*>(written.data()), written.size()));
    EXPECT_EQ("DWORD:0x00000000", ReglookupValues(hive_, kSystemPolicies)["DisableRegistryTools"]);
    EXPECT_EQ("DWORD:0x00000000",
              ReglookupValues(hive_, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer")["NoRun"]);
    for (const char* name : {"NTUSER.DAT", "NTUSER.DAT.LOG", "NTUSER.DAT.LOG1", "NTUSER.DAT.LOG2"})
        EXPECT_TRUE(before.at(name) == ReadFile(dir_ / (name + std::string(".kestro-bak")))) << name;
}

}  // namespace
}  // namespace kestro::test
