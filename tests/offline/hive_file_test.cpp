// The hive file: one that is damaged, in any of the ways a write could make
// worse, is refused and left exactly as it was.
#include "offline/hive_file.h"
#include "tests/offline/offline_hives.h"
#include "tests/support/windows_volume.h"

#include <gtest/gtest.h>

namespace kestro::test {
namespace {

struct Damage {
    const char* name;
    std::function<void(const std::string&)> apply;
    const char* why;  // a word of the refusal
};

void PrintTo(const Damage& damage, std::ostream* os) { *os << damage.name; }

class DamagedHive : public OfflineHives, public ::testing::WithParamInterface<Damage> {};

TEST_P(DamagedHive, IsRefusedAndLeftIntact) {
    // Big enough for more than one bin.
    Use(HiveFile::Mode::Write);
    std::string filler(6000, 'x');
    Zfunctions::SetWallpaper(filler);
    ASSERT_TRUE(Commit(false));
    store_.reset();
    scope_.reset();
    ASSERT_GT(ReadFile(ntuser_).size(), 0x3000u);

    GetParam().apply(ntuser_);
    const std::string before = ReadFile(ntuser_);
    const mode_t mode = ModeOf(ntuser_);
    // hivex opens each of these without complaint.
    Use(HiveFile::Mode::Write);
    EXPECT_EQ("Failed to set data for 'DisableTaskMgr'", ErrorOf([] { Zfunctions::SetDisableTaskMgr(0); }));
    ASSERT_EQ(1u, store_->Refusals().size());
    EXPECT_NE(std::string::npos, store_->Refusals()[0].find(GetParam().why)) << store_->Refusals()[0];
    EXPECT_NE(std::string::npos, store_->Refusals()[0].find(ntuser_));
    EXPECT_TRUE(Commit());
    EXPECT_EQ(before, ReadFile(ntuser_));
    EXPECT_EQ(mode, ModeOf(ntuser_));
    EXPECT_EQ((std::vector<std::string>{"NTUSER.DAT"}), ListDir(dir_.Path() + "/Documents and Settings/Owner"));
}

INSTANTIATE_TEST_SUITE_P(
    Hives, DamagedHive,
    ::testing::Values(Damage{"Dirty", MakeDirty, "dirty"},
                      Damage{"TruncatedAtABin",
                             [](const std::string& path) {
                                 // Cut where the last bin starts: hivex opens
                                 // the rest, and would write a hive no one
                                 // can read.
                                 std::string bytes = ReadFile(path);
                                 std::size_t last = 0;
                                 for (std::size_t at = 0x1000; at + 4 <= bytes.size(); at += 0x1000)
                                     if (bytes.compare(at, 4, "hbin") == 0) last = at;
                                 ASSERT_GT(last, 0x1000u);
                                 WriteFile(path, bytes.substr(0, last));
                             },
                             "truncated"},
                      Damage{"ReadOnlyFile", [](const std::string& path) { SetReadOnly(path, true); },
                             "read-only"}),
    [](const ::testing::TestParamInfo<Damage>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kestro::test
