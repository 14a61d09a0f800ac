// The notification after a command wrote to the live registry: whose values
// a run changed, decided over the in-memory store, and when a broadcast is
// asked for at all. The broadcast itself is checked under Wine
// (kestroctl_wine.sh notify).
#include "ctl/commands.h"
#include "ctl/notify.h"
#include "registry/memory_registry.h"
#include "tests/ctl/ctl_fakes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include <unistd.h>

namespace kestro::test {
namespace {

constexpr const char* kExplorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr const char* kHistory = "Software\\Microsoft\\Search Assistant\\ACMru\\5603";

// "machine user" as the broadcaster was asked, one entry per call.
class RecordingBroadcaster final : public PolicyBroadcaster {
public:
    void Broadcast(const WrittenScopes& written) override {
        calls.push_back(std::string(written.machine ? "machine" : "") + (written.machine && written.user ? " " : "") +
                        (written.user ? "user" : ""));
    }
    std::vector<std::string> calls;
};

// The running system's provider as kestroctl.exe has it: one store, and
// someone to tell.
class LiveStore final : public StoreProvider {
public:
    LiveStore(RegistryStore& store, PolicyBroadcaster& broadcaster) : store_(store), broadcaster_(broadcaster) {}
    RegistryStore* Open(const StoreUse&, std::string*, int*) override { return &store_; }
    PolicyBroadcaster* Broadcaster() override { return &broadcaster_; }

private:
    RegistryStore& store_;
    PolicyBroadcaster& broadcaster_;
};

using Calls = std::vector<std::string>;

class NotifyTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(0, store_.OpenHandleCount());
        for (const std::string& file : files_) std::remove(file.c_str());
    }

    // What the broadcaster was asked after one command.
    Calls Run(std::vector<std::string> arguments, int expectedCode) {
        RecordingBroadcaster broadcaster;
        LiveStore provider(store_, broadcaster);
        CapturingConsole console;
        EXPECT_EQ(expectedCode, RunKestroctl(arguments, provider, console)) << console.err;
        return broadcaster.calls;
    }

    std::string Profile(const std::string& contents) {
        std::string path = "kestroctl-notify-" + std::to_string(getpid()) + "-" + std::to_string(files_.size()) + ".ini";
        files_.push_back(path);
        std::ofstream(path, std::ios::binary) << contents;
        return path;
    }

    MemoryRegistryStore store_;
    std::vector<std::string> files_;
};

TEST_F(NotifyTest, EachScopeWrittenIsToldOnceAfterTheRun) {
    EXPECT_EQ(Calls{"user"}, Run({"set", "NoRun", "on"}, kExitOk));
    EXPECT_EQ(Calls{"machine"}, Run({"set", "UsbStorageOff", "on"}, kExitOk));
    // HKEY_CLASSES_ROOT is the machine's.
    EXPECT_EQ(Calls{"machine"}, Run({"set", "RecycleBinName", "Корзина"}, kExitOk));
    // A whole profile: one call, both scopes.
    const std::string both = Profile("[Kestro]\nNoRun = off\nNoFind = on\nCdromOff = on\nMaxRecentDocs = 4\n");
    EXPECT_EQ(Calls{"machine user"}, Run({"apply", both}, kExitOk));
    // Writing a value that is already so is still a write the system is told of.
    EXPECT_EQ(Calls{"machine user"}, Run({"apply", both}, kExitOk));
}

