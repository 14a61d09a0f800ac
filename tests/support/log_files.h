// Transaction logs of our own making, laid out as Windows writes them, for a
// hive whose file holds one state while the logs hold a newer one. With
// them the tests set any dirty state they need, without Windows.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kestro::test {

// The hives real Windows left dirty, with its own recovery of each
// (KESTRO_DIRTY_HIVES in the environment, else where the build was told);
// empty where they are not.
std::string DirtyHives();
std::string DirtyHivesWanted();  // where they were looked for

// Sets a hive's two sequence numbers, under a right checksum.
void SetSequence(std::string& hive, std::uint32_t primary, std::uint32_t secondary);
std::uint32_t SequenceOf(const std::string& hive, int which);  // 1 or 2

// Changes a REG_DWORD stored in its value cell (as every DWORD is) in place;
// false when no value of that name is found. The hive keeps its layout, so
// the change touches one page.
bool PatchDword(std::string& hive, const std::string& valueName, std::uint32_t value);
// The offset of that DWORD's value cell ("vk"), or npos.
std::size_t DwordCellAt(const std::string& hive, const std::string& valueName);

// An old-format log (a base-block copy with sequence number `sequence`,
// "DIRT" and the 512-byte pages in which `newer` differs from `older`).
std::string MakeOldFormatLog(const std::string& older, const std::string& newer, std::uint32_t sequence);

// A new-format log: its base block names `states[0].first`, then one "HvLE"
// entry per state, each with the 4 KiB pages in which it differs from the
// state before it (`older` for the first).
std::string MakeNewFormatLog(const std::string& older, const std::vector<std::pair<std::uint32_t, std::string>>& states);

// The offset of entry number `index` (from 0) of a new-format log.
std::size_t EntryAt(const std::string& log, std::size_t index);
// Sets the hashes of the entry at `at` to match what it now holds.
void RehashEntry(std::string& log, std::size_t at);

}  // namespace kestro::test
