// Lifting a lock where Windows takes a setting from besides the user's own
// value, for the window and for kestroctl alike: a machine's copy that
// contradicts the state asked for is deleted, and a local Group Policy
// entry that does is taken out of its Registry.pol (the file rewritten
// whole, every other entry kept byte for byte) with gpt.ini's version
// raised on that side, so that Group Policy reads the file again and does
// not put the entry's value back. The lift decides and writes; what is said
// about it, and any copy kept for an undo, is the caller's.
#pragma once

#include "registry/group_policy_files.h"
#include "registry/registry_store.h"
#include "settings/catalogue.h"
#include "settings/policy_sources.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace kestro {

// A setting and the state asked for it.
struct LiftAsk {
    const Setting* row = nullptr;
    bool hasNumber = false;  // false: the default, no value anywhere (every copy goes)
    std::int32_t number = 0;
};

// Why a lift is refused before anything is written.
struct LiftRefusal {
    enum class Why {
        UnreadableFile,    // a Registry.pol cannot be read or is malformed: detail names it
        Domain,            // a domain's object holds the setting: domain names them
        UnreadableGptIni,  // detail says why
        BadGptVersion,     // gpt.ini's Version is not a number
        NoRights,          // the machine's copy cannot be changed: rc
    };
    Why why = Why::UnreadableFile;
    const Setting* row = nullptr;  // the setting concerned (none for gpt.ini)
    std::string detail;
    std::vector<std::string> domain;
    RegResult rc = kErrorSuccess;
};

// Why Write stopped: a file it could not write, or a machine's copy it
// could not delete.
struct LiftFailure {
    bool inFile = false;
    GroupPolicyFiles::File file = GroupPolicyFiles::File::GptIni;
    std::string error;             // inFile: the store's words
    const Setting* row = nullptr;  // otherwise: the setting whose copy stayed
    RegResult rc = kErrorSuccess;
};

// Each change Write makes, as it makes it; every one may be left empty.
struct LiftReport {
    std::function<void(GroupPolicyFiles::File file, const std::vector<std::string>& settings)> entriesTakenOut;
    std::function<void(bool userSide, bool machineSide)> versionRaised;
    std::function<void(const Setting& row, std::int32_t held)> machineCopyDeleted;
};

// A Group Policy file as it was (absent: not there).
struct PolicyFileBefore {
    GroupPolicyFiles::File file = GroupPolicyFiles::File::GptIni;
    bool present = false;
    std::vector<std::uint8_t> bytes;
};

// Puts the files back, the last changed first; `failed` hears of each one
// that cannot be.
void PutBackPolicyFiles(GroupPolicyFiles* files, const std::vector<PolicyFileBefore>& before,
                        const std::function<void(GroupPolicyFiles::File, const std::string&)>& failed = nullptr);

class PolicyLift {
public:
    // What must go for each setting to be in force as asked. False, with
    // why, when a file it must read or change cannot be read or is
    // malformed, or a domain's object holds a setting. Nothing is written.
    bool Plan(RegistryStore& store, const std::vector<LiftAsk>& wanted, LiftRefusal* refusal);
    // False, with why, when a machine's copy it must delete cannot be
    // changed with this process's rights; asked before anything is written.
    bool CheckRights(RegistryStore& store, LiftRefusal* refusal) const;
    // Rewrites the files, then deletes the machine's copies. False, with
    // what failed; what was written stays for the caller to put back
    // (PutBackFiles, and its own copy of the registry's values).
    bool Write(RegistryStore& store, const LiftReport& report, LiftFailure* failure);
    // The files as they were before Write.
    void PutBackFiles(RegistryStore& store,
                      const std::function<void(GroupPolicyFiles::File, const std::string&)>& failed = nullptr) const;

    bool Empty() const { return machineValues_.empty() && removals_[0].empty() && removals_[1].empty(); }
    // The machine's copies Write deletes, with what they hold.
    const std::vector<std::pair<const Setting*, std::int32_t>>& MachineValues() const { return machineValues_; }
    // The settings whose entries Write takes out of a side's Registry.pol.
    const std::vector<std::string>& TakenOut(bool machineSide) const { return removalNames_[machineSide ? 1 : 0]; }
    // Whether Write changes anything for the row.
    bool Touches(const Setting& row) const;
    // The files Write will change, as they are before it (for an undo's copies).
    std::vector<PolicyFileBefore> FilesToChange() const;
    // The files Write changed, as they were.
    const std::vector<PolicyFileBefore>& FilesBefore() const { return before_; }

private:
    bool PlanRow(RegistryStore& store, const LiftAsk& ask, LiftRefusal* refusal);
    bool PlanGptIni(RegistryStore& store, LiftRefusal* refusal);
    bool WriteFiles(GroupPolicyFiles& files, const LiftReport& report, LiftFailure* failure);
    bool DeleteMachineCopies(RegistryStore& store, const LiftReport& report, LiftFailure* failure) const;

    LocalGroupPolicy gpo_;
    std::vector<std::pair<const Setting*, std::int32_t>> machineValues_;  // deleted, with what they held
    std::vector<std::size_t> removals_[2];                               // entries taken out: user, machine
    std::vector<std::string> removalNames_[2];                           // their settings, for the report
    std::vector<std::uint8_t> gptIni_;
    bool gptIniPresent_ = false;
    std::vector<PolicyFileBefore> before_;
};

// The window's click for one toggle, when the user agrees: the lift with
// nothing said, its files put back should the machine's copy not then go.
struct PolicyLiftResult {
    bool ok = false;
    bool denied = false;  // no right to change the machine's copy: nothing was written
    std::string error;    // why not, naming the place
};
PolicyLiftResult LiftPolicyPlaces(RegistryStore& store, const Setting& row, std::int32_t asked);

}  // namespace kestro
