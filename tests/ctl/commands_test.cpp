// The console tool's commands on the in-memory registry: what each one
// stores, reads and prints, and that a refused command writes nothing.
#include "ctl/commands.h"
#include "ctl/current_state.h"
#include "ctl/profile.h"
#include "ctl/setting_value.h"
#include "ctl/writes.h"
#include "formats/layout.h"
#include "registry/memory_registry.h"
#include "tests/ctl/ctl_fakes.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include <unistd.h>

namespace kestro::test {
namespace {

constexpr const char* kExplorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr const char* kCdrom = "SYSTEM\\CurrentControlSet\\Services\\CDRom";
constexpr const char* kUsb = "system\\currentcontrolset\\services\\usbstor";

class CommandsTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(0, store_.OpenHandleCount()) << "a handle was left open";
        for (const std::string& file : files_) std::remove(file.c_str());
    }

    int Run(std::vector<std::string> arguments, MemoryRegistryStore* store = nullptr) {
        console_ = CapturingConsole();
        FixedStore provider(store ? *store : store_);
        return RunKestroctl(arguments, provider, console_);
    }

    std::string TempFile(const std::string& contents) {
        std::string path = "kestroctl-test-" + std::to_string(getpid()) + "-" + std::to_string(files_.size()) + ".ini";
        files_.push_back(path);
        if (!contents.empty()) std::ofstream(path, std::ios::binary) << contents;
        return path;
    }

    static std::int64_t Dword(const MemoryRegistryStore& store, KeyHandle root, const std::string& path,
                              const std::string& name) {
        MemoryRegistryStore::Value value;
        if (!store.GetValue(root, path, name, &value)) return -1000;  // absent
        if (value.type != kRegDword || value.data.size() != 4) return -2000;
        return static_cast<std::int32_t>(value.data[0] | value.data[1] << 8 | value.data[2] << 16 |
                                         static_cast<std::uint32_t>(value.data[3]) << 24);
    }
    std::int64_t Dword(KeyHandle root, const std::string& path, const std::string& name) const {
        return Dword(store_, root, path, name);
    }

    MemoryRegistryStore store_;
    CapturingConsole console_;
    std::vector<std::string> files_;
};

TEST_F(CommandsTest, SetStoresWhatTheWindowsButtonStoresAndGetReadsItBack) {
    ASSERT_EQ(kExitOk, Run({"set", "norun", "on"}));
    EXPECT_EQ(1, Dword(kHkeyCurrentUser, kExplorer, "NoRun"));
    ASSERT_EQ(kExitOk, Run({"get", "NoRun"}));
    EXPECT_EQ("on\n", console_.out);

    // "on" is the button down: autorun off stores AutoRun = 0, a device off
    // its start type 4, and off again 3.
    ASSERT_EQ(kExitOk, Run({"set", "CdAutorunOff", "on"}));
    EXPECT_EQ(0, Dword(kHkeyLocalMachine, kCdrom, "AutoRun"));
    ASSERT_EQ(kExitOk, Run({"set", "UsbStorageOff", "on"}));
    EXPECT_EQ(4, Dword(kHkeyLocalMachine, kUsb, "start"));
    ASSERT_EQ(kExitOk, Run({"set", "UsbStorageOff", "off"}));
    EXPECT_EQ(3, Dword(kHkeyLocalMachine, kUsb, "start"));
    ASSERT_EQ(kExitOk, Run({"get", "usbstorageoff"}));
    EXPECT_EQ("off\n", console_.out);

    // Font smoothing where and as Windows keeps it.
    const char* desktop = "Control Panel\\Desktop";
    ASSERT_EQ(kExitOk, Run({"set", "FontSmoothing", "on"}));
    MemoryRegistryStore::Value smoothing;
    ASSERT_TRUE(store_.GetValueW(kHkeyCurrentUser, desktop, "FontSmoothing", &smoothing));
    EXPECT_EQ(kRegSz, smoothing.type);
    EXPECT_EQ((std::vector<std::uint8_t>{'2', 0, 0, 0}), smoothing.data);  // UTF-16 with its zero
    EXPECT_EQ(2, Dword(kHkeyCurrentUser, desktop, "FontSmoothingType"));
    EXPECT_EQ(1, Dword(kHkeyCurrentUser, desktop, "FontSmoothingOrientation"));
    ASSERT_EQ(kExitOk, Run({"get", "FontSmoothing"}));
    EXPECT_EQ("on\n", console_.out);
    ASSERT_EQ(kExitOk, Run({"set", "FontSmoothing", "off"}));
    ASSERT_TRUE(store_.GetValueW(kHkeyCurrentUser, desktop, "FontSmoothing", &smoothing));
    EXPECT_EQ((std::vector<std::uint8_t>{'0', 0, 0, 0}), smoothing.data);
    ASSERT_EQ(kExitOk, Run({"get", "FontSmoothing"}));
    EXPECT_EQ("off\n", console_.out);
    EXPECT_FALSE(store_.KeyExists(kHkeyCurrentUser, "DEFAULT"));

    ASSERT_EQ(kExitOk, Run({"set", "MaxRecentDocs", "-1"}));
    EXPECT_EQ(-1, Dword(kHkeyCurrentUser, kExplorer, "MaxRecentDocs"));
    ASSERT_EQ(kExitOk, Run({"set", "RecycleBinName", "Корзина класса"}));
    MemoryRegistryStore::Value stored;
    ASSERT_TRUE(store_.GetValueW(kHkeyClassesRoot, "CLSID\\{645FF040-5081-101B-9F08-00AA002F954E}", "LocalizedString",
                                 &stored));
    EXPECT_EQ(kRegSz, stored.type);
    EXPECT_EQ((std::vector<std::uint8_t>{0x1A, 0x04, 0x3E, 0x04}), std::vector<std::uint8_t>(stored.data.begin(), stored.data.begin() + 4));
    ASSERT_EQ(kExitOk, Run({"get", "RecycleBinName"}));
    EXPECT_EQ("Корзина класса\n", console_.out);
}

