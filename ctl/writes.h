// Setting values through the engine's writers, and the registry values
// those writers store.
#pragma once

#include "ctl/profile.h"
#include "formats/reg_value.h"

#include <vector>

namespace kestro {

// The engine's one writer for the row, with the argument the window's
// handler would pass, on the active store. Throws what the writer throws
// (ERegistryException).
void WriteSetting(const Setting& row, const SettingValue& value);

// A default (SettingValue::Default) deletes the row's values instead.
//
// Exactly the values the writers store for these entries, in the order
// they store them: the writers run against an empty in-memory registry and
// what they wrote is collected. Later entries for the same value win; a
// default carries none.
std::vector<RegValue> RegistryValuesFor(const Profile& profile);

}  // namespace kestro
