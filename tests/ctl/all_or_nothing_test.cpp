// set, apply and clear-search-history change all or nothing: the prior
// state of every value they write is read first, and a failure at any
// write puts back what was written before it, to the byte, type and
// absence (and the keys made on the way go again).
#include "ctl/commands.h"
#include "ctl/prior_state.h"
#include "registry/memory_registry.h"
#include "tests/ctl/ctl_fakes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include <unistd.h>

namespace kestro::test {
namespace {

using Op = MemoryRegistryStore::Op;

constexpr const char* kExplorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr const char* kHistory = "Software\\Microsoft\\Search Assistant\\ACMru";

class AllOrNothing : public ::testing::Test {
protected:
    // A machine with some of the profile's values set, one of another type
    // than its writer stores, some absent with their keys, and a search
    // history.
    static void Plant(MemoryRegistryStore& store) {
        store.PutValue(kHkeyCurrentUser, kExplorer, "NoRun", kRegDword, {1, 0, 0, 0});
        store.PutValue(kHkeyCurrentUser, kExplorer, "NoFind", kRegSz, {'7', 0});
        store.PutValueW(kHkeyCurrentUser, "Control Panel\\Desktop", "FontSmoothing", kRegSz, {'0', 0, 0, 0});
        store.PutValue(kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Services\\Cdrom", "Start", kRegDword,
                       {1, 0, 0, 0});
        store.PutValue(kHkeyCurrentUser, std::string(kHistory) + "\\5603", "000", kRegSz, {'x', 0});
    }
    void SetUp() override { Plant(store_); }
    void TearDown() override {
        EXPECT_EQ(0, store_.OpenHandleCount()) << "a handle was left open";
        std::remove(profile_.c_str());
    }

    int Run(std::vector<std::string> arguments) {
        console_ = CapturingConsole();
        FixedStore provider(store_);
        return RunKestroctl(arguments, provider, console_);
    }

    std::string Profile(const std::string& text) {
        std::ofstream(profile_, std::ios::binary) << text;
        return profile_;
    }

    MemoryRegistryStore store_;
    CapturingConsole console_;
    std::string profile_ = "kestroctl-all-or-nothing-" + std::to_string(getpid()) + ".ini";
};

constexpr const char* kProfile =
    "[Kestro]\nNoRun = off\nNoFind = on\nMaxRecentDocs = 9\nFontSmoothing = on\nCdromOff = on\n"
    "RecycleBinName = \"Trash\"\nNoSMHelp = on\n";

// Whichever write fails, from the first to the last, and whether it is a
// value or a key on the way, the registry is as it was before, to the
// byte, and nothing is announced.
TEST_F(AllOrNothing, AFailureAtAnyWriteLeavesEveryValueAsItWas) {
    for (Op op : {Op::SetValue, Op::SetValueW, Op::CreateKey}) {
        for (int n = 1;; ++n) {
            MemoryRegistryStore store;
            Plant(store);
            const std::string before = store.Dump();
            store.FailCall(op, n);
            CapturingConsole console;
            FixedStore provider(store);
            const int code = RunKestroctl({"apply", Profile(kProfile)}, provider, console);
            if (code == kExitOk) {
                // Past the last call of that kind.
                EXPECT_GT(n, 1) << "no call of that kind";
                break;
            }
            EXPECT_EQ(kExitFailed, code) << "call " << n;
            EXPECT_EQ(before, store.Dump()) << "failed at call " << n << "\n" << console.err;
            EXPECT_NE(std::string::npos, console.err.find("nothing was changed")) << console.err;
            EXPECT_EQ(0, store.OpenHandleCount());
        }
    }
}

// A put-back that fails is named, and the exit code is still 1: the value
// stays changed and nothing pretends otherwise.
TEST_F(AllOrNothing, AValueThatCannotBePutBackIsNamed) {
    store_.FailCall(Op::SetValue, 3);          // the third entry fails...
    store_.AlsoFailCall(Op::DeleteValue, 1);  // ...and MaxRecentDocs, absent before, cannot go again
    EXPECT_EQ(kExitFailed, Run({"apply", Profile("[Kestro]\nNoRun = off\nMaxRecentDocs = 9\nNoSMHelp = on\n")}));
    EXPECT_NE(std::string::npos, console_.err.find(std::string("HKEY_CURRENT_USER\\") + kExplorer +
                                                   "\\MaxRecentDocs: could not be put back"))
        << console_.err;
    EXPECT_NE(std::string::npos, console_.err.find("1 values could not be put back")) << console_.err;
    EXPECT_EQ(std::string::npos, console_.err.find("nothing was changed")) << console_.err;
    MemoryRegistryStore::Value value;
    ASSERT_TRUE(store_.GetValue(kHkeyCurrentUser, kExplorer, "NoRun", &value));
    EXPECT_EQ((std::vector<std::uint8_t>{1, 0, 0, 0}), value.data) << "NoRun was not put back";
}

// The prior state cannot be read: nothing is written at all.
TEST_F(AllOrNothing, AnUnreadablePriorStateWritesNothing) {
    store_.Deny(kHkeyLocalMachine, "SYSTEM");
    const std::string before = store_.Dump();
    EXPECT_EQ(kExitFailed, Run({"apply", Profile("[Kestro]\nNoRun = off\nCdromOff = on\n")}));
    EXPECT_EQ(before, store_.Dump());
    EXPECT_NE(std::string::npos, console_.err.find("nothing was changed")) << console_.err;
    EXPECT_EQ(0, store_.CallCount(Op::SetValue) + store_.CallCount(Op::SetValueW));
}

// Every value of a dump, under its key: what an undo file gives back.
// (A key that a write made stays after the undo, as regedit too leaves
// the keys a file names.)
std::string ValuesOf(const std::string& dump) {
    std::istringstream in(dump);
    std::string line, key, out;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '[') key = line;
        else out += key + line + "\n";
    }
    return out;
}