TEST_F(CommandsTest, RefusedCommandLinesWriteNothingAndExitTwo) {
    store_.PutValue(kHkeyCurrentUser, kExplorer, "NoRun", kRegDword, {1, 0, 0, 0});
    const std::string before = store_.Dump();
    struct Case {
        std::vector<std::string> arguments;
        const char* words;
    };
    const Case cases[] = {
        {{"set", "NoSuchThing", "on"}, "unknown setting 'NoSuchThing'"},
        {{"set", "NoRun", "maybe"}, "give on or off"},
        {{"set", "MaxRecentDocs", "ten"}, "whole number"},
        {{"set", "SearchHistory", "on"}, "clear-search-history"},
        {{"set", "Wallpaper", "/no/such/file.bmp"}, "no such file: /no/such/file.bmp"},
        {{"set", "NoRun"}, "VALUE is required"},
        {{"get", "NoSuchThing"}, "unknown setting"},
        {{"frobnicate"}, "unknown command 'frobnicate'"},
        {{}, "kestroctl --help"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(kExitUsage, Run(c.arguments)) << c.words;
        EXPECT_NE(std::string::npos, console_.err.find(c.words)) << console_.err;
    }
    EXPECT_EQ(before, store_.Dump());
}

TEST_F(CommandsTest, ADeniedWriteExitsOneWithTheEnginesMessage) {
    store_.Deny(kHkeyLocalMachine, "");
    EXPECT_EQ(kExitFailed, Run({"set", "UsbStorageOff", "on"}));
    EXPECT_EQ("kestroctl: UsbStorageOff: Failed to set data for 'start'\n"
              "kestroctl: nothing was changed: what was written before the failure was put back\n",
              console_.err);
}

TEST_F(CommandsTest, ADeniedFontSmoothingKeyIsUnreadableNotOff) {
    // A profile saved from it must not say "off", or applying it would turn
    // smoothing off.
    store_.PutValueW(kHkeyCurrentUser, "Control Panel\\Desktop", "FontSmoothing", kRegSz, {'2', 0, 0, 0});
    store_.Deny(kHkeyCurrentUser, "Control Panel\\Desktop");
    EXPECT_EQ(kExitFailed, Run({"get", "FontSmoothing"}));
    EXPECT_EQ("kestroctl: FontSmoothing: Failed to get data for 'FontSmoothing' (access denied)\n", console_.err);
}

TEST_F(CommandsTest, ListCreatesNoKeyAndShowsAWrongTypedValueAndGoesOn) {
    const std::string empty = store_.Dump();
    ASSERT_EQ(kExitOk, Run({"list"}));
    EXPECT_EQ(empty, store_.Dump()) << "reading created keys or values";
    EXPECT_NE(std::string::npos, console_.out.find("CdAutorunOff")) << console_.out;

    store_.PutValue(kHkeyCurrentUser, kExplorer, "NoRun", kRegSz, {'1', 0});
    store_.PutValue(kHkeyCurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System",
                    "DisableRegistryTools", kRegDword, {1, 0, 0, 0});
    const std::string before = store_.Dump();
    ASSERT_EQ(kExitOk, Run({"list"}));
    EXPECT_EQ(before, store_.Dump());
    std::istringstream lines(console_.out);
    std::string line, noRun, tools;
    while (std::getline(lines, line)) {
        if (line.rfind("NoRun ", 0) == 0) noRun = line;
        if (line.rfind("DisableRegistryTools ", 0) == 0) tools = line;
    }
    EXPECT_NE(std::string::npos, noRun.find("wrong type: NoRun is REG_SZ, not REG_DWORD")) << noRun;
    EXPECT_NE(std::string::npos, tools.find(" on ")) << tools;
    EXPECT_NE(std::string::npos, tools.find("запрет входа в реестр")) << tools;

    EXPECT_EQ(kExitFailed, Run({"get", "NoRun"}));
    EXPECT_NE(std::string::npos, console_.err.find("Invalid data type for 'NoRun'")) << console_.err;
}

TEST_F(CommandsTest, ListAsJsonDescribesEverySetting) {
    store_.PutValue(kHkeyLocalMachine, kCdrom, "AutoRun", kRegDword, {1, 0, 0, 0});
    ASSERT_EQ(kExitOk, Run({"list", "--json"}));
    EXPECT_EQ("", console_.out);
    const nlohmann::json list = nlohmann::json::parse(console_.json);
    ASSERT_TRUE(list.is_array());
    EXPECT_EQ(kSettingCount - 1, list.size()) << "every setting but the search-history action";
    std::map<std::string, nlohmann::json> byName;
    for (const auto& item : list) {
        byName[item["name"]] = item;
        EXPECT_FALSE(item["caption"].get<std::string>().empty()) << item["name"];
    }
    EXPECT_EQ("off", byName["CdAutorunOff"]["value"]);
    EXPECT_EQ("off", byName["LastAccessUpdateOff"]["value"]);
    EXPECT_EQ("machine", byName["CdAutorunOff"]["scope"]);
    EXPECT_EQ(true, byName["CdAutorunOff"]["admin"]);
    EXPECT_EQ("restart", byName["CdAutorunOff"]["effect"]);
    EXPECT_EQ("user", byName["DisableTaskMgr"]["scope"]);
    EXPECT_EQ("program", byName["DisableTaskMgr"]["effect"]);
    EXPECT_EQ(0, byName["MaxRecentDocs"]["value"]);
    EXPECT_EQ("Количество документов в ПУСК->Документы", byName["MaxRecentDocs"]["caption"]);
    EXPECT_EQ("not-set", byName["Wallpaper"]["status"]);
    EXPECT_TRUE(byName["Wallpaper"]["value"].is_null());
}

TEST_F(CommandsTest, AProfileBeyondTheLimitsIsRefusedWithExitTwoAndNothingWritten) {
    const std::string before = store_.Dump();
    // Past the size limit, even when all of it is comment: refused as read.
    const std::string big = TempFile("[Kestro]\nNoRun = on\n" + std::string(kMaxProfileBytes, ';') + "\n");
    EXPECT_EQ(kExitUsage, Run({"apply", big}));
    EXPECT_NE(std::string::npos, console_.err.find("cannot read " + big + ": the file is larger than 65536 bytes"))
        << console_.err;
    const std::string line = TempFile("[Kestro]\nNoRun = on\n;" + std::string(kMaxProfileLineBytes, 'x') + "\n");
    EXPECT_EQ(kExitUsage, Run({"apply", line}));
    EXPECT_NE(std::string::npos, console_.err.find(line + ":3: the line is longer than 16384 bytes")) << console_.err;
    const std::string text =
        TempFile("[Kestro]\nNoRun = on\nRecycleBinName = " + std::string(kMaxProfileTextChars + 1, 'x') + "\n");
    EXPECT_EQ(kExitUsage, Run({"apply", text}));
    EXPECT_NE(std::string::npos, console_.err.find(text + ":3: the value of RecycleBinName is longer than 4096"))
        << console_.err;
    EXPECT_EQ(before, store_.Dump());

    // At the limits themselves a profile is taken.
    const std::string longest =
        TempFile("[Kestro]\nRecycleBinName = \"" + std::string(kMaxProfileTextChars, 'x') + "\"\n");
    EXPECT_EQ(kExitOk, Run({"apply", longest})) << console_.err;
}

TEST_F(CommandsTest, ExportedFilesBeyondTheLimitsAreRefusedWithExitTwoAndNothingWritten) {
    const std::string before = store_.Dump();
    const std::string stem = "kestroctl-test-" + std::to_string(getpid());
    const std::string reg = stem + "-big.reg", pol = stem + "-deep.pol";
    files_.push_back(reg);
    files_.push_back(pol);
    std::ofstream(reg, std::ios::binary) << "\xFF\xFE" << std::string(layout::kMaxFileBytes, ' ');
    EXPECT_EQ(kExitUsage, Run({"apply", reg}));
    EXPECT_NE(std::string::npos, console_.err.find("larger than 1048576 bytes")) << console_.err;

    // One entry whose key path is one level deeper than the readers take.
    std::u16string key = u"k";
    for (std::size_t i = 1; i <= layout::kMaxKeyDepth; ++i) key += u"\\k";
    std::string bytes = std::string("PReg\x01\0\0\0", 8);
    auto put = [&](const std::u16string& text) {
        for (char16_t c : text) bytes += std::string{static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    };
    put(u"[" + key + std::u16string(1, u'\0') + u";NoRun" + std::u16string(1, u'\0') + u";");
    bytes += std::string("\x04\0\0\0", 4);
    put(u";");
    bytes += std::string("\x04\0\0\0", 4);
    put(u";");
    bytes += std::string("\x01\0\0\0", 4);
    put(u"]");
    std::ofstream(pol, std::ios::binary) << bytes;
    EXPECT_EQ(kExitUsage, Run({"apply", pol, "--scope", "user"}));
    EXPECT_NE(std::string::npos, console_.err.find("deeper than 32 levels")) << console_.err;
    EXPECT_EQ(before, store_.Dump());
}

TEST_F(CommandsTest, ApplyChecksTheWholeProfileBeforeWriting) {
    const std::string before = store_.Dump();
    const std::string bad = TempFile("[Kestro]\nNoRun = on\nNoFind = on\nMaxRecentDocs = lots\n");
    EXPECT_EQ(kExitUsage, Run({"apply", bad}));
    EXPECT_NE(std::string::npos, console_.err.find(bad + ":4: ")) << console_.err;
    const std::string unknown = TempFile("[Kestro]\nNoRun = on\nNoSuch = on\n");
    EXPECT_EQ(kExitUsage, Run({"apply", unknown}));
    EXPECT_NE(std::string::npos, console_.err.find(unknown + ":3: unknown setting 'NoSuch'")) << console_.err;
    const std::string wallpaper = TempFile("[Kestro]\nNoRun = on\nWallpaper = /no/such.bmp\n");
    EXPECT_EQ(kExitUsage, Run({"apply", wallpaper}));
    EXPECT_NE(std::string::npos, console_.err.find(wallpaper + ":3: Wallpaper: no such file")) << console_.err;
    EXPECT_EQ(kExitUsage, Run({"apply", "/no/such/profile.ini"}));
    EXPECT_NE(std::string::npos, console_.err.find("cannot read /no/such/profile.ini")) << console_.err;
    EXPECT_EQ(before, store_.Dump());
}

TEST_F(CommandsTest, DryRunSaysWhatWouldChangeAndWritesNothing) {
    store_.PutValue(kHkeyCurrentUser, kExplorer, "NoRun", kRegDword, {1, 0, 0, 0});
    const std::string before = store_.Dump();
    const std::string profile = TempFile("[Kestro]\nNoRun = on\nNoFind = on\nMaxRecentDocs = 7\n");
    ASSERT_EQ(kExitOk, Run({"apply", profile, "--dry-run"}));
    EXPECT_EQ("NoFind: off -> on\nMaxRecentDocs: 0 -> 7\n2 of 3 settings would change; nothing was written\n",
              console_.out);
    EXPECT_EQ(before, store_.Dump());
}

TEST_F(CommandsTest, ApplyStopsAtTheFirstFailureAndPutsBackWhatItWrote) {
    store_.Deny(kHkeyLocalMachine, "");
    const std::string profile =
        TempFile("[Kestro]\nNoRun = on\nUsbStorageOff = on\nCdAutorunOff = on\nMaxRecentDocs = 9\n");
    const std::string before = store_.Dump();
    EXPECT_EQ(kExitFailed, Run({"apply", profile}));
    EXPECT_EQ(before, store_.Dump());
    EXPECT_NE(std::string::npos, console_.err.find(profile + ":3: UsbStorageOff: Failed to set data for 'start'"));
    EXPECT_EQ(std::string::npos, console_.err.find("CdAutorunOff")) << "the entries after the failure were tried";
    EXPECT_NE(std::string::npos, console_.err.find("nothing was changed")) << console_.err;
}

TEST_F(CommandsTest, SaveThenApplyOnAnotherMachineGivesTheSameValues) {
    for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
             {"NoRun", "on"}, {"DisableTaskMgr", "on"}, {"CdAutorunOff", "on"}, {"LastAccessUpdateOff", "on"},
             {"FontSmoothing", "on"}, {"FloppyOff", "on"}, {"UsbStorageOff", "off"}, {"MaxRecentDocs", "-5"},
             {"RecycleBinName", "  Bin  "}, {"RecycleBinInfoTip", ""}})
        ASSERT_EQ(kExitOk, Run({"set", name, value})) << name << console_.err;
    const std::string profile = TempFile("");
    ASSERT_EQ(kExitOk, Run({"save", profile})) << console_.err;

    MemoryRegistryStore other;
    ASSERT_EQ(kExitOk, Run({"apply", profile}, &other)) << console_.err;
    for (const Setting& row : kCatalogue) {
        if (!row.HasState()) continue;
        const SettingState here = ReadSettingState(store_, row), there = ReadSettingState(other, row);
        EXPECT_EQ(here.status, there.status) << row.name;
        EXPECT_EQ(here.value, there.value) << row.name;
    }
    // The values set above are stored alike, byte for byte.
    Profile mine, theirs;
    std::vector<std::string> notes;
    CurrentProfile(store_, &mine, &notes);
    for (const RegValue& value : RegistryValuesFor(mine)) {
        MemoryRegistryStore::Value stored;
        if (!store_.GetValue(value.root, value.keyPath, value.name, &stored)) continue;  // absent here: off
        MemoryRegistryStore::Value copied;
        ASSERT_TRUE(other.GetValue(value.root, value.keyPath, value.name, &copied)) << value.name;
        EXPECT_EQ(stored.type, copied.type) << value.name;
        EXPECT_EQ(stored.data, copied.data) << value.name;
    }
    EXPECT_EQ(0, other.OpenHandleCount());
}

