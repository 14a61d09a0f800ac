// From the values of a .reg or Registry.pol file back to settings: which
// entries are the values a setting's writer stores, and in which state.
// The caller describes each setting by the values its writer would store
// for a given state, so no key, value name or rule is written down here.
#pragma once

#include "formats/reg_value.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace kestro {

struct SettingShape {
    enum class Kind { Toggle, Number, Text };
    std::string name;
    Kind kind;
    // The values the writer stores for a state: "on" or "off" for a toggle,
    // a decimal number, or a UTF-8 text.
    std::function<std::vector<RegValue>(const std::string& state)> valuesFor;
};

// One setting found in a file, as a profile line would give it.
struct FoundSetting {
    std::string name;
    std::string state;  // "on", "off", a decimal number or a UTF-8 text
};

struct EntryMatch {
    std::vector<FoundSetting> settings;  // in the order of `shapes`
    std::vector<std::string> errors;     // "line 7: ..." or "offset 120: ..."
    std::vector<std::string> ignored;    // unknown entries let through by ignoreUnknown
};

// Matches a file's entries against the settings. `places` holds each
// entry's line or offset, and `placeKind` is "line" or "offset". An entry
// counts as a setting's when it lies where that setting's writer writes
// (root, key and value name compared as the registry does, with
// HKEY_CLASSES_ROOT\X the same as HKEY_LOCAL_MACHINE\Software\Classes\X,
// where a policy file puts it) and has the type that writer writes. Then:
// - a toggle's entries must be exactly the values of one of its states, all
//   of them, else that is an error (a state may store fewer values than the
//   other: font smoothing off stores one of the three);
// - a number or text takes the entry's data;
// - a setting given twice is an error.
// An entry that belongs to no setting is an error, unless ignoreUnknown,
// when it is listed in `ignored` instead.
EntryMatch MatchEntries(const std::vector<RegValue>& entries, const std::vector<std::size_t>& places,
                        const std::string& placeKind, const std::vector<SettingShape>& shapes, bool ignoreUnknown);

}  // namespace kestro