// --undo, then apply of the undo files in the reverse order, gives back
// every value as it was: absent ones absent again, one of another type
// than its writer stores with that type, font smoothing's text, the
// machine's driver start, and the search history's whole tree.
TEST_F(AllOrNothing, UndoFilesGiveBackTheExactPriorState) {
    store_.PutValue(kHkeyCurrentUser, std::string(kHistory) + "\\5603", "MRU", kRegBinary, {0, 1, 0xFF});
    const std::string before = ValuesOf(store_.Dump());
    const std::string base = "kestroctl-undo-" + std::to_string(getpid());
    const std::string undoApply = base + "-apply.reg", undoClear = base + "-clear.reg", undoSet = base + "-set.reg";
    ASSERT_EQ(kExitOk, Run({"apply", Profile(kProfile), "--undo", undoApply})) << console_.err;
    ASSERT_EQ(kExitOk, Run({"clear-search-history", "--undo", undoClear})) << console_.err;
    ASSERT_EQ(kExitOk, Run({"set", "MaxRecentDocs", "3", "--undo", undoSet})) << console_.err;
    ASSERT_FALSE(store_.KeyExists(kHkeyCurrentUser, kHistory));
    ASSERT_NE(before, ValuesOf(store_.Dump()));

    for (const std::string& undo : {undoSet, undoClear, undoApply})
        ASSERT_EQ(kExitOk, Run({"apply", undo})) << undo << "\n" << console_.err;
    EXPECT_EQ(before, ValuesOf(store_.Dump()));
    EXPECT_TRUE(store_.KeyExists(kHkeyCurrentUser, std::string(kHistory) + "\\5603"));

    // Absent values are deletions, present ones hex of their own type.
    std::ifstream file(undoApply, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::string ascii;
    for (std::size_t i = 2; i < bytes.size(); i += 2) ascii += bytes[i];
    EXPECT_NE(std::string::npos, ascii.find("\"MaxRecentDocs\"=-")) << ascii;
    EXPECT_NE(std::string::npos, ascii.find("\"NoFind\"=hex(1):37,00,00,00")) << ascii;
    EXPECT_NE(std::string::npos, ascii.find("\"NoRun\"=hex(4):01,00,00,00")) << ascii;
    for (const std::string& undo : {undoSet, undoClear, undoApply}) std::remove(undo.c_str());
}

// The undo file's freedom is only for Kestro's own values and keys: a
// deletion or a raw value anywhere else refuses the whole file, unless
// --ignore-unknown passes over it.
TEST_F(AllOrNothing, DeletionsAndRawValuesElsewhereAreRefused) {
    const std::string file = "kestroctl-foreign-" + std::to_string(getpid()) + ".reg";
    const std::u16string text =
        u"Windows Registry Editor Version 5.00\r\n\r\n"
        u"[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer]\r\n"
        u"\"NoRun\"=-\r\n\"NoFolderOptions\"=-\r\n\r\n"
        u"[HKEY_CURRENT_USER\\Software\\Other]\r\n\"X\"=hex(4):01,00,00,00\r\n\r\n"
        u"[-HKEY_CURRENT_USER\\Software\\Other]\r\n\r\n";
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) bytes += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    std::ofstream(file, std::ios::binary) << bytes;
    const std::string before = store_.Dump();
    EXPECT_EQ(kExitUsage, Run({"apply", file}));
    EXPECT_EQ(before, store_.Dump());
    EXPECT_NE(std::string::npos, console_.err.find("line 5: a deletion, a raw (hex) value or a key outside"))
        << console_.err;
    EXPECT_NE(std::string::npos, console_.err.find("line 10:")) << console_.err;
    EXPECT_EQ(std::string::npos, console_.err.find("line 4:")) << "NoRun is Kestro's own value";

    EXPECT_EQ(kExitOk, Run({"apply", file, "--ignore-unknown"})) << console_.err;
    MemoryRegistryStore::Value value;
    EXPECT_FALSE(store_.GetValue(kHkeyCurrentUser, kExplorer, "NoRun", &value));
    std::remove(file.c_str());
}