TEST_F(NotifyTest, CommandsThatWriteNothingTellNothing) {
    store_.PutValue(kHkeyCurrentUser, kExplorer, "NoRun", kRegDword, {1, 0, 0, 0});
    const std::string profile = Profile("[Kestro]\nNoRun = off\nUsbStorageOff = on\n");
    EXPECT_EQ(Calls{}, Run({"set", "NoRun", "off", "--no-notify"}, kExitOk));
    MemoryRegistryStore::Value written;
    ASSERT_TRUE(store_.GetValue(kHkeyCurrentUser, kExplorer, "NoRun", &written));
    EXPECT_EQ((std::vector<std::uint8_t>{0, 0, 0, 0}), written.data) << "--no-notify still writes";
    EXPECT_EQ(Calls{}, Run({"apply", profile, "--no-notify"}, kExitOk));
    EXPECT_EQ(Calls{}, Run({"clear-search-history", "--no-notify"}, kExitOk));

    const std::string before = store_.Dump();
    EXPECT_EQ(Calls{}, Run({"apply", profile, "--dry-run"}, kExitOk));
    EXPECT_EQ(Calls{}, Run({"apply", Profile("[Kestro]\nNoRun = on\nNoSuchThing = on\n")}, kExitUsage));
    EXPECT_EQ(Calls{}, Run({"set", "NoRun", "maybe"}, kExitUsage));
    EXPECT_EQ(Calls{}, Run({"list"}, kExitOk));
    EXPECT_EQ(Calls{}, Run({"get", "NoRun"}, kExitOk));
    EXPECT_EQ(Calls{}, Run({"save", Profile("")}, kExitOk));
    // No history to clear: the command succeeds and changed nothing.
    EXPECT_EQ(Calls{}, Run({"clear-search-history"}, kExitOk));
    EXPECT_EQ(before, store_.Dump());
    EXPECT_EQ(Calls{}, Run({"set", "NoRun", "--no-notify"}, kExitUsage)) << "the option is no VALUE";
}

TEST_F(NotifyTest, AFailedRunTellsOfWhatItWroteBeforeFailingAndOfNothingElse) {
    // Refused before the first value: nothing written, nothing told.
    store_.Deny(kHkeyLocalMachine, "");
    EXPECT_EQ(Calls{}, Run({"set", "UsbStorageOff", "on"}, kExitFailed));
    store_.FailCall(MemoryRegistryStore::Op::SetValue, 1);
    EXPECT_EQ(Calls{}, Run({"set", "NoRun", "on"}, kExitFailed));
    store_.ClearFailure();
    // A user's entry written, then a machine's failed: the user's value is
    // put back, and nothing is told.
    EXPECT_EQ(Calls{}, Run({"apply", Profile("[Kestro]\nNoRun = on\nUsbStorageOff = on\n")}, kExitFailed));
    store_.FailCall(MemoryRegistryStore::Op::SetValue, 2);
    EXPECT_EQ(Calls{}, Run({"apply", Profile("[Kestro]\nNoFind = on\nNoRun = off\n")}, kExitFailed));
    // What could not be put back stays changed, and is told.
    store_.ClearFailure();
    store_.FailCall(MemoryRegistryStore::Op::SetValue, 2);
    store_.AlsoFailCall(MemoryRegistryStore::Op::DeleteValue, 1);
    EXPECT_EQ(Calls{"user"}, Run({"apply", Profile("[Kestro]\nNoFind = on\nNoRun = off\n")}, kExitFailed));
}

TEST_F(NotifyTest, ClearingASearchHistoryThatExistsIsTheUsersChange) {
    store_.PutValue(kHkeyCurrentUser, kHistory, "000", kRegSz, {'x', 0});
    EXPECT_EQ(Calls{"user"}, Run({"clear-search-history"}, kExitOk));
    EXPECT_FALSE(store_.KeyExists(kHkeyCurrentUser, kHistory));
}

TEST_F(NotifyTest, AStoreWithNobodyToTellWritesAsBefore) {
    // As offline: the provider has no broadcaster.
    CapturingConsole console;
    FixedStore provider(store_);
    EXPECT_EQ(kExitOk, RunKestroctl({"set", "NoRun", "on"}, provider, console));
    EXPECT_TRUE(store_.KeyExists(kHkeyCurrentUser, kExplorer));
}

