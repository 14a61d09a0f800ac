// What the registry holds for a setting, read without changing anything:
// keys are opened for reading only, so a missing key stays missing.
#pragma once

#include "ctl/setting_value.h"
#include "registry/registry_store.h"
#include "settings/policy_sources.h"

#include <string>

namespace kestro {

struct SettingState {
    enum class Status {
        Ok,          // `value` holds the state (a missing number counts as 0)
        NotSet,      // a text that is not stored at all
        WrongType,   // a value of another type or size than the setting's
        Unreadable,  // the registry refused
    };
    Status status = Status::Ok;
    SettingValue value;
    std::string detail;   // WrongType: "REG_SZ, not REG_DWORD"; Unreadable: why
    std::string message;  // what the engine says when it meets the same value
    // Who holds the state (settings/policy_sources.h): the user's own value
    // unless Windows takes it from elsewhere.
    unsigned sources = kSourceUser;
    std::vector<std::string> notes;  // what could not be read of the other places
};

// The user's own value alone (or the machine's, for a machine-wide row).
SettingState ReadSettingState(RegistryStore& store, const Setting& row);

// The state Windows enforces: for a row it also reads from the machine's
// copy and the local Group Policy object, the value in force there, with
// where it comes from.
SettingState ReadEnforcedState(RegistryStore& store, const Setting& row, const LocalGroupPolicy& gpo);

// "REG_SZ", "REG_DWORD", ... or "type 123".
std::string RegTypeName(std::uint32_t type);

}  // namespace kestro

#include "ctl/profile.h"

#include <vector>

namespace kestro {

// Every setting's state as a profile, in the catalogue's order; a setting
// none of whose values is stored is "default". What a profile cannot carry
// (a value of the wrong type, a text with a line break) is left out and
// said in `notes`; false when something could not be read. With `scope`
// "user" or "machine", only the settings of that scope. With `enforced`,
// each state as Windows enforces it (ReadEnforcedState): a value the
// machine's copy or the Group Policy holds is saved, not the user's own.
bool CurrentProfile(RegistryStore& store, Profile* profile, std::vector<std::string>* notes,
                    const std::string& scope = std::string(), bool enforced = false);

// Whether the row belongs to `scope` ("user", "machine", or "" for all).
bool InScope(const Setting& row, const std::string& scope);

}  // namespace kestro