// An undo file that cannot be written: nothing is written either.
TEST_F(AllOrNothing, AnUndoFileThatCannotBeWrittenStopsTheCommand) {
    const std::string before = store_.Dump();
    EXPECT_EQ(kExitFailed, Run({"set", "NoRun", "off", "--undo", "/no/such/folder/undo.reg"}));
    EXPECT_EQ(before, store_.Dump());
    EXPECT_NE(std::string::npos, console_.err.find("nothing was changed")) << console_.err;
}

// The prior state of a key tree, read and put back whole: every key
// (an empty one too) and every value, of any type.
TEST(PriorStateTree, ADeletedTreeComesBackWhole) {
    MemoryRegistryStore store;
    store.PutValue(kHkeyCurrentUser, std::string(kHistory) + "\\5603", "000", kRegSz, {'a', 0});
    store.PutValue(kHkeyCurrentUser, std::string(kHistory) + "\\5603", "MRU", kRegBinary, {0, 1, 2});
    store.PutValue(kHkeyCurrentUser, std::string(kHistory) + "\\5604\\Deep", "n", kRegDword, {9, 0, 0, 0});
    store.PutValue(kHkeyCurrentUser, std::string(kHistory) + "\\Empty", "x", kRegDword, {1, 0, 0, 0});
    {
        KeyHandle key = 0;
        ASSERT_EQ(kErrorSuccess, store.OpenKey(kHkeyCurrentUser, std::string(kHistory) + "\\Empty", kKeyAllAccess, &key));
        ASSERT_EQ(kErrorSuccess, store.DeleteValue(key, "x"));
        store.CloseKey(key);
    }
    const std::string before = store.Dump();
    PriorState prior;
    prior.Add(CatalogueRow(SettingId::SearchHistory));
    std::string error;
    ASSERT_TRUE(prior.Read(store, &error)) << error;
    FixedStore provider(store);
    CapturingConsole console;
    ASSERT_EQ(kExitOk, RunKestroctl({"clear-search-history"}, provider, console)) << console.err;
    ASSERT_FALSE(store.KeyExists(kHkeyCurrentUser, kHistory));
    const PutBackResult back = prior.PutBack(store);
    EXPECT_TRUE(back.failed.empty());
    EXPECT_EQ(before, store.Dump());
    EXPECT_EQ(0, store.OpenHandleCount());
}

}  // namespace
}  // namespace kestro::test
