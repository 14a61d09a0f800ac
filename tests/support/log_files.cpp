#include "tests/support/log_files.h"

#include "core/bytes.h"
#include "offline/hive_log.h"

#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

#ifndef KESTRO_DIRTY_HIVES
#define KESTRO_DIRTY_HIVES ""
#endif

namespace kestro::test {

namespace {

constexpr std::size_t kBase = 4096;

unsigned char* P(std::string& s, std::size_t at = 0) { return reinterpret_cast<unsigned char*>(&s[at]); }
const unsigned char* P(const std::string& s, std::size_t at = 0) {
    return reinterpret_cast<const unsigned char*>(s.data() + at);
}

void Checksum(std::string& block) { StoreLe32(P(block, 508), BaseBlockChecksum(P(block))); }

// The first 512 bytes of `hive`'s base block as a log keeps them.
std::string LogBase(const std::string& hive, std::uint32_t type, std::uint32_t sequence) {
    std::string base = hive.substr(0, 512);
    StoreLe32(P(base, 4), sequence);
    StoreLe32(P(base, 8), sequence);
    StoreLe32(P(base, 28), type);
    Checksum(base);
    return base;
}

bool PageDiffers(const std::string& a, const std::string& b, std::size_t at, std::size_t size) {
    if (at + size > a.size() || at + size > b.size()) return true;
    return std::memcmp(a.data() + at, b.data() + at, size) != 0;
}

}  // namespace

std::string DirtyHivesWanted() {
    const char* given = std::getenv("KESTRO_DIRTY_HIVES");
    return given && *given ? given : KESTRO_DIRTY_HIVES;
}

std::string DirtyHives() {
    const std::string dir = DirtyHivesWanted();
    struct stat st;
    return !dir.empty() && ::stat((dir + "/OldDirtyHive/OldDirtyHive").c_str(), &st) == 0 ? dir : std::string();
}

void SetSequence(std::string& hive, std::uint32_t primary, std::uint32_t secondary) {
    StoreLe32(P(hive, 4), primary);
    StoreLe32(P(hive, 8), secondary);
    Checksum(hive);
}

std::uint32_t SequenceOf(const std::string& hive, int which) { return LoadLe32(P(hive, which == 1 ? 4 : 8)); }

std::size_t DwordCellAt(const std::string& hive, const std::string& valueName) {
    // A value cell: "vk", name length, data size, data, type, flags, spare, name.
    for (std::size_t at = hive.find(valueName); at != std::string::npos; at = hive.find(valueName, at + 1)) {
        if (at < 20) continue;
        const std::size_t vk = at - 20;
        if (hive.compare(vk, 2, "vk") != 0 || LoadLe16(P(hive, vk + 2)) != valueName.size()) continue;
        if (LoadLe32(P(hive, vk + 12)) != 4 /* REG_DWORD */ || LoadLe32(P(hive, vk + 4)) != 0x80000004u) continue;
        return vk;
    }
    return std::string::npos;
}

bool PatchDword(std::string& hive, const std::string& valueName, std::uint32_t value) {
    const std::size_t vk = DwordCellAt(hive, valueName);
    if (vk == std::string::npos) return false;
    StoreLe32(P(hive, vk + 8), value);
    return true;
}

std::string MakeOldFormatLog(const std::string& older, const std::string& newer, std::uint32_t sequence) {
    const std::uint32_t bins = LoadLe32(P(newer, 40));
    std::string log = LogBase(newer, 1, sequence);
    std::string vector(4 + bins / 512 / 8, '\0');
    std::memcpy(&vector[0], "DIRT", 4);
    std::string pages;
    for (std::size_t page = 0; page < bins / 512; ++page) {
        if (!PageDiffers(older, newer, kBase + page * 512, 512)) continue;
        vector[4 + page / 8] = static_cast<char>(vector[4 + page / 8] | (1 << (page % 8)));
        pages += newer.substr(kBase + page * 512, 512);
    }
    vector.resize((vector.size() + 511) / 512 * 512, '\0');
    return log + vector + pages;
}

std::string MakeNewFormatLog(const std::string& older,
                             const std::vector<std::pair<std::uint32_t, std::string>>& states) {
    std::string log = LogBase(states.front().second, 6, states.front().first);
    const std::string* before = &older;
    for (const auto& state : states) {
        const std::string& hive = state.second;
        const std::uint32_t bins = LoadLe32(P(hive, 40));
        std::string refs, data;
        std::uint32_t count = 0;
        for (std::size_t page = 0; page < bins / 4096; ++page) {
            if (!PageDiffers(*before, hive, kBase + page * 4096, 4096)) continue;
            std::string ref(8, '\0');
            StoreLe32(P(ref), static_cast<std::uint32_t>(page * 4096));
            StoreLe32(P(ref, 4), 4096);
            refs += ref;
            data += hive.substr(kBase + page * 4096, 4096);
            ++count;
        }
        std::string entry(40, '\0');
        entry += refs + data;
        entry.resize((entry.size() + 511) / 512 * 512, '\0');
        std::memcpy(&entry[0], "HvLE", 4);
        StoreLe32(P(entry, 4), static_cast<std::uint32_t>(entry.size()));
        StoreLe32(P(entry, 12), state.first);
        StoreLe32(P(entry, 16), bins);
        StoreLe32(P(entry, 20), count);
        RehashEntry(entry, 0);
        log += entry;
        before = &hive;
    }
    return log;
}

std::size_t EntryAt(const std::string& log, std::size_t index) {
    std::size_t at = 512;
    for (std::size_t i = 0; i < index; ++i) at += LoadLe32(P(log, at + 4));
    return at;
}

void RehashEntry(std::string& log, std::size_t at) {
    const std::uint32_t size = LoadLe32(P(log, at + 4));
    StoreLe64(P(log, at + 24), Marvin32(P(log, at + 40), size - 40, kHiveLogSeed));
    StoreLe64(P(log, at + 32), Marvin32(P(log, at), 32, kHiveLogSeed));
}

}  // namespace kestro::test
