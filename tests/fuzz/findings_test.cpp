// What fuzzing found, kept as ordinary cases: each is the smallest file or
// state that showed the fault, and what the sound behaviour is.
#include "ctl/current_state.h"
#include "ctl/profile.h"
#include "offline/hive_file.h"
#include "registry/memory_registry.h"
#include "offline/hive_registry.h"
#include "settings/readback.h"
#include "settings/uFunctions.h"
#include "tests/fakes.h"
#include "tests/support/hive_files.h"

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

// kestroctl lists what the window would show of the same values, and says
// the window's own message where the window would stop.
TEST(ListingFindings, ANumberReadsAsTheWindowReadsIt) {
    struct Case {
        std::uint32_t type;
        std::vector<std::uint8_t> data;
        const char* message;  // empty: read, as on
    } cases[] = {
        {kRegBinary, std::vector<std::uint8_t>(9, 1), "Failed to get data for 'NoRun'"},
        {kRegSz, TextBytes("enabled"), "Failed to get data for 'NoRun'"},
        {kRegSz, TextBytes("1"), "Invalid data type for 'NoRun'"},
        {kRegDword, {1, 0, 0, 0, 0}, "Failed to get data for 'NoRun'"},
        {kRegDword, {1, 0}, ""},
        {kRegDword, {1}, ""},
    };
    for (const Case& c : cases) {
        MemoryRegistryStore store;
        store.PutValue(kHkeyCurrentUser, kExplorer, "NoRun", c.type, c.data);
        ScopedRegistryStore scope(store);
        FakeView view;
        std::string windowSays;
        try {
            LoadSettingsState(view);
        } catch (const ERegistryException& e) {
            windowSays = e.what();
        }
        EXPECT_EQ(c.message, windowSays) << c.type << "/" << c.data.size();
        const SettingState state = ReadSettingState(store, *FindSettingByName("NoRun"));
        EXPECT_EQ(c.message, state.message) << c.type << "/" << c.data.size();
        if (!*c.message) {
            EXPECT_EQ(SettingState::Status::Ok, state.status);
            EXPECT_TRUE(state.value.on);
            EXPECT_TRUE(view.Down("sbDelDoing"));
        }
    }
}

TEST(ListingFindings, ASavedProfileIsOneThatApplyTakes) {
    // A text longer than a profile may carry is left out, with a note,
    // rather than saved into a file that apply refuses.
    MemoryRegistryStore store;
    const std::string clsid = "CLSID\\{645FF040-5081-101B-9F08-00AA002F954E}";
    // The in-memory store keeps texts as the 8-bit calls see them.
    store.PutValue(kHkeyClassesRoot, clsid, "LocalizedString", kRegSz,
                   TextBytes(std::string(kMaxProfileTextChars + 1, 'x')));
    store.PutValue(kHkeyClassesRoot, clsid, "InfoTip", kRegSz, TextBytes("t"));

    Profile saved;
    std::vector<std::string> notes;
    EXPECT_FALSE(CurrentProfile(store, &saved, &notes));
    bool noted = false;
    for (const std::string& note : notes) noted |= note.find("RecycleBinName is left out") != std::string::npos;
    EXPECT_TRUE(noted);
    Profile reread;
    ProfileError error;
    ASSERT_TRUE(ReadProfile(WriteProfile(saved, notes), &reread, &error)) << error.line << ": " << error.message;
    EXPECT_EQ(saved.entries.size(), reread.entries.size());
    for (const ProfileEntry& e : reread.entries) EXPECT_STRNE("RecycleBinName", e.row->name);
}

}  // namespace
}  // namespace kestro::test
