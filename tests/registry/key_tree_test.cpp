// Key trees and raw values through the store: read whole, deleted deepest
// first, and every failure reported as the store gave it.
#include "registry/key_tree.h"
#include "registry/memory_registry.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace kestro {
namespace {

using Op = MemoryRegistryStore::Op;

const std::vector<std::uint8_t> kOne{1, 0, 0, 0};
const std::vector<std::uint8_t> kText{'a', 0, 0, 0};

class KeyTreeTest : public ::testing::Test {
protected:
    void SetUp() override {
        store_.PutValueW(kHkeyCurrentUser, "Software\\Top", "Top", kRegDword, kOne);
        store_.PutValueW(kHkeyCurrentUser, "Software\\Top\\A", "Text", kRegSz, kText);
        store_.PutValueW(kHkeyCurrentUser, "Software\\Top\\A\\Deep", "Bytes", kRegBinary, {9, 8});
        store_.PutValueW(kHkeyCurrentUser, "Software\\Top\\B", "", kRegDword, kOne);
        store_.PutValueW(kHkeyCurrentUser, "Software\\Beside", "Kept", kRegDword, kOne);
    }
    KeyTree Tree(const std::string& path) {
        KeyTree tree;
        tree.root = kHkeyCurrentUser;
        tree.keyPath = path;
        return tree;
    }
    MemoryRegistryStore store_;
};

TEST_F(KeyTreeTest, ReadsEveryKeyParentsFirstAndEveryValueWithItsBytes) {
    KeyTree tree = Tree("Software\\Top");
    ASSERT_EQ(kErrorSuccess, ReadKeyTree(store_, &tree));
    EXPECT_TRUE(tree.present);
    ASSERT_EQ(4u, tree.keys.size());
    EXPECT_EQ("Software\\Top", tree.keys[0]);
    const auto at = [&](const std::string& key) { return std::find(tree.keys.begin(), tree.keys.end(), key); };
    EXPECT_LT(at("Software\\Top\\A"), at("Software\\Top\\A\\Deep"));
    ASSERT_EQ(4u, tree.values.size());
    for (const StoredValue& value : tree.values) {
        EXPECT_TRUE(value.present);
        if (value.name == "Bytes") {
            EXPECT_EQ("Software\\Top\\A\\Deep", value.keyPath);
            EXPECT_EQ(kRegBinary, value.type);
            EXPECT_EQ((std::vector<std::uint8_t>{9, 8}), value.data);
        } else if (value.name == "Text") {
            EXPECT_EQ(kText, value.data);
        }
    }
    EXPECT_EQ(0, store_.OpenHandleCount());
}

TEST_F(KeyTreeTest, AnAbsentTopKeyIsNoFailureButAnAbsentTreeIsNotPresent) {
    KeyTree tree = Tree("Software\\Missing");
    EXPECT_EQ(kErrorSuccess, ReadKeyTree(store_, &tree));
    EXPECT_FALSE(tree.present);
    EXPECT_TRUE(tree.keys.empty());
    EXPECT_EQ(kErrorSuccess, DeleteKeyTree(store_, kHkeyCurrentUser, "Software\\Missing"));
}

TEST_F(KeyTreeTest, AReadFailureSaysWhereAndWhatTheStoreAnswered) {
    store_.FailCall(Op::QueryValueW, 3, kErrorMoreData);
    KeyTree tree = Tree("Software\\Top");
    KeyTreeFailure failure;
    EXPECT_EQ(kErrorMoreData, ReadKeyTree(store_, &tree, &failure));
    EXPECT_FALSE(failure.keyPath.empty());
    EXPECT_FALSE(failure.name.empty());
    EXPECT_EQ(0, store_.OpenHandleCount());
}

TEST_F(KeyTreeTest, DeletesTheTreeAndNothingBeside) {
    const std::string before = store_.Dump();
    EXPECT_EQ(kErrorSuccess, DeleteKeyTree(store_, kHkeyCurrentUser, "Software\\Top"));
    EXPECT_FALSE(store_.KeyExists(kHkeyCurrentUser, "Software\\Top"));
    EXPECT_TRUE(store_.KeyExists(kHkeyCurrentUser, "Software\\Beside"));
    EXPECT_TRUE(store_.KeyExists(kHkeyCurrentUser, "Software"));
    EXPECT_NE(before, store_.Dump());
    EXPECT_EQ(0, store_.OpenHandleCount());
}

// A tree that cannot be read is not deleted, and the caller is told the
// store's own answer, not a refusal the store never gave.
TEST_F(KeyTreeTest, ADeleteWhoseReadFailsReportsTheReadsFailureAndDeletesNothing) {
    const std::string before = store_.Dump();
    for (const RegResult error : {kErrorInvalidHandle, kErrorKeyDeleted, kErrorAccessDenied}) {
        store_.FailCall(Op::EnumKey, 2, error);
        EXPECT_EQ(error, DeleteKeyTree(store_, kHkeyCurrentUser, "Software\\Top"));
        EXPECT_EQ(before, store_.Dump());
        EXPECT_EQ(0, store_.OpenHandleCount());
    }
}

TEST_F(KeyTreeTest, ADeleteThatFailsHalfWayReportsTheDeletesFailure) {
    store_.FailCall(Op::DeleteKey, 2, kErrorInvalidParameter);
    EXPECT_EQ(kErrorInvalidParameter, DeleteKeyTree(store_, kHkeyCurrentUser, "Software\\Top"));
    EXPECT_TRUE(store_.KeyExists(kHkeyCurrentUser, "Software\\Top"));
    EXPECT_EQ(0, store_.OpenHandleCount());
}

TEST_F(KeyTreeTest, AValueIsSetWithItsExactBytesOrDeletedWithoutMakingItsKey) {
    const StoredValue set{kHkeyLocalMachine, "Software\\New\\Key", "V", true, kRegBinary, {1, 2, 3}};
    ASSERT_EQ(kErrorSuccess, WriteStoredValue(store_, set));
    MemoryRegistryStore::Value got;
    ASSERT_TRUE(store_.GetValueW(kHkeyLocalMachine, "Software\\New\\Key", "V", &got));
    EXPECT_EQ(kRegBinary, got.type);
    EXPECT_EQ(set.data, got.data);

    const StoredValue absent{kHkeyLocalMachine, "Software\\New\\Key", "V", false, kRegNone, {}};
    EXPECT_EQ(kErrorSuccess, WriteStoredValue(store_, absent));
    EXPECT_FALSE(store_.GetValueW(kHkeyLocalMachine, "Software\\New\\Key", "V", &got));
    EXPECT_EQ(kErrorSuccess, WriteStoredValue(store_, absent));

    const StoredValue nowhere{kHkeyLocalMachine, "Software\\Nowhere", "V", false, kRegNone, {}};
    EXPECT_EQ(kErrorSuccess, WriteStoredValue(store_, nowhere));
    EXPECT_FALSE(store_.KeyExists(kHkeyLocalMachine, "Software\\Nowhere"));

    store_.DenyWrite(kHkeyLocalMachine, "Software\\New");
    EXPECT_EQ(kErrorAccessDenied, WriteStoredValue(store_, set));
    EXPECT_EQ(kErrorAccessDenied, MakeKey(store_, kHkeyLocalMachine, "Software\\New\\Other"));
    EXPECT_EQ(0, store_.OpenHandleCount());
}

}  // namespace
}  // namespace kestro
