// One registry value as Windows stores it: what an export writes and an
// import reads back.
#pragma once

#include "registry/registry_store.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kestro {

struct RegValue {
    KeyHandle root;                  // kHkeyCurrentUser, kHkeyLocalMachine or kHkeyClassesRoot
    std::string keyPath;             // below the root, single backslashes, as the catalogue spells it
    std::string name;                // the value's name (ASCII)
    std::uint32_t type;              // kRegDword or kRegSz
    std::vector<std::uint8_t> data;  // REG_DWORD: 4 bytes, little-endian; REG_SZ: UTF-16LE with its terminating zero
};

}  // namespace kestro
