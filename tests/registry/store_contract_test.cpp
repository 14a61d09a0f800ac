// One contract for every registry store: the in-memory store must answer as
// advapi32 does (checked under Wine) wherever the engine depends on it, and
// so must the store on the hive files of a Windows that is not running.
#include "registry/memory_registry.h"
#ifdef _WIN32
#include "registry/win_registry.h"

#include <windows.h>
#else
#include "offline/hive_registry.h"
#include "tests/support/hive_files.h"
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>

namespace kestro {
namespace {

struct StoreKind {
    const char* name;
    std::function<std::unique_ptr<RegistryStore>()> make;
    // The ANSI code page its 8-bit calls convert through (0: another one).
    unsigned codePage;
};

void PrintTo(const StoreKind& kind, std::ostream* os) { *os << kind.name; }

std::vector<StoreKind> Kinds() {
    std::vector<StoreKind> kinds = {
        {"Memory", [] { return std::make_unique<MemoryRegistryStore>(); }, 1251},
        {"Memory1252", [] { return std::make_unique<MemoryRegistryStore>(CodePage::Windows1252); }, 1252}};
#ifdef _WIN32
    const unsigned acp = GetACP();
    kinds.push_back({"Advapi32", [] { return std::make_unique<WinRegistryStore>(); },
                     acp == 1251 || acp == 1252 ? acp : 0});
#else
    // HKEY_CURRENT_USER on a fresh, empty NTUSER.DAT. The hive is loaded
    // into memory and checked before its folder goes: the contract never
    // writes a hive back to disk (the offline tests do). Its 8-bit calls
    // speak Windows-1251.
    kinds.push_back({"Hive",
                     [] {
                         test::TempDir dir;
                         test::WriteEmptyHive(dir / "NTUSER.DAT");
                         std::string error;
                         auto hive = HiveFile::Open(dir / "NTUSER.DAT", HiveFile::Mode::Write, &error);
                         EXPECT_TRUE(hive) << error;
                         EXPECT_EQ("", hive->WriteRefusal());
                         auto store = std::make_unique<HiveRegistryStore>();
                         store->Mount(HiveRegistryStore::Slot::User, std::move(hive));
                         return std::unique_ptr<RegistryStore>(std::move(store));
                     },
                     1251});
#endif
    return kinds;
}

constexpr const char* kArea = "Software\\KestroStoreContract";

// Deletes a key and everything below it through the store's own operations.
void DeleteTree(RegistryStore& store, KeyHandle base, const std::string& name) {
    KeyHandle key = 0;
    if (store.OpenKey(base, name, kKeyAllAccess, &key) != kErrorSuccess) return;
    for (;;) {
        char child[256];
        std::uint32_t length = sizeof child;
        if (store.EnumKey(key, 0, child, &length) != kErrorSuccess) break;
        DeleteTree(store, key, child);
    }
    store.CloseKey(key);
    store.DeleteKey(base, name);
}

class StoreContract : public ::testing::TestWithParam<StoreKind> {
protected:
    void SetUp() override {
        store_ = GetParam().make();
        DeleteTree(*store_, kHkeyCurrentUser, kArea);
        ASSERT_EQ(kErrorSuccess, store_->CreateKey(kHkeyCurrentUser, kArea, kKeyAllAccess, &area_));
    }
    void TearDown() override {
        store_->CloseKey(area_);
        DeleteTree(*store_, kHkeyCurrentUser, kArea);
    }

    KeyHandle Create(KeyHandle base, const std::string& name) {
        KeyHandle key = 0;
        EXPECT_EQ(kErrorSuccess, store_->CreateKey(base, name, kKeyAllAccess, &key)) << name;
        return key;
    }
    RegResult Open(KeyHandle base, const std::string& name, KeyHandle* key) {
        return store_->OpenKey(base, name, kKeyAllAccess, key);
    }
    void Set(KeyHandle key, const std::string& name, std::uint32_t type, const std::string& bytes) {
        ASSERT_EQ(kErrorSuccess, store_->SetValue(key, name, type, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                                  static_cast<std::uint32_t>(bytes.size())));
    }

