// What a command runs against, apart from the command table itself: where
// its output goes, the exit codes, and the provider of its registry store.
// The commands' context includes this, not the table, so that the two do
// not include each other.
#pragma once

#include "registry/registry_store.h"

#include <functional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace kestro {

class PolicyBroadcaster;

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // a write (or a read) of the registry or a file failed
constexpr int kExitUsage = 2;   // a wrong command line or profile: nothing was written

// Where the output goes; every text is UTF-8 and ends with its own "\n".
class Console {
public:
    virtual ~Console() = default;
    virtual void Out(const std::string& text) = 0;   // for people
    virtual void Json(const std::string& text) = 0;  // --json: always UTF-8
    virtual void Err(const std::string& text) = 0;
};

// What the chosen command does with the store, so that a store can be
// opened for no more than that.
struct StoreUse {
    bool writes = false;   // it may change the registry (apply --dry-run does not)
    bool userKeys = true;  // it may read or write HKEY_CURRENT_USER
};

// A command that a store provider brings itself and that needs no store.
struct OwnCommand {
    std::string name;
    std::string summary;
    std::function<int(Console&)> run;
    // Its own options, when it has any.
    std::function<void(CLI::App&)> declare = nullptr;
};

// Chooses the store the commands work on.
class StoreProvider {
public:
    virtual ~StoreProvider() = default;
    // Options of its own (where a store lives, say), before the command.
    virtual void AddOptions(CLI::App&) {}
    // Commands of its own, offered beside the table's.
    virtual std::vector<OwnCommand> OwnCommands() { return {}; }
    // The store for a command that uses it as `use` says, or null with the
    // reason why there is none and, in *code, the exit code for that (2
    // unless the provider says otherwise).
    virtual RegistryStore* Open(const StoreUse& use, std::string* why, int* code) = 0;
    // After the command, told whether it succeeded: false with the reason
    // when what was written could not be kept (exit 1).
    virtual bool Close(bool /*succeeded*/, std::string*) { return true; }
    // Who tells the running system that policy values changed, after a
    // command that wrote some: the running Windows' provider gives one;
    // a store of files (offline hives) has nobody to tell.
    virtual PolicyBroadcaster* Broadcaster() { return nullptr; }
    // The running Windows' version as its kernel gives it (RtlGetVersion,
    // which no compatibility shim bends); false for a store of files, whose
    // Windows is read from its SOFTWARE hive.
    virtual bool KernelVersion(unsigned* /*major*/, unsigned* /*minor*/, unsigned* /*build*/) { return false; }

    // The text of a setting that names a file (Setting::namesFile), as the
    // registry is to hold it, checked against the file system of the Windows
    // the store belongs to; false with *error when it names no file there.
    // This: the running system's, an existing file stored with its full path.
    virtual bool CheckFilePath(std::wstring* path, std::string* error);

    // Whether what a command writes reaches the registry only at Close (a
    // store of files): a value is then reported as set only once Close has
    // kept it, and Kept says, after Close, whether that of a key was kept.
    virtual bool WritesAtClose() const { return false; }
    virtual bool Kept(KeyHandle /*root*/, const std::string& /*keyPath*/) const { return true; }
};

}  // namespace kestro
