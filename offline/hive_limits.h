// What a hive from a volume an attacker prepared may make kestroctl read
// and hold, checked before hivex sees the file: hivex reads a hive it may
// change into memory whole, and walks a key's sub-keys wherever the file
// says they are.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

struct hive_h;

namespace kestro {

// The largest hive file kestroctl opens, and so the most memory one hive
// takes (hivex holds a hive it may change whole, once): 1 GiB, twice the
// largest hive any Windows loads (its SYSTEM hive is bounded far lower,
// and a user's hive in the hundreds of MiB is already a damaged one).
constexpr std::uint64_t kMaxHiveFileBytes = 1024ull << 20;

// Empty when the open hive file of `st` may be read; else why not: larger
// than kMaxHiveFileBytes, or sparse (far longer than the blocks it has on
// the disk: Windows writes every byte of a hive, and reading the holes would
// take memory for bytes that are not there).
std::string CheckHiveFileSize(const struct stat& st);

// How deep a key may lie below its hive's root: Windows' own limit.
constexpr int kMaxKeyDepth = 512;

// Empty when every key of the hive is reached once, by one path no deeper
// than kMaxKeyDepth; else which key's sub-key list leads back into the tree
// (a loop a walk would follow for ever), or lies too deep, by its path.
std::string FindKeyLoop(hive_h* h);

}  // namespace kestro