TEST_F(CommandsTest, SaveLeavesNoPartialFileWhenItCannotWrite) {
    EXPECT_EQ(kExitFailed, Run({"save", "/no/such/folder/profile.ini"}));
    EXPECT_NE(std::string::npos, console_.err.find("cannot write /no/such/folder/profile.ini")) << console_.err;

    // An unreadable value is said, and the rest is saved.
    store_.PutValue(kHkeyCurrentUser, kExplorer, "NoFind", kRegBinary, {1});
    const std::string profile = TempFile("");
    EXPECT_EQ(kExitFailed, Run({"save", profile}));
    EXPECT_NE(std::string::npos, console_.err.find("NoFind is left out: NoFind is REG_BINARY")) << console_.err;
    std::ifstream in(profile, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(std::string::npos, text.find("NoRun = default\r\n")) << "absent";
    EXPECT_EQ(std::string::npos, text.find("NoFind ="));
}

// A setting none of whose values is stored is saved as "default", and
// applying "default" deletes its values, so that Windows' own default
// applies again: a save on a fresh machine, applied after changes, gives
// that machine back. "default" is a word of the profile; a text of that
// word is quoted.
TEST_F(CommandsTest, DefaultIsSavedForAbsentValuesAndAppliedAsTheirRemoval) {
    const std::string fresh = store_.Dump();
    const std::string profile = TempFile("");
    ASSERT_EQ(kExitOk, Run({"save", profile})) << console_.err;
    std::ifstream in(profile, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const char* line : {"NoRun = default\r\n", "MaxRecentDocs = default\r\n", "CdromOff = default\r\n",
                             "FontSmoothing = default\r\n", "RecycleBinName = default\r\n"})
        EXPECT_NE(std::string::npos, text.find(line)) << line << text;

    ASSERT_EQ(kExitOk, Run({"apply", TempFile("[Kestro]\nNoRun = on\nMaxRecentDocs = 4\nCdromOff = on\n"
                                              "FontSmoothing = on\nRecycleBinName = \"default\"\n")}))
        << console_.err;
    ASSERT_EQ(kExitOk, Run({"get", "RecycleBinName"}));
    EXPECT_EQ("default\n", console_.out) << "the quoted word is a text";
    ASSERT_EQ(kExitOk, Run({"apply", profile, "--dry-run"}));
    EXPECT_NE(std::string::npos, console_.out.find("NoRun: on -> default")) << console_.out;
    EXPECT_EQ(std::string::npos, console_.out.find("NoFind")) << "absent already: no change";
    ASSERT_EQ(kExitOk, Run({"apply", profile})) << console_.err;
    // Every value gone again; the keys the writes made stay, as regedit's do.
    std::istringstream dump(store_.Dump());
    std::string line;
    while (std::getline(dump, line)) EXPECT_EQ('[', line[0]) << "a value is left: " << line;
    EXPECT_NE(fresh, store_.Dump());
}

// --scope: save and export keep only the user's or only the machine's
// settings, so that a logon script applies a profile with no setting its
// user may not write.
TEST_F(CommandsTest, ScopeKeepsOnlyTheUsersOrTheMachinesSettings) {
    const std::string user = TempFile(""), machine = TempFile("");
    ASSERT_EQ(kExitOk, Run({"save", user, "--scope", "user"})) << console_.err;
    ASSERT_EQ(kExitOk, Run({"save", machine, "--scope", "machine"})) << console_.err;
    Profile users, machines;
    ProfileError error;
    std::ifstream u(user, std::ios::binary), m(machine, std::ios::binary);
    ASSERT_TRUE(ReadProfile(std::string(std::istreambuf_iterator<char>(u), {}), &users, &error)) << error.message;
    ASSERT_TRUE(ReadProfile(std::string(std::istreambuf_iterator<char>(m), {}), &machines, &error)) << error.message;
    std::size_t states = 0;
    for (const Setting& row : kCatalogue) states += row.HasState() ? 1 : 0;
    EXPECT_EQ(states, users.entries.size() + machines.entries.size());
    for (const ProfileEntry& entry : users.entries) EXPECT_FALSE(entry.row->IsMachineWide()) << entry.row->name;
    for (const ProfileEntry& entry : machines.entries) EXPECT_TRUE(entry.row->IsMachineWide()) << entry.row->name;

    // A user without rights to the machine's keys applies the user's part.
    store_.Deny(kHkeyLocalMachine, "");
    store_.Deny(kHkeyClassesRoot, "");
    const std::string both = TempFile("[Kestro]\nNoRun = on\nCdromOff = on\n");
    EXPECT_EQ(kExitOk, Run({"export", "reg", TempFile(""), "--profile", both, "--scope", "user"})) << console_.err;
    EXPECT_EQ(kExitOk, Run({"apply", user})) << console_.err;
    EXPECT_EQ(kExitUsage, Run({"save", user, "--scope", "everyone"}));
}

// A machine without a wallpaper keeps the empty text (XP's "(None)"):
// save, then apply of what it saved, is the way back there too.
TEST_F(CommandsTest, NoWallpaperIsTheEmptyTextAndSurvivesSaveAndApply) {
    const char* desktop = "Control Panel\\Desktop";
    const MemoryRegistryStore::Value none{kRegSz, {0, 0}};
    store_.PutValueW(kHkeyCurrentUser, desktop, "Wallpaper", none.type, none.data);
    const std::string profile = TempFile("");
    ASSERT_EQ(kExitOk, Run({"save", profile})) << console_.err;
    std::ifstream in(profile, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(std::string::npos, text.find("Wallpaper = \"\"\r\n")) << text;

    ASSERT_EQ(kExitOk, Run({"apply", profile, "--dry-run"})) << console_.err;
    EXPECT_EQ(std::string::npos, console_.out.find("Wallpaper:")) << "no change: " << console_.out;
    ASSERT_EQ(kExitOk, Run({"apply", profile})) << console_.err;
    MemoryRegistryStore::Value stored;
    ASSERT_TRUE(store_.GetValueW(kHkeyCurrentUser, desktop, "Wallpaper", &stored));
    EXPECT_EQ(none.type, stored.type);
    EXPECT_EQ(none.data, stored.data);

    // From a wallpaper back to none, by the profile and by set.
    const std::string picture = TempFile("not a picture, but a file");
    ASSERT_EQ(kExitOk, Run({"set", "Wallpaper", picture})) << console_.err;
    ASSERT_EQ(kExitOk, Run({"apply", profile})) << console_.err;
    ASSERT_TRUE(store_.GetValueW(kHkeyCurrentUser, desktop, "Wallpaper", &stored));
    EXPECT_EQ(none.type, stored.type);
    EXPECT_EQ(none.data, stored.data);
    ASSERT_EQ(kExitOk, Run({"set", "Wallpaper", picture})) << console_.err;
    ASSERT_EQ(kExitOk, Run({"set", "Wallpaper", ""})) << console_.err;
    ASSERT_TRUE(store_.GetValueW(kHkeyCurrentUser, desktop, "Wallpaper", &stored));
    EXPECT_EQ(none.data, stored.data);
    ASSERT_EQ(kExitOk, Run({"get", "Wallpaper"}));
    EXPECT_EQ("\n", console_.out);
}

TEST(RegistryValues, AreWhatTheWritersStore) {
    Profile profile;
    profile.entries = {
        {FindSettingByName("CdAutorunOff"), SettingValue::Toggle(true), 0},
        {FindSettingByName("FontSmoothing"), SettingValue::Toggle(true), 0},
        {FindSettingByName("ParallelPortOff"), SettingValue::Toggle(false), 0},
        {FindSettingByName("RecycleBinName"), SettingValue::Text(L"Bin"), 0},
    };
    const std::vector<RegValue> values = RegistryValuesFor(profile);
    ASSERT_EQ(6u, values.size());
    EXPECT_EQ("AutoRun", values[0].name);
    EXPECT_EQ(kHkeyLocalMachine, values[0].root);
    EXPECT_EQ((std::vector<std::uint8_t>{0, 0, 0, 0}), values[0].data);
    EXPECT_EQ("FontSmoothingOrientation", values[3].name);
    EXPECT_EQ((std::vector<std::uint8_t>{1, 0, 0, 0}), values[3].data);
    EXPECT_EQ((std::vector<std::uint8_t>{3, 0, 0, 0}), values[4].data);
    EXPECT_EQ(kHkeyClassesRoot, values[5].root);
    EXPECT_EQ(kRegSz, values[5].type);
    EXPECT_EQ((std::vector<std::uint8_t>{'B', 0, 'i', 0, 'n', 0, 0, 0}), values[5].data);
}

TEST(RegistryValues, KeepTextsAsUtf16) {
    Profile profile;
    profile.entries = {{FindSettingByName("RecycleBinInfoTip"), SettingValue::Text(L"Ёж \U0001F600"), 0}};
    const std::vector<RegValue> values = RegistryValuesFor(profile);
    ASSERT_EQ(1u, values.size());
    EXPECT_EQ((std::vector<std::uint8_t>{0x01, 0x04, 0x36, 0x04, ' ', 0, 0x3D, 0xD8, 0x00, 0xDE, 0, 0}), values[0].data);
}

}  // namespace
}  // namespace kestro::test
