// What every command of kestroctl shares: the options of the command line,
// the store and console it runs on, and the helpers more than one verb
// uses. Each verb lives in a file of its own (list.cpp, get.cpp, ...);
// commands.cpp registers them in its one table.
#pragma once

#include "ctl/current_state.h"
#include "ctl/profile.h"
#include "ctl/store_provider.h"
#include "ctl/windows_version.h"

#include <functional>
#include <string>
#include <vector>

namespace kestro {

// Everything any command takes; each command declares the part it uses.
struct Options {
    std::string name;
    std::string value;
    std::string file;
    bool json = false;
    bool dryRun = false;
    std::string profile;    // export: the profile to export instead of this machine's state
    std::string format;     // export: "reg", "pol" or "gpo"
    std::string gpoName;    // export gpo: the GPO's display name
    std::string scope;      // apply: "user" or "machine" for a policy file outside User/Machine
    bool ignoreUnknown = false;
    bool noNotify = false;  // set, apply, clear-search-history: no WM_SETTINGCHANGE afterwards
    std::string undo;       // set, apply, clear-search-history: the .reg file of the way back
};

class PriorState;
class WriteRecordingStore;

struct Context {
    RegistryStore& store;
    Console& console;
    const Options& options;
    StoreProvider& stores;
    // What a store that writes at its close has yet to keep: each entry's
    // row and the line that reports it as set.
    std::vector<std::pair<const Setting*, std::string>> unconfirmed;
    // What the command writes through, noted for the notification; null
    // when the command runs on no registry.
    WriteRecordingStore* recorder = nullptr;
    // A store that writes at its close: the machine's copies deleted
    // (key path, report line), reported once kept.
    std::vector<std::pair<std::string, std::string>> unconfirmedMachine;
    // What puts back the files a command changed, should the store fail to
    // keep the registry's part at its close.
    std::function<void()> putBackFiles;
    // With --undo: saves copies of the files the command will change beside
    // the undo file, and gives the comment lines that name them in it;
    // false with *error when a copy cannot be written.
    std::function<bool(const std::string& undo, std::vector<std::string>* lines, std::string* error)> saveUndoFiles;
    // The Windows worked on, once asked (NoteIfIgnored).
    bool windowsKnown = false;
    WindowsIdentity windows = {};

    int Fail(int code, const std::string& message) {
        console.Err("kestroctl: " + message + "\n");
        return code;
    }
};

// The setting by that name, or null having said why (an unknown name, or
// an action), with the exit code in *code.
const Setting* LookUp(Context& context, const std::string& name, int* code);

// What must hold before a value is written: a text that names a file, as
// in the window, names an existing file of the Windows it goes to, and is
// stored as its store provider says (on a running Windows, with its full
// path). The empty text is no file (XP's "(None)" wallpaper), stored as it is.
bool Prepare(Context& context, const Setting& row, SettingValue* value, std::string* error);

// After `row` was written: when the Windows worked on does not read it, a
// line that says so and names that Windows.
void NoteIfIgnored(Context& context, const Setting& row);

// Whether Group Policy leaves the setting behind when its GPO is removed.
bool Tattoos(const Setting& row);

// A state for people: the value, or why there is none.
std::string StateText(const SettingState& state);

// A profile file; false, having said why, when it cannot be read or is
// malformed.
bool ReadProfileFile(Context& context, const std::string& file, Profile* profile, int* code);

// A command's writes, all or nothing: the prior state of every place in
// `prior` is read (and written to the --undo file) before `write` runs;
// when `write` gives a failure, that is said, everything already written
// is put back, and the exit code is 1, saying that nothing was changed or
// naming each value that could not be put back. Only what stays changed
// is then announced.
int WriteAllOrNothing(Context& context, PriorState& prior, const std::function<std::string()>& write);

// --scope user|machine (in any case) on a command, with its help text.
void AddScopeOption(CLI::App& command, Options& options, const char* help);

// The verbs: how each declares its options, and what it does.
void DeclareList(CLI::App& command, Options& options);
int RunList(Context& context);
void DeclareGet(CLI::App& command, Options& options);
int RunGet(Context& context);
void DeclareSet(CLI::App& command, Options& options);
int RunSet(Context& context);
int RunClearSearchHistory(Context& context);
void DeclareSave(CLI::App& command, Options& options);
int RunSave(Context& context);
void DeclareApply(CLI::App& command, Options& options);
int RunApply(Context& context);
void DeclareExport(CLI::App& command, Options& options);
int RunExport(Context& context);

}  // namespace kestro