    std::unique_ptr<RegistryStore> store_;
    KeyHandle area_ = 0;
};

TEST_P(StoreContract, CreateOpensExistingKeysAndCreatesMissingOnes) {
    KeyHandle made = Create(area_, "Alpha");
    KeyHandle again = Create(area_, "alpha");  // names compare without regard to case
    EXPECT_NE(made, again);                    // each call gives a handle of its own
    Set(made, "V", kRegDword, std::string("\x07\0\0\0", 4));
    std::uint32_t type = 0, size = 0;
    EXPECT_EQ(kErrorSuccess, store_->QueryValue(again, "v", &type, nullptr, &size));
    EXPECT_EQ(kRegDword, type);
    EXPECT_EQ(4u, size);

    char name[32];
    std::uint32_t length = sizeof name;
    ASSERT_EQ(kErrorSuccess, store_->EnumKey(area_, 0, name, &length));
    EXPECT_STREQ("Alpha", name);  // the case it was created with
    EXPECT_EQ(5u, length);
    store_->CloseKey(made);
    store_->CloseKey(again);
}

TEST_P(StoreContract, OpenFindsOnlyExistingKeys) {
    KeyHandle key = 0;
    EXPECT_EQ(kErrorFileNotFound, Open(area_, "Missing", &key));
    std::uint32_t count = 99, longest = 99;
    ASSERT_EQ(kErrorSuccess, store_->QueryInfoKey(area_, &count, &longest));
    EXPECT_EQ(0u, count);  // nothing was created by the failed open

    store_->CloseKey(Create(area_, "Present"));
    ASSERT_EQ(kErrorSuccess, Open(area_, "PRESENT", &key));
    store_->CloseKey(key);
}

TEST_P(StoreContract, EmptyNameOpensANewHandleOnTheKeyItself) {
    KeyHandle self = 0;
    ASSERT_EQ(kErrorSuccess, Open(area_, "", &self));
    EXPECT_NE(area_, self);
    Set(self, "ThroughCopy", kRegDword, std::string("\x01\0\0\0", 4));
    EXPECT_EQ(kErrorSuccess, store_->CloseKey(self));
    // The original handle is still good and sees the value.
    EXPECT_EQ(kErrorSuccess, store_->QueryValue(area_, "ThroughCopy", nullptr, nullptr, nullptr));
    std::uint32_t count = 99, longest = 0;
    ASSERT_EQ(kErrorSuccess, store_->QueryInfoKey(area_, &count, &longest));
    EXPECT_EQ(0u, count);  // no key with an empty name
}

TEST_P(StoreContract, RootsAreUsableByTheirHandleValuesAndCloseHarmlessly) {
    KeyHandle key = 0;
    ASSERT_EQ(kErrorSuccess, Open(kHkeyCurrentUser, kArea, &key));
    store_->CloseKey(key);
    ASSERT_EQ(kErrorSuccess, Open(kHkeyCurrentUser, "", &key));
    store_->CloseKey(key);
    EXPECT_EQ(kErrorSuccess, store_->CloseKey(kHkeyCurrentUser));
    ASSERT_EQ(kErrorSuccess, Open(kHkeyCurrentUser, kArea, &key));  // still usable
    store_->CloseKey(key);
}

TEST_P(StoreContract, HandlesStayValidUntilClosed) {
    KeyHandle parent = Create(area_, "Parent");
    KeyHandle child = Create(parent, "Child");
    EXPECT_EQ(kErrorSuccess, store_->CloseKey(parent));
    Set(child, "AfterParentClosed", kRegSz, std::string("x\0", 2));
    store_->CloseKey(child);
    KeyHandle again = 0;
    ASSERT_EQ(kErrorSuccess, Open(area_, "Parent\\Child", &again));
    EXPECT_EQ(kErrorSuccess, store_->QueryValue(again, "AfterParentClosed", nullptr, nullptr, nullptr));
    store_->CloseKey(again);
}

TEST_P(StoreContract, DeleteRefusesAKeyWithSubKeys) {
    KeyHandle parent = Create(area_, "Parent");
    store_->CloseKey(Create(parent, "Child"));
    store_->CloseKey(parent);
    EXPECT_NE(kErrorSuccess, store_->DeleteKey(area_, "Parent"));
    KeyHandle key = 0;
    ASSERT_EQ(kErrorSuccess, Open(area_, "Parent\\Child", &key));
    store_->CloseKey(key);

    EXPECT_EQ(kErrorSuccess, store_->DeleteKey(area_, "Parent\\Child"));
    EXPECT_EQ(kErrorSuccess, store_->DeleteKey(area_, "PARENT"));
    EXPECT_EQ(kErrorFileNotFound, store_->DeleteKey(area_, "Parent"));
}

TEST_P(StoreContract, ADeletedKeysHandleNoLongerWorks) {
    KeyHandle doomed = Create(area_, "Doomed");
    ASSERT_EQ(kErrorSuccess, store_->DeleteKey(area_, "Doomed"));
    const std::uint8_t one[4] = {1, 0, 0, 0};
    EXPECT_EQ(kErrorKeyDeleted, store_->SetValue(doomed, "V", kRegDword, one, 4));
    EXPECT_EQ(kErrorSuccess, store_->CloseKey(doomed));
}

TEST_P(StoreContract, QueryGivesTypeAndSizeAndDataThatFits) {
    Set(area_, "Dword", kRegDword, std::string("\x2a\0\0\0", 4));
    Set(area_, "One", kRegSz, std::string("1\0", 2));
    Set(area_, "Long", kRegSz, std::string("1234\0", 5));
    Set(area_, "Blob", kRegBinary, std::string("\x01\x02\x03\x04\x05", 5));

    std::uint32_t type = 0, size = 0;
    ASSERT_EQ(kErrorSuccess, store_->QueryValue(area_, "dword", &type, nullptr, &size));
    EXPECT_EQ(kRegDword, type);
    EXPECT_EQ(4u, size);

    std::uint8_t buffer[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    size = sizeof buffer;
    ASSERT_EQ(kErrorSuccess, store_->QueryValue(area_, "One", &type, buffer, &size));
    EXPECT_EQ(kRegSz, type);
    EXPECT_EQ(2u, size);  // the text and its zero
    EXPECT_EQ('1', buffer[0]);
    EXPECT_EQ(0, buffer[1]);

    for (const char* name : {"Long", "Blob"}) {
        std::memset(buffer, 0xAA, sizeof buffer);
        size = sizeof buffer;
        EXPECT_EQ(kErrorMoreData, store_->QueryValue(area_, name, &type, buffer, &size)) << name;
        EXPECT_EQ(5u, size) << name;
        // Advapi32 is free to scribble over a buffer that is too small; only
        // the result and the size matter to callers.
    }

    size = 4;
    EXPECT_EQ(kErrorFileNotFound, store_->QueryValue(area_, "Absent", &type, buffer, &size));
    EXPECT_EQ(kErrorFileNotFound, store_->QueryValue(area_, "Absent", nullptr, nullptr, nullptr));
}

TEST_P(StoreContract, SetReplacesAValueWhateverItsType) {
    Set(area_, "Mixed", kRegSz, std::string("text\0", 5));
    Set(area_, "MIXED", kRegDword, std::string("\xff\xff\xff\xff", 4));
    std::uint32_t type = 0;
    std::uint8_t buffer[4] = {};
    std::uint32_t size = sizeof buffer;
    ASSERT_EQ(kErrorSuccess, store_->QueryValue(area_, "mixed", &type, buffer, &size));
    EXPECT_EQ(kRegDword, type);
    EXPECT_EQ(0xFF, buffer[3]);

    Set(area_, "Empty", kRegSz, std::string("\0", 1));
    ASSERT_EQ(kErrorSuccess, store_->QueryValue(area_, "Empty", &type, nullptr, &size));
    EXPECT_EQ(1u, size);
}

TEST_P(StoreContract, InfoAndEnumerationListSubKeys) {
    for (const char* name : {"b", "Longest-Name", "a"}) store_->CloseKey(Create(area_, name));
    std::uint32_t count = 0, longest = 0;
    ASSERT_EQ(kErrorSuccess, store_->QueryInfoKey(area_, &count, &longest));
    EXPECT_EQ(3u, count);
    EXPECT_EQ(12u, longest);

    std::vector<std::string> names;
    for (std::uint32_t i = 0;; ++i) {
        char name[64];
        std::uint32_t length = sizeof name;
        RegResult rc = store_->EnumKey(area_, i, name, &length);
        if (rc == kErrorNoMoreItems) break;
        ASSERT_EQ(kErrorSuccess, rc);
        names.emplace_back(name, length);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::string>{"Longest-Name", "a", "b"}), names);

    char tiny[5];
    std::uint32_t length = sizeof tiny;
    bool sawTooSmall = false;
    for (std::uint32_t i = 0; i < 3; ++i) {
        length = sizeof tiny;
        if (store_->EnumKey(area_, i, tiny, &length) == kErrorMoreData) sawTooSmall = true;
    }
    EXPECT_TRUE(sawTooSmall);  // "Longest-Name" does not fit five characters
}

// "Корзина" and its zero, as UTF-16LE.
const std::string kCyrillicW("\x1A\x04\x3E\x04\x40\x04\x37\x04\x38\x04\x3D\x04\x30\x04\0\0", 16);

std::string QueryW(RegistryStore& store, KeyHandle key, const std::string& name, std::uint32_t* type) {
    std::uint8_t buffer[64] = {};
    std::uint32_t size = sizeof buffer;
    EXPECT_EQ(kErrorSuccess, store.QueryValueW(key, name, type, buffer, &size)) << name;
    return std::string(reinterpret_cast<const char*>(buffer), std::min<std::uint32_t>(size, sizeof buffer));
}

std::string QueryA(RegistryStore& store, KeyHandle key, const std::string& name, std::uint32_t* type) {
    std::uint8_t buffer[64] = {};
    std::uint32_t size = sizeof buffer;
    EXPECT_EQ(kErrorSuccess, store.QueryValue(key, name, type, buffer, &size)) << name;
    return std::string(reinterpret_cast<const char*>(buffer), std::min<std::uint32_t>(size, sizeof buffer));
}

TEST_P(StoreContract, WideTextRoundTripsExactlyThroughTheWideCalls) {
    ASSERT_EQ(kErrorSuccess, store_->SetValueW(area_, "Name", kRegSz,
                                               reinterpret_cast<const std::uint8_t*>(kCyrillicW.data()),
                                               static_cast<std::uint32_t>(kCyrillicW.size())));
    std::uint32_t type = 0;
    EXPECT_EQ(kCyrillicW, QueryW(*store_, area_, "NAME", &type));
    EXPECT_EQ(kRegSz, type);

    // Too small a buffer: MORE_DATA and the UTF-16 size, as for the 8-bit call.
    std::uint8_t small[8];
    std::uint32_t size = sizeof small;
    EXPECT_EQ(kErrorMoreData, store_->QueryValueW(area_, "Name", &type, small, &size));
    EXPECT_EQ(16u, size);
    size = 0;
    ASSERT_EQ(kErrorSuccess, store_->QueryValueW(area_, "Name", nullptr, nullptr, &size));
    EXPECT_EQ(16u, size);
    EXPECT_EQ(kErrorFileNotFound, store_->QueryValueW(area_, "Absent", &type, nullptr, &size));
}

TEST_P(StoreContract, AnEightBitReadConvertsWideTextThroughTheCodePage) {
    if (GetParam().codePage == 0) GTEST_SKIP() << "the system's code page is neither 1251 nor 1252";
    ASSERT_EQ(kErrorSuccess, store_->SetValueW(area_, "Name", kRegSz,
                                               reinterpret_cast<const std::uint8_t*>(kCyrillicW.data()),
                                               static_cast<std::uint32_t>(kCyrillicW.size())));
    // The 8-bit size counts the code page's bytes, not the UTF-16 ones.
    std::uint32_t type = 0, size = 0;
    ASSERT_EQ(kErrorSuccess, store_->QueryValue(area_, "Name", &type, nullptr, &size));
    EXPECT_EQ(8u, size);
    const std::string expected = GetParam().codePage == 1251 ? std::string("\xCA\xEE\xF0\xE7\xE8\xED\xE0\0", 8)
                                                             : std::string("???????\0", 8);
    EXPECT_EQ(expected, QueryA(*store_, area_, "Name", &type));
    EXPECT_EQ(kRegSz, type);
}

TEST_P(StoreContract, EightBitTextReadsBackThroughTheWideCall) {
    if (GetParam().codePage == 0) GTEST_SKIP() << "the system's code page is neither 1251 nor 1252";
    Set(area_, "Text", kRegSz, std::string("A\xC0\xE9\0", 4));
    std::uint32_t type = 0;
    // 0xC0 and 0xE9 are letters in both code pages, different ones.
    const std::string expected = GetParam().codePage == 1251 ? std::string("A\0\x10\x04\x39\x04\0\0", 8)
                                                             : std::string("A\0\xC0\0\xE9\0\0\0", 8);
    EXPECT_EQ(expected, QueryW(*store_, area_, "Text", &type));
    EXPECT_EQ(kRegSz, type);
    EXPECT_EQ(std::string("A\xC0\xE9\0", 4), QueryA(*store_, area_, "Text", &type));
}

TEST_P(StoreContract, DataOfOtherTypesIsTheSameThroughBothCalls) {
    const std::uint8_t dword[4] = {0x2a, 0, 0, 0};
    ASSERT_EQ(kErrorSuccess, store_->SetValueW(area_, "Dword", kRegDword, dword, 4));
    std::uint32_t type = 0;
    EXPECT_EQ(std::string("\x2a\0\0\0", 4), QueryA(*store_, area_, "Dword", &type));
    EXPECT_EQ(kRegDword, type);
    Set(area_, "Blob", kRegBinary, std::string("\xC0\xE9\x01", 3));
    EXPECT_EQ(std::string("\xC0\xE9\x01", 3), QueryW(*store_, area_, "Blob", &type));
    EXPECT_EQ(kRegBinary, type);
}

TEST_P(StoreContract, AHandleOpenedForReadingRefusesWrites) {
    Set(area_, "Kept", kRegSz, std::string("x\0", 2));
    KeyHandle reader = 0;
    ASSERT_EQ(kErrorSuccess, store_->OpenKey(kHkeyCurrentUser, kArea, kKeyRead, &reader));
    const std::uint8_t one[4] = {1, 0, 0, 0};
    EXPECT_EQ(kErrorAccessDenied, store_->SetValue(reader, "V", kRegDword, one, 4));
    EXPECT_EQ(kErrorAccessDenied, store_->SetValueW(reader, "V", kRegDword, one, 4));
    EXPECT_EQ(kErrorFileNotFound, store_->QueryValue(area_, "V", nullptr, nullptr, nullptr));
    EXPECT_EQ(kErrorSuccess, store_->QueryValue(reader, "Kept", nullptr, nullptr, nullptr));
    EXPECT_EQ(kErrorSuccess, store_->CloseKey(reader));
}

// Deleting a value and listing a key's values, as the way back of a
// command needs them: the deletion is by name in any case, a second one
// finds nothing, a read-only handle may not delete, and a key emptied of
// its last value keeps none when another is written (a store that reads
// its key again would bring the deleted one back).
TEST_P(StoreContract, ValuesAreDeletedAndListedByName) {
    Set(area_, "First", kRegDword, std::string("\1\0\0\0", 4));
    Set(area_, "Second", kRegSz, std::string("x\0", 2));
    std::set<std::string> names;
    for (std::uint32_t i = 0;; ++i) {
        char name[64];
        std::uint32_t length = sizeof name;
        const RegResult rc = store_->EnumValue(area_, i, name, &length);
        if (rc == kErrorNoMoreItems) break;
        ASSERT_EQ(kErrorSuccess, rc);
        EXPECT_EQ(std::strlen(name), length);
        names.insert(name);
    }
    EXPECT_EQ((std::set<std::string>{"First", "Second"}), names);
    char tiny[3];
    std::uint32_t tinyLength = sizeof tiny;
    EXPECT_EQ(kErrorMoreData, store_->EnumValue(area_, 0, tiny, &tinyLength));

    KeyHandle reader = 0;
    ASSERT_EQ(kErrorSuccess, store_->OpenKey(kHkeyCurrentUser, kArea, kKeyRead, &reader));
    EXPECT_EQ(kErrorAccessDenied, store_->DeleteValue(reader, "First"));
    EXPECT_EQ(kErrorSuccess, store_->CloseKey(reader));

    EXPECT_EQ(kErrorSuccess, store_->DeleteValue(area_, "FIRST"));
    EXPECT_EQ(kErrorFileNotFound, store_->DeleteValue(area_, "First"));
    EXPECT_EQ(kErrorFileNotFound, store_->QueryValueW(area_, "First", nullptr, nullptr, nullptr));
    EXPECT_EQ(kErrorSuccess, store_->DeleteValue(area_, "Second"));
    char name[64];
    std::uint32_t length = sizeof name;
    EXPECT_EQ(kErrorNoMoreItems, store_->EnumValue(area_, 0, name, &length));
    Set(area_, "Third", kRegDword, std::string("\3\0\0\0", 4));
    EXPECT_EQ(kErrorFileNotFound, store_->QueryValue(area_, "Second", nullptr, nullptr, nullptr));
    EXPECT_EQ(kErrorSuccess, store_->QueryValue(area_, "Third", nullptr, nullptr, nullptr));
}

#ifdef _WIN32
// The text cases run under more than one code page; each run must really
// have the one it was started for, or it proves nothing.
TEST(CodePageOfTheRun, IsTheOneTheLocaleGives) {
    const char* expected = std::getenv("KESTRO_EXPECT_ACP");
    if (!expected) GTEST_SKIP() << "not started by the test runner";
    EXPECT_EQ(std::strtoul(expected, nullptr, 10), GetACP());
}
#endif

INSTANTIATE_TEST_SUITE_P(Stores, StoreContract, ::testing::ValuesIn(Kinds()),
                         [](const ::testing::TestParamInfo<StoreKind>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kestro
