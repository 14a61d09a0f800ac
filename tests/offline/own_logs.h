// Logs the tests make for a user hive from the fixtures: the fixture of the
// log replay's and the recovered commit's tests.
#pragma once

#include "offline/hive_file.h"
#include "offline/hive_log.h"
#include "tests/support/hive_files.h"
#include "tests/support/log_files.h"
#include "tests/offline/offline_hives.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace kestro::test {

// A hive opened read-only, and its listing.
struct Opened {
    std::unique_ptr<HiveFile> hive;
    std::string error;
    std::string dump;
};

inline Opened Open(const std::string& path) {
    Opened o;
    o.hive = HiveFile::Open(path, HiveFile::Mode::ReadOnly, &o.error);
    if (o.hive && !DumpHive(o.hive->Handle(), &o.dump)) o.dump = "(does not read to the end)";
    return o;
}

// A user hive from the fixtures whose file says DisableTaskMgr=0 while the
// newer states the logs carry say 1, and then also NoRun=0.
class OwnLogs : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string path = dir_ / "made";
        WriteEmptyHive(path);
        ASSERT_TRUE(MergeReg(path, Fixture("ntuser.reg")));
        newer_ = ReadFile(path);
        ASSERT_TRUE(PatchDword(newer_, "disabletaskmgr", 1));
        SetSequence(newer_, 7, 7);
        older_ = newer_;
        ASSERT_TRUE(PatchDword(older_, "disabletaskmgr", 0));
        newest_ = newer_;
        ASSERT_TRUE(PatchDword(newest_, "NoRun", 0));
        primary_ = older_;
        SetSequence(primary_, 8, 7);  // Windows stopped while writing it
    }

    // The DisableTaskMgr and NoRun a replay leaves, as reglookup reads them.
    std::string Values(const HiveReplay& replay) {
        EXPECT_TRUE(replay.recovered) << replay.problem;
        if (!replay.recovered) return "";
        EXPECT_FALSE(HiveNeedsLogs(reinterpret_cast<const unsigned char*>(replay.image.data()), replay.image.size()));
        WriteFile(dir_ / "replayed", replay.image);
        return ReglookupValues(dir_ / "replayed", kSystemPolicies)["disabletaskmgr"] + " " +
               ReglookupValues(dir_ / "replayed",
                               "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer")["NoRun"];
    }

    TempDir dir_;
    std::string older_, newer_, newest_, primary_;
};

}  // namespace kestro::test
