// Registry.pol, the file in which Group Policy carries registry values: the
// header "PReg" and version 1, then one [key;value;type;size;data] entry per
// value, all in UTF-16LE (formats/layout.h). A file has no root of its own:
// the one in the GPO's User folder is HKEY_CURRENT_USER, the one in its
// Machine folder HKEY_LOCAL_MACHINE.
#pragma once

#include "formats/reg_value.h"
#include "formats/values.h"

#include <cstdint>
#include <vector>

namespace kestro {

enum class PolicyScope { User, Machine };

struct PolicyFiles {
    std::vector<std::uint8_t> user;     // User/Registry.pol
    std::vector<std::uint8_t> machine;  // Machine/Registry.pol
};

// Where a value lies in a policy file: HKEY_CLASSES_ROOT\X becomes
// HKEY_LOCAL_MACHINE\Software\Classes\X; every other value is unchanged.
RegValue ToPolicyLocation(RegValue value);

// Whether the value stays behind ("tattoos" the machine) when its GPO is
// removed: Group Policy removes only what lies under its policy keys,
// Software\Policies and Software\Microsoft\Windows\CurrentVersion\Policies.
bool TattoosWhenRemoved(const RegValue& value);

// Both files' bytes, each with the header even when it holds no value, and
// entries in export order (SortedForExport over their places in the file).
// Throws FormatError for a value the reader would refuse: a type other than
// REG_SZ or REG_DWORD, malformed data, a key path too long or too deep, a
// root other than the three.
PolicyFiles WritePolicyFiles(const std::vector<RegValue>& values);

// Every entry of one file, in file order, with the scope's root and the key
// path as the file spells it. Checks the header itself (signature and
// version), every delimiter, every size against the data and the limits of
// formats/layout.h; REG_DWORD data must be 4 bytes and REG_SZ data one text
// ending in a zero. Throws FormatError naming the byte offset. With
// `offsets`, it also gets the offset of each entry's '['.
std::vector<RegValue> ReadPolicyFile(const std::vector<std::uint8_t>& bytes, PolicyScope scope,
                                     std::vector<std::size_t>* offsets = nullptr);

}  // namespace kestro
