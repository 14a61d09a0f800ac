// The registry cursor and the key-path walk.
#include "tests/engine_fixture.h"

namespace kestro::test {
namespace {

using CursorTest = EngineTest;
using ReadTest = EngineTest;
using WalkTest = EngineTest;
using RemoveTreeTest = EngineTest;

TEST_F(ReadTest, MissingPathReadsZeroAndLeavesItsKeysBehindEmpty) {
    EXPECT_EQ(0, Zfunctions::ReadDwordValue("Software\\Kestro\\Deep\\Level", "Absent"));
    EXPECT_TRUE(store_.KeyExists(kHkeyCurrentUser, "Software\\Kestro\\Deep\\Level"));
    EXPECT_FALSE(store_.GetValue(kHkeyCurrentUser, "Software\\Kestro\\Deep\\Level", "Absent", nullptr));
}

TEST_F(ReadTest, ValuesOfEachTypeAndSize) {
    PutDword(kHkeyCurrentUser, kExplorer, "NoRun", 1);
    EXPECT_EQ(1, Zfunctions::ReadDwordValue(kExplorer, "NoRun"));
    PutDword(kHkeyCurrentUser, kExplorer, "NoRun", 0xFFFFFFFF);
    EXPECT_EQ(-1, Zfunctions::ReadDwordValue(kExplorer, "NoRun"));

    auto read = [&] { Zfunctions::ReadDwordValue(kExplorer, "NoRun"); };
    PutText(kHkeyCurrentUser, kExplorer, "NoRun", "1");
    EXPECT_EQ("Invalid data type for 'NoRun'", ErrorOf(read));
    PutText(kHkeyCurrentUser, kExplorer, "NoRun", "123");  // four bytes with its zero: still fits
    EXPECT_EQ("Invalid data type for 'NoRun'", ErrorOf(read));
    PutText(kHkeyCurrentUser, kExplorer, "NoRun", "1234");
    EXPECT_EQ("Failed to get data for 'NoRun'", ErrorOf(read));
    store_.PutValue(kHkeyCurrentUser, kExplorer, "NoRun", kRegBinary, {1, 0, 0, 0});
    EXPECT_EQ("Invalid data type for 'NoRun'", ErrorOf(read));
    store_.PutValue(kHkeyCurrentUser, kExplorer, "NoRun", kRegBinary, {1, 0, 0, 0, 0});
    EXPECT_EQ("Failed to get data for 'NoRun'", ErrorOf(read));
    // A DWORD-typed value of two bytes is read as far as it goes.
    store_.PutValue(kHkeyCurrentUser, kExplorer, "NoRun", kRegDword, {5, 0});
    EXPECT_EQ(5, Zfunctions::ReadDwordValue(kExplorer, "NoRun"));
}

TEST_F(ReadTest, ReadAtAnotherRootNeitherReadsNorCreatesUnderCurrentUser) {
    const char* path = "SYSTEM\\CurrentControlSet\\Services\\Kestro";
    PutDword(kHkeyLocalMachine, path, "start", 4);
    PutDword(kHkeyCurrentUser, path, "start", 3);
    EXPECT_EQ(4, Zfunctions::ReadDwordValueAt(path, "start", kHkeyLocalMachine));
    EXPECT_EQ(0, Zfunctions::ReadDwordValueAt("SYSTEM\\Other", "start", kHkeyLocalMachine));
    EXPECT_TRUE(store_.KeyExists(kHkeyLocalMachine, "SYSTEM\\Other"));
    EXPECT_FALSE(store_.KeyExists(kHkeyCurrentUser, "SYSTEM\\Other"));
}

TEST_F(ReadTest, SyncPutsTheToggleDownForExactlyOne) {
    struct Case { const char* label; bool present; std::uint32_t value; bool down; };
    for (const Case& c : {Case{"one", true, 1, true}, Case{"zero", true, 0, false}, Case{"two", true, 2, false},
                          Case{"minus one", true, 0xFFFFFFFF, false}, Case{"absent", false, 0, false}}) {
        MemoryRegistryStore fresh;
        ScopedRegistryStore scope(fresh);
        if (c.present) fresh.PutValue(kHkeyCurrentUser, kExplorer, "NoFind", kRegDword, DwordBytes(c.value));
        FakeToggle toggle;
        toggle.SetDown(!c.down);
        Zfunctions::SyncButtonFromDwordValue(kExplorer, "NoFind", toggle);
        EXPECT_EQ(c.down, toggle.down()) << c.label;
    }
}

TEST_F(ReadTest, SyncLeavesTheToggleAloneWhenTheReadFails) {
    PutText(kHkeyCurrentUser, kExplorer, "NoFind", "1");
    FakeToggle toggle;
    toggle.SetDown(true);
    EXPECT_EQ("Invalid data type for 'NoFind'",
              ErrorOf([&] { Zfunctions::SyncButtonFromDwordValue(kExplorer, "NoFind", toggle); }));
    EXPECT_TRUE(toggle.down());
    EXPECT_EQ(1, toggle.sets());
}

TEST_F(CursorTest, PutsValuesWithTheirTypesAndBytes) {
    RegistryCursor cursor;
    ASSERT_TRUE(cursor.EnterKey("Kestro"));
    cursor.PutText("Empty", "");
    cursor.PutDword("Negative", -2);
    cursor.PutText("Replaced", "text");
    cursor.PutDword("Replaced", 7);
    StoredValue empty = Stored(store_, kHkeyCurrentUser, "Kestro", "Empty");
    EXPECT_EQ(kRegSz, empty.type);
    EXPECT_EQ(std::vector<std::uint8_t>{0}, empty.data);
    EXPECT_EQ((std::vector<std::uint8_t>{0xFE, 0xFF, 0xFF, 0xFF}),
              Stored(store_, kHkeyCurrentUser, "Kestro", "Negative").data);
    EXPECT_EQ(7, Dword(kHkeyCurrentUser, "Kestro", "Replaced"));
}

TEST_F(CursorTest, WithNoKeyOpenNothingIsReadOrWritten) {
    RegistryCursor cursor;
    EXPECT_FALSE(cursor.HasValue("V"));
    EXPECT_EQ("Failed to get data for 'V'", ErrorOf([&] { cursor.GetDword("V"); }));
    EXPECT_EQ("Failed to set data for 'V'", ErrorOf([&] { cursor.PutDword("V", 1); }));
    EXPECT_EQ("Failed to set data for 'T'", ErrorOf([&] { cursor.PutText("T", "x"); }));
}

TEST_F(CursorTest, SelectRootKeepsTheOpenKeyOnlyForTheSameRoot) {
    RegistryCursor cursor;
    ASSERT_TRUE(cursor.EnterKey("Kestro"));
    cursor.SelectRoot(kHkeyCurrentUser);
    EXPECT_TRUE(cursor.HasOpenKey());
    EXPECT_EQ(1, store_.OpenHandleCount());
    cursor.SelectRoot(kHkeyLocalMachine);
    EXPECT_FALSE(cursor.HasOpenKey());
    EXPECT_EQ(0, store_.OpenHandleCount());
    ASSERT_TRUE(cursor.EnterKey("Kestro"));
    cursor.PutDword("Where", 2);
    EXPECT_EQ(2, Dword(kHkeyLocalMachine, "Kestro", "Where"));
}

TEST_F(CursorTest, AFailedEnterChangesNothing) {
    store_.Deny(kHkeyCurrentUser, "Kestro\\Denied");
    RegistryCursor cursor;
    ASSERT_TRUE(cursor.EnterKey("Kestro"));
    EXPECT_FALSE(cursor.EnterKey("Denied"));
    cursor.PutDword("StillHere", 1);  // the cursor stands where it stood
    EXPECT_EQ(1, Dword(kHkeyCurrentUser, "Kestro", "StillHere"));
    EXPECT_EQ(1, store_.OpenHandleCount());
}

TEST_F(CursorTest, ReleasingTheCursorClosesItsKey) {
    {
        RegistryCursor cursor;
        Zfunctions::OpenKeyPath(cursor, "A\\B\\C");
        EXPECT_EQ(1, store_.OpenHandleCount());  // each level replaced the one above
    }
    EXPECT_EQ(0, store_.OpenHandleCount());
}

TEST_F(WalkTest, EmptyNamesStayOnTheSameKey) {
    for (const char* path : {"Kestro\\\\Walk", "Kestro\\Walk\\", "\\Kestro\\Walk", "Kestro\\\\\\Walk\\\\"}) {
        Zfunctions::WriteDwordValue(path, "Marker", 5);
        EXPECT_EQ(5, Dword(kHkeyCurrentUser, "Kestro\\Walk", "Marker")) << path;
        EXPECT_EQ(5, Zfunctions::ReadDwordValue(path, "Marker")) << path;
        PutDword(kHkeyCurrentUser, "Kestro\\Walk", "Marker", 0);
    }
    std::string dump = store_.Dump();
    EXPECT_EQ(std::string::npos, dump.find("\\\\")) << dump;  // no key with an empty name
    EXPECT_EQ(std::string::npos, dump.find("\\]")) << dump;
}

TEST_F(WalkTest, ADeniedLevelStopsTheWalkAndNothingElseIsTouched) {
    store_.Deny(kHkeyLocalMachine, "SYSTEM\\CurrentControlSet");
    store_.PutValue(kHkeyLocalMachine, "SYSTEM", "start", kRegDword, DwordBytes(9));
    const std::string before = store_.Dump();

    const char* path = "SYSTEM\\CurrentControlSet\\Services\\CDRom";
    EXPECT_EQ(0, Zfunctions::ReadDwordValueAt(path, "start", kHkeyLocalMachine));
    EXPECT_EQ("Failed to set data for 'AutoRun'", ErrorOf([] { Zfunctions::SetCdromAutoRun(1); }));
    EXPECT_EQ(before, store_.Dump());

    RegistryCursor cursor;
    cursor.SelectRoot(kHkeyLocalMachine);
    Zfunctions::OpenKeyPath(cursor, "SYSTEM\\CurrentControlSet\\Control");
    EXPECT_TRUE(cursor.IsStranded());
    EXPECT_FALSE(cursor.HasValue("start"));  // not the value of "SYSTEM" above the denied level
    EXPECT_FALSE(cursor.RemoveKeyTree("Control"));
    EXPECT_FALSE(cursor.EnterKey("Services"));
    cursor.SelectRoot(kHkeyCurrentUser);
    EXPECT_TRUE(cursor.EnterKey("Kestro"));  // a new root starts afresh
}

TEST_F(WalkTest, KeysCreatedBeforeADeniedLevelRemain) {
    store_.Deny(kHkeyCurrentUser, "Software\\Locked");
    EXPECT_EQ("Failed to set data for 'V'",
              ErrorOf([] { Zfunctions::WriteDwordValue("Software\\Locked\\Below", "V", 1); }));
    EXPECT_TRUE(store_.KeyExists(kHkeyCurrentUser, "Software"));
    EXPECT_FALSE(store_.KeyExists(kHkeyCurrentUser, "Software\\Locked"));
}

TEST_F(RemoveTreeTest, RemovesATreeTwoLevelsDeepWithItsValues) {
    const char* base = "Software\\Microsoft\\Search Assistant";
    PutText(kHkeyCurrentUser, std::string(base) + "\\ACMru", "a", "x");
    PutText(kHkeyCurrentUser, std::string(base) + "\\ACMru\\5001", "000", "first search");
    PutText(kHkeyCurrentUser, std::string(base) + "\\ACMru\\5001\\Deeper", "001", "second");
    PutText(kHkeyCurrentUser, std::string(base) + "\\ACMru\\5603", "000", "third");
    PutText(kHkeyCurrentUser, base, "Sibling", "stays");

    RegistryCursor cursor;
    Zfunctions::OpenKeyPath(cursor, base);
    EXPECT_TRUE(cursor.RemoveKeyTree("acmru"));
    EXPECT_FALSE(store_.KeyExists(kHkeyCurrentUser, std::string(base) + "\\ACMru"));
    EXPECT_TRUE(Stored(store_, kHkeyCurrentUser, base, "Sibling").present);
    EXPECT_TRUE(cursor.HasValue("Sibling"));  // back on the key it stood on
    EXPECT_FALSE(cursor.RemoveKeyTree("ACMru"));
}

TEST_F(RemoveTreeTest, AKeyThatCannotGoMakesTheResultFalse) {
    PutText(kHkeyCurrentUser, "Tree\\Keep\\Locked", "v", "x");
    PutText(kHkeyCurrentUser, "Tree\\Keep\\Free", "v", "x");
    store_.Deny(kHkeyCurrentUser, "Tree\\Keep\\Locked");
    RegistryCursor cursor;
    EXPECT_FALSE(cursor.RemoveKeyTree("Tree"));
    EXPECT_TRUE(store_.KeyExists(kHkeyCurrentUser, "Tree\\Keep\\Locked"));
    EXPECT_FALSE(store_.KeyExists(kHkeyCurrentUser, "Tree\\Keep\\Free"));
}

}  // namespace
}  // namespace kestro::test