// The recorder on its own: the root behind every handle, however deep.
TEST(WriteRecordingStore, NotesTheRootBehindEachSuccessfulWrite) {
    MemoryRegistryStore memory;
    memory.PutValue(kHkeyLocalMachine, "SYSTEM\\Old\\Gone", "x", kRegDword, {1, 0, 0, 0});
    WriteRecordingStore recorder(memory);
    const std::uint8_t one[4] = {1, 0, 0, 0};

    KeyHandle software = 0, deep = 0, system = 0;
    ASSERT_EQ(kErrorSuccess, recorder.CreateKey(kHkeyCurrentUser, "Software", kKeyAllAccess, &software));
    ASSERT_EQ(kErrorSuccess, recorder.CreateKey(software, "A\\B", kKeyAllAccess, &deep));
    ASSERT_EQ(kErrorSuccess, recorder.OpenKey(kHkeyLocalMachine, "SYSTEM", kKeyRead, &system));
    std::uint32_t size = 0;
    recorder.QueryValue(system, "x", nullptr, nullptr, &size);
    EXPECT_FALSE(recorder.Written().Any()) << "keys opened, created and read change no value";

    EXPECT_EQ(kErrorFileNotFound, recorder.DeleteKey(system, "NoSuchKey"));
    EXPECT_FALSE(recorder.Written().Any()) << "a failed call changed nothing";

    ASSERT_EQ(kErrorSuccess, recorder.SetValue(deep, "v", kRegDword, one, 4));
    EXPECT_TRUE(recorder.Written().user);
    EXPECT_FALSE(recorder.Written().machine) << "below HKEY_CURRENT_USER through two handles";

    ASSERT_EQ(kErrorSuccess, recorder.DeleteKey(system, "Old\\Gone"));
    EXPECT_TRUE(recorder.Written().machine) << "a deleted key is a change";

    for (KeyHandle key : {deep, software, system}) EXPECT_EQ(kErrorSuccess, recorder.CloseKey(key));
    EXPECT_EQ(0, memory.OpenHandleCount());
}

// A store whose font smoothing is not in its registry, as user32's is not:
// the registry calls go to an in-memory store.
class OwnParametersStore final : public ForwardingRegistryStore {
public:
    struct Parameters final : SystemParameters {
        explicit Parameters(std::vector<std::string>& calls) : calls(calls) {}
        bool SetFontSmoothing(bool on) override { return Note(on ? "on" : "off"); }
        bool SetFontSmoothingType(std::uint32_t) override { return Note("type"); }
        bool SetFontSmoothingOrientation(std::uint32_t) override { return Note("orientation"); }
        Read GetFontSmoothing(bool* on) override { return *on = false, Read::Ok; }
        Read GetFontSmoothingType(std::uint32_t* type) override { return *type = 0, Read::Ok; }
        bool Note(const char* what) { return calls.push_back(what), true; }
        std::vector<std::string>& calls;
    };
    explicit OwnParametersStore(MemoryRegistryStore& memory) : ForwardingRegistryStore(memory) {}
    std::unique_ptr<SystemParameters> OpenSystemParameters() override { return std::make_unique<Parameters>(calls); }

    std::vector<std::string> calls;
};

TEST(WriteRecordingStore, LeavesFontSmoothingToTheStoresOwnSystemParameters) {
    // Through the recorder the writer must still reach user32 on a running
    // Windows, not the registry values user32 keeps.
    MemoryRegistryStore memory;
    OwnParametersStore store(memory);
    RecordingBroadcaster broadcaster;
    LiveStore provider(store, broadcaster);
    CapturingConsole console;
    ASSERT_EQ(kExitOk, RunKestroctl({"set", "FontSmoothing", "on"}, provider, console)) << console.err;
    EXPECT_EQ((std::vector<std::string>{"on", "type", "orientation"}), store.calls);
    MemoryRegistryStore::Value value;
    EXPECT_FALSE(memory.GetValue(kHkeyCurrentUser, "Control Panel\\Desktop", "FontSmoothing", &value))
        << "nothing written into the registry beside user32";
    EXPECT_TRUE(broadcaster.calls.empty()) << "user32 tells the system of its own changes";
}

}  // namespace
}  // namespace kestro::test
