// The byte layout of the two files that carry registry values to other
// machines, in one place for the writers and the readers:
// - the .reg file that regedit and `reg import` read;
// - the Registry.pol file (PReg) that Group Policy copies from SYSVOL.
// Both are UTF-16LE. The limits bound what a reader accepts, so that a
// hostile file costs at most a bounded amount of memory and time; the
// writers refuse what the readers would refuse, so every export reads back.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestro::layout {

// ---- limits shared by both formats ----
constexpr std::size_t kMaxFileBytes = 1u << 20;   // whole file; ours are a few KiB
constexpr std::size_t kMaxEntries = 4096;         // values in one file
constexpr std::size_t kMaxKeyPathChars = 255;     // below the root, UTF-16 units
constexpr std::size_t kMaxKeyDepth = 32;          // key names in one path
constexpr std::size_t kMaxValueNameChars = 259;   // as Group Policy allows
constexpr std::size_t kMaxTextChars = 4096;       // REG_SZ, without its zero

// ---- .reg ----
constexpr std::uint8_t kRegBom[] = {0xFF, 0xFE};
constexpr char16_t kRegHeader[] = u"Windows Registry Editor Version 5.00";
constexpr char16_t kRegLineEnd[] = u"\r\n";
constexpr char16_t kRegDwordPrefix[] = u"dword:";
// Longest line a reader takes: a value line whose name and text are all
// escapes, with room to spare.
constexpr std::size_t kRegMaxLineChars = 2 * (kMaxTextChars + kMaxValueNameChars) + 64;

// A value written raw, as hex(n): bytes "xx," on one line: the most data
// a reader takes in that form, and so its longest line.
constexpr std::size_t kRegMaxRawBytes = 0xFFFF;
constexpr std::size_t kRegMaxRawLineChars = 3 * kRegMaxRawBytes + 2 * kMaxValueNameChars + 64;
constexpr char16_t kRegHexPrefix[] = u"hex";

struct RegRootName {
    std::uintptr_t root;
    const char16_t* name;
};
// Full names only: that is what regedit writes.
constexpr RegRootName kRegRoots[] = {
    {0x80000000u, u"HKEY_CLASSES_ROOT"},
    {0x80000001u, u"HKEY_CURRENT_USER"},
    {0x80000002u, u"HKEY_LOCAL_MACHINE"},
};

// ---- Registry.pol (PReg) ----
// Header: the signature "PReg" as bytes, then the version as a
// little-endian 32-bit number. Every entry:
//   '[' key NUL ';' value NUL ';' type(u32) ';' size(u32) ';' data(size bytes) ']'
// where the brackets and semicolons are UTF-16LE characters and key and
// value are UTF-16LE texts ending in a zero character.
constexpr std::uint8_t kPolSignature[] = {'P', 'R', 'e', 'g'};
constexpr std::uint32_t kPolVersion = 1;
constexpr std::size_t kPolHeaderBytes = 8;
constexpr char16_t kPolOpen = u'[';
constexpr char16_t kPolSeparator = u';';
constexpr char16_t kPolClose = u']';
constexpr std::uint32_t kPolMaxDataBytes = 0xFFFF;  // a size above it is not Group Policy's

// A policy file has two roots, by the folder it lies in. HKEY_CLASSES_ROOT is
// the machine's "Software\Classes" merged with the user's, so its values go
// to the machine file below this prefix.
constexpr char kPolClassesPrefix[] = "Software\\Classes\\";
constexpr char kPolUserFolder[] = "User";
constexpr char kPolMachineFolder[] = "Machine";
constexpr char kPolFileName[] = "Registry.pol";

}  // namespace kestro::layout
