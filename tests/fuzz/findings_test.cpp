// What fuzzing found, kept as ordinary cases: each is the smallest file or
// state that showed the fault, and what the sound behaviour is.
#include "platform/hive_file.h"
#include "platform/hive_registry.h"
#include "settings/readback.h"
#include "settings/uFunctions.h"
#include "tests/fakes.h"
#include "tests/offline/hive_fixture.h"

#include <gtest/gtest.h>

namespace kestro::test {
namespace {

constexpr const char* kExplorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";

const char* const kOddNoRun =
    "Windows Registry Editor Version 5.00\n\n[\\Software]\n\n[\\Software\\Microsoft]\n\n"
    "[\\Software\\Microsoft\\Windows]\n\n[\\Software\\Microsoft\\Windows\\CurrentVersion]\n\n"
    "[\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies]\n\n"
    "[\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer]\n"
    "\"NoRun\"=hex(b70004):01,00,00,00\n";

// A user hive filled from .reg text, opened as HKEY_CURRENT_USER.
class UserHive {
public:
    explicit UserHive(const std::string& regText, HiveFile::Mode mode = HiveFile::Mode::ReadOnly) {
        WriteEmptyHive(path_);
        EXPECT_TRUE(MergeReg(path_, regText));
        std::string error;
        auto hive = HiveFile::Open(path_, mode, &error);
        EXPECT_TRUE(hive) << error;
        store_.Mount(HiveRegistryStore::Slot::User, std::move(hive));
    }
    HiveRegistryStore& store() { return store_; }
    const std::string& path() const { return path_; }

private:
    TempDir dir_;
    std::string path_ = dir_ / "NTUSER.DAT";
    HiveRegistryStore store_;
};

TEST(HiveFindings, AValueTypeBeyondTheKnownOnesIsTheNumberStored) {
    // hivex gives the type as its enum; a number beyond the enum's range
    // must come through as the number, not as an enum that cannot hold it.
    UserHive hive(kOddNoRun);
    EXPECT_EQ("", HiveFile::CheckFile(hive.path()));
    KeyHandle key = 0;
    ASSERT_EQ(kErrorSuccess, hive.store().OpenKey(kHkeyCurrentUser, kExplorer, kKeyRead, &key));
    UniqueKey owner(hive.store(), key);
    std::uint32_t type = 0, size = 0;
    ASSERT_EQ(kErrorSuccess, hive.store().QueryValue(key, "NoRun", &type, nullptr, &size));
    EXPECT_EQ(0xB70004u, type);
    EXPECT_EQ(4u, size);
    owner.Reset();

    // The window shows it as what it is: not a REG_DWORD.
    ScopedRegistryStore scope(hive.store());
    FakeView view;
    std::string error;
    try {
        LoadSettingsState(view);
    } catch (const ERegistryException& e) {
        error = e.what();
    }
    EXPECT_EQ("Invalid data type for 'NoRun'", error);
    EXPECT_EQ(0, hive.store().OpenHandleCount());
}

TEST(HiveFindings, AValueOfATypeBeyondTheKnownOnesSurvivesAWriteBesideIt) {
    // Values of one key are written back as one batch: the odd one goes
    // back with the number it had.
    UserHive hive(kOddNoRun, HiveFile::Mode::Write);
    {
        ScopedRegistryStore scope(hive.store());
        Zfunctions::SetNoFind(1);
    }
    std::string error;
    ASSERT_TRUE(hive.store().Commit(HiveFile::CommitOptions{false}, &error)) << error;

    HiveRegistryStore reread;
    auto file = HiveFile::Open(hive.path(), HiveFile::Mode::ReadOnly, &error);
    ASSERT_TRUE(file) << error;
    reread.Mount(HiveRegistryStore::Slot::User, std::move(file));
    KeyHandle key = 0;
    ASSERT_EQ(kErrorSuccess, reread.OpenKey(kHkeyCurrentUser, kExplorer, kKeyRead, &key));
    UniqueKey owner(reread, key);
    std::uint32_t type = 0;
    std::uint8_t data[8] = {};
    std::uint32_t size = sizeof data;
    ASSERT_EQ(kErrorSuccess, reread.QueryValue(key, "NoRun", &type, data, &size));
    EXPECT_EQ(0xB70004u, type);
    EXPECT_EQ(4u, size);
    EXPECT_EQ(1, data[0]);
    ASSERT_EQ(kErrorSuccess, reread.QueryValue(key, "NoFind", &type, data, &size));
    EXPECT_EQ(kRegDword, type);
}

}  // namespace
}  // namespace kestro::test
