#include "offline/hive_log.h"

#include "core/bytes.h"
#include "core/localized.h"

#include <algorithm>
#include <cstring>

namespace kestro {

namespace {

using namespace hive_base;
constexpr std::size_t kSector = 512;      // a log's base block copy; old-format pages
constexpr std::size_t kBinUnit = 4096;    // hive bins come in multiples of this

constexpr std::uint32_t kTypePrimary = 0, kTypeOldLog = 1, kTypeOldLog2000 = 2, kTypeNewLog = 6;
constexpr std::size_t kEntryHeader = 40;

const unsigned char* U(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

std::uint32_t Rotl(std::uint32_t v, int n) { return v << n | v >> (32 - n); }

struct Base {
    bool valid = false;  // "regf" and a right checksum
    std::uint32_t seq1 = 0, seq2 = 0, type = 0, bins = 0, cluster = 0;
    std::uint64_t stamp = 0;
};

Base ReadBase(const std::string& bytes) {
    Base b;
    if (bytes.size() < kSector) return b;
    const unsigned char* p = U(bytes);
    b.seq1 = LoadLe32(p + kSeq1);
    b.seq2 = LoadLe32(p + kSeq2);
    b.stamp = LoadLe64(p + kStamp);
    b.type = LoadLe32(p + kFileType);
    b.bins = LoadLe32(p + kBinsSize);
    b.cluster = LoadLe32(p + kCluster);
    b.valid = std::memcmp(p, "regf", 4) == 0 && LoadLe32(p + kChecksum) == BaseBlockChecksum(p);
    return b;
}

bool BinsSizeOk(std::uint32_t bins) {
    return bins != 0 && bins % kBinUnit == 0 && kBaseBlock + static_cast<std::uint64_t>(bins) <= kMaxHiveBytes;
}

// The primary as the replay sees it.
struct Primary {
    Base base;
    std::uint64_t stamp = 0;  // its own, or the first bin's when its base block is damaged
};

// Whether a log's base block copy says it was written for this primary: the
// same last-written time (Windows' own test), and for a primary whose base
// block is sound, a sequence number not older than what the primary holds.
std::string Belongs(const Primary& primary, const Base& log) {
    if (log.stamp != primary.stamp) return Localized("it belongs to another hive (its time stamp differs)");
    if (primary.base.valid && log.seq1 < primary.base.seq2)
        return Localized("it is older than the hive (sequence number %1, the hive has %2)", log.seq1,
                         primary.base.seq2);
    return std::string();
}

// ---------------------------------------------------------------- old format

struct OldLog {
    const HiveLog* log = nullptr;
    Base base;
    std::size_t pagesAt = 0;
    std::vector<std::uint32_t> pages;  // the dirty 512-byte pages' numbers, in the log's order
};

std::string ReadOldLog(const HiveLog& log, OldLog* out) {
    out->log = &log;
    out->base = ReadBase(log.bytes);
    const Base& b = out->base;
    if (b.seq1 != b.seq2) return Localized("it was being written when Windows stopped (sequence numbers differ)");
    if (!BinsSizeOk(b.bins)) return Localized("its hive size is not one a hive can have");
    if (b.cluster == 0 || b.cluster > 8) return Localized("its sector size is not one a disk can have");
    const std::size_t sector = kSector * b.cluster;
    const std::size_t bitmap = b.bins / kSector / 8;
    const std::size_t vectorEnd = sector + 4 + bitmap;
    if (log.bytes.size() < vectorEnd) return Localized("it is cut short in its dirty-page map");
    const unsigned char* p = U(log.bytes);
    if (std::memcmp(p + sector, "DIRT", 4) != 0) return Localized("its dirty-page map has no \"DIRT\" signature");
    out->pagesAt = (vectorEnd + sector - 1) / sector * sector;
    const unsigned char* bits = p + sector + 4;
    for (std::size_t byte = 0; byte < bitmap; ++byte) {
        if (!bits[byte]) continue;
        for (unsigned bit = 0; bit < 8; ++bit)
            if (bits[byte] & (1u << bit)) out->pages.push_back(static_cast<std::uint32_t>(byte * 8 + bit));
    }
    if (out->pages.empty()) return Localized("it marks no page as changed");
    if ((log.bytes.size() - std::min(log.bytes.size(), out->pagesAt)) / kSector < out->pages.size())
        return Localized("it is cut short: it holds fewer pages than its map names");
    return std::string();
}

// ---------------------------------------------------------------- new format

struct Entry {
    std::size_t at = 0, size = 0;
    std::uint32_t flags = 0, seq = 0, bins = 0, count = 0;
    std::uint64_t pageBytes = 0;
};

struct NewLog {
    const HiveLog* log = nullptr;
    Base base;
    std::vector<Entry> entries;  // the valid part, as stored
};

// The log's valid entries: they end at the first one that is not a whole,
// sound entry whose hashes match.
std::vector<Entry> ReadEntries(const std::string& bytes) {
    std::vector<Entry> entries;
    const unsigned char* p = U(bytes);
    std::size_t at = kSector;
    while (at + kEntryHeader <= bytes.size()) {
        const unsigned char* e = p + at;
        if (std::memcmp(e, "HvLE", 4) != 0) break;
        Entry entry;
        entry.at = at;
        entry.size = LoadLe32(e + 4);
        if (entry.size < kEntryHeader || entry.size % kSector != 0 || entry.size > bytes.size() - at) break;
        entry.flags = LoadLe32(e + 8);
        entry.seq = LoadLe32(e + 12);
        entry.bins = LoadLe32(e + 16);
        entry.count = LoadLe32(e + 20);
        if (Marvin32(e, 32, kHiveLogSeed) != LoadLe64(e + 32)) break;
        if (Marvin32(e + kEntryHeader, entry.size - kEntryHeader, kHiveLogSeed) != LoadLe64(e + 24)) break;
        if (!BinsSizeOk(entry.bins)) break;
        if (entry.count > (entry.size - kEntryHeader) / 8) break;
        std::uint64_t used = kEntryHeader + 8ull * entry.count;
        bool sound = true;
        for (std::uint32_t i = 0; sound && i < entry.count; ++i) {
            const std::uint32_t offset = LoadLe32(e + kEntryHeader + 8 * i);
            const std::uint32_t size = LoadLe32(e + kEntryHeader + 8 * i + 4);
            used += size;
            sound = size != 0 && size % kSector == 0 && offset % kSector == 0 && used <= entry.size &&
                    static_cast<std::uint64_t>(offset) + size <= entry.bins;
            entry.pageBytes += size;
        }
        if (!sound) break;
        entries.push_back(entry);
        at += entry.size;
    }
    return entries;
}

// Writes one entry's pages into the hive, sized as the entry says. The hive
// grows by no more than the pages the entry brings: new bins are always
// dirty, so a larger growth is a damaged entry, not a bigger hive.
bool ApplyEntry(const std::string& log, const Entry& entry, std::string* image) {
    const std::size_t size = kBaseBlock + entry.bins;
    if (size > image->size() && size - image->size() > entry.pageBytes) return false;
    image->resize(size);
    const unsigned char* e = U(log) + entry.at;
    std::size_t from = entry.at + kEntryHeader + 8ull * entry.count;
    for (std::uint32_t i = 0; i < entry.count; ++i) {
        const std::uint32_t offset = LoadLe32(e + kEntryHeader + 8 * i);
        const std::uint32_t pageSize = LoadLe32(e + kEntryHeader + 8 * i + 4);
        image->replace(kBaseBlock + offset, pageSize, log, from, pageSize);
        from += pageSize;
    }
    return true;
}

// ---------------------------------------------------------------- result

// Whether the hive bins tile the hive from the base block to its end, each
// with its signature and its own offset: what a replay must leave.
std::string CheckBins(const std::string& image) {
    const std::uint32_t bins = LoadLe32(U(image) + kBinsSize);
    if (image.size() < kBaseBlock + static_cast<std::uint64_t>(bins))
        return Localized("the replayed hive is shorter than its bins");
    const std::size_t end = kBaseBlock + bins;
    std::size_t at = kBaseBlock;
    while (at < end) {
        const unsigned char* b = U(image) + at;
        if (end - at < 32 || std::memcmp(b, "hbin", 4) != 0 || LoadLe32(b + 4) != at - kBaseBlock)
            return Localized("the replayed hive has no sound hive bin at offset %1", at);
        const std::uint32_t size = LoadLe32(b + 8);
        if (size < kBinUnit || size % kBinUnit != 0 || size > end - at)
            return Localized("the replayed hive has a hive bin of a wrong size at offset %1", at);
        at += size;
    }
    if (LoadLe32(U(image) + 36) >= bins) return Localized("the replayed hive's root key lies outside its bins");
    return std::string();
}

void Finish(std::string* image, std::uint32_t sequence) {
    unsigned char* p = reinterpret_cast<unsigned char*>(&(*image)[0]);
    StoreLe32(p + kSeq1, sequence);
    StoreLe32(p + kSeq2, sequence);
    StoreLe32(p + kFileType, kTypePrimary);
    StoreLe32(p + kChecksum, BaseBlockChecksum(p));
}

// The highest sequence number the primary or a log that belongs to it holds.
std::uint32_t Highest(const Primary& primary, const std::vector<OldLog>& oldLogs, const std::vector<NewLog>& newLogs) {
    std::uint32_t top = std::max(primary.base.seq1, primary.base.seq2);
    for (const OldLog& o : oldLogs) top = std::max({top, o.base.seq1, o.base.seq2});
    for (const NewLog& n : newLogs) {
        top = std::max({top, n.base.seq1, n.base.seq2});
        for (const Entry& e : n.entries) top = std::max(top, e.seq);
    }
    return top;
}

}  // namespace

std::uint32_t BaseBlockChecksum(const unsigned char* block) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < kChecksum; i += 4) sum ^= LoadLe32(block + i);
    if (sum == 0xFFFFFFFFu) return 0xFFFFFFFEu;
    if (sum == 0) return 1;
    return sum;
}

bool HiveNeedsLogs(const unsigned char* head, std::size_t size) {
    if (size < kSector || std::memcmp(head, "regf", 4) != 0) return false;
    return LoadLe32(head + kSeq1) != LoadLe32(head + kSeq2) || LoadLe32(head + kChecksum) != BaseBlockChecksum(head);
}

std::uint64_t Marvin32(const unsigned char* data, std::size_t size, std::uint64_t seed) {
    std::uint32_t lo = static_cast<std::uint32_t>(seed), hi = static_cast<std::uint32_t>(seed >> 32);
    auto mix = [&lo, &hi] {
        hi ^= lo;
        lo = Rotl(lo, 20);
        lo += hi;
        hi = Rotl(hi, 9);
        hi ^= lo;
        lo = Rotl(lo, 27);
        lo += hi;
        hi = Rotl(hi, 19);
    };
    for (; size >= 4; data += 4, size -= 4) {
        lo += LoadLe32(data);
        mix();
    }
    // The last 0 to 3 bytes, closed by a 0x80 byte.
    unsigned char tail[4] = {0, 0, 0, 0};
    if (size) std::memcpy(tail, data, size);
    tail[size] = 0x80;
    lo += LoadLe32(tail);
    mix();
    mix();
    return static_cast<std::uint64_t>(hi) << 32 | lo;
}

namespace {

// Why each log that is not used is not, for the problem's words.
struct Rejections {
    std::vector<std::string> why;
    void Add(const HiveLog& log, const std::string& reason) { why.push_back(log.name + ": " + reason); }
};

// Empty, or why the bytes are no primary a replay can start from.
std::string CheckPrimary(const std::string& bytes) {
    if (bytes.size() < kBaseBlock || std::memcmp(bytes.data(), "regf", 4) != 0)
        return Localized("the file is not a registry hive");
    if (bytes.size() > kMaxHiveBytes) return Localized("the hive is larger than %1 MiB", kMaxHiveBytes >> 20);
    return std::string();
}

Primary ReadPrimary(const std::string& bytes) {
    Primary primary;
    primary.base = ReadBase(bytes);
    primary.stamp = primary.base.stamp;
    if (!primary.base.valid && bytes.size() >= kBaseBlock + 28)
        primary.stamp = LoadLe64(U(bytes) + kBaseBlock + 20);  // the first bin keeps a copy
    return primary;
}

// Empty, or why the log is not one of this primary's.
std::string CheckLog(const HiveLog& log, const Primary& primary, const Base& base) {
    if (log.bytes.empty()) return Localized("empty");
    if (log.bytes.size() > kMaxHiveLogBytes) return Localized("larger than %1 MiB", kMaxHiveLogBytes >> 20);
    if (log.bytes.size() < kSector || std::memcmp(log.bytes.data(), "regf", 4) != 0)
        return Localized("not a registry log");
    if (!base.valid) return Localized("its base block is damaged (wrong checksum)");
    return Belongs(primary, base);
}

// Each log that belongs to the primary, by its format; the others rejected.
void SortLogs(const std::vector<const HiveLog*>& logs, const Primary& primary, std::vector<OldLog>* oldLogs,
              std::vector<NewLog>* newLogs, Rejections* rejected) {
    for (const HiveLog* log : logs) {
        const Base base = ReadBase(log->bytes);
        std::string reason = CheckLog(*log, primary, base);
        if (!reason.empty()) {
            rejected->Add(*log, reason);
        } else if (base.type == kTypeNewLog) {
            NewLog n{log, base, ReadEntries(log->bytes)};
            if (n.entries.empty())
                rejected->Add(*log, Localized("it holds no sound log entry"));
            else
                newLogs->push_back(std::move(n));
        } else if (base.type == kTypeOldLog || base.type == kTypeOldLog2000) {
            OldLog o;
            reason = ReadOldLog(*log, &o);
            if (!reason.empty())
                rejected->Add(*log, reason);
            else
                oldLogs->push_back(std::move(o));
        } else {
            rejected->Add(*log, Localized("not a registry log (file type %1)", base.type));
        }
    }
}

// A damaged base block comes back from the log's copy of it.
void RestoreBase(std::string* image, const std::string& log) { image->replace(0, kSector, log, 0, kSector); }

// New-format logs: their entries applied in sequence, the chain across the
// logs ending where the next entry is missing.
void ReplayNewLogs(std::vector<NewLog>& newLogs, const Primary& primary, std::string* image, HiveReplay* result,
                   Rejections* rejected) {
    // The log with the earlier entries first; where the primary's base
    // block is damaged, only the one with the latest entries.
    std::stable_sort(newLogs.begin(), newLogs.end(),
                     [](const NewLog& a, const NewLog& b) { return a.base.seq1 < b.base.seq1; });
    if (!primary.base.valid) {
        newLogs.erase(newLogs.begin(), newLogs.end() - 1);
        RestoreBase(image, newLogs.back().log->bytes);
    }
    bool started = false;
    std::uint32_t next = 0;
    std::uint32_t flags = 0;
    for (const NewLog& log : newLogs) {
        if (!started) {
            // The first entry applied is the one the log's base block
            // names, which the primary has not got past.
            if (log.entries[0].seq != log.base.seq1) {
                rejected->Add(*log.log, Localized("its first entry is not the one its base block names"));
                continue;
            }
        } else if (log.entries[0].seq != next) {
            break;  // the chain ends where the next entry is missing
        }
        bool applied = false;
        for (const Entry& e : log.entries) {
            if (started && e.seq != next) break;
            if (!ApplyEntry(log.log->bytes, e, image)) break;
            started = applied = true;
            next = e.seq + 1;
            flags = e.flags;
            ++result->entries;
            result->pageBytes += e.pageBytes;
        }
        if (applied) result->used.push_back(log.log->name);
    }
    if (!started) {
        result->problem = Localized("no log entry continues the hive");
        return;
    }
    unsigned char* p = reinterpret_cast<unsigned char*>(&(*image)[0]);
    StoreLe32(p + kBinsSize, static_cast<std::uint32_t>(image->size() - kBaseBlock));
    // Only the "locked by a transaction" bit travels in an entry.
    StoreLe32(p + kFlags, (LoadLe32(p + kFlags) & ~1u) | (flags & 1u));
}

// Old-format logs: the most recent one's pages written over the image. A
// second log holds everything the first does and more when Windows had to
// switch to it.
void ReplayOldLogs(const std::vector<OldLog>& oldLogs, const Primary& primary, std::string* image,
                   HiveReplay* result, Rejections* rejected) {
    const OldLog* chosen = &oldLogs[0];
    for (const OldLog& o : oldLogs)
        if (o.base.seq1 > chosen->base.seq1) chosen = &o;
    const std::string& log = chosen->log->bytes;
    const std::size_t size = kBaseBlock + chosen->base.bins;
    const std::size_t pageBytes = chosen->pages.size() * kSector;
    if (size > image->size() && size - image->size() > pageBytes) {
        rejected->Add(*chosen->log, Localized("it makes the hive larger than the pages it holds"));
        return;
    }
    if (!primary.base.valid) RestoreBase(image, log);
    image->resize(size);
    for (std::size_t k = 0; k < chosen->pages.size(); ++k)
        image->replace(kBaseBlock + static_cast<std::size_t>(chosen->pages[k]) * kSector, kSector, log,
                       chosen->pagesAt + k * kSector, kSector);
    StoreLe32(reinterpret_cast<unsigned char*>(&(*image)[0]) + kBinsSize, chosen->base.bins);
    result->used.push_back(chosen->log->name);
    result->entries = 1;
    result->pageBytes = pageBytes;
}

// The problem when no log could be used, naming why each was not.
std::string NothingUsed(bool anyLog, const std::string& problem, const Rejections& rejected) {
    if (!anyLog) return Localized("there is no log (NAME.LOG, NAME.LOG1 or NAME.LOG2) beside it");
    std::string text = problem.empty() ? Localized("no log beside it can be used") : problem;
    for (const std::string& w : rejected.why) text += "; " + w;
    return text;
}

}  // namespace

HiveReplay ReplayHiveLogs(std::string primaryBytes, const std::vector<HiveLog>& given) {
    HiveReplay result;
    result.problem = CheckPrimary(primaryBytes);
    if (!result.problem.empty()) return result;
    const Primary primary = ReadPrimary(primaryBytes);

    // LOG1 before LOG2 before LOG: ties go to the log Windows tries first.
    std::vector<const HiveLog*> logs;
    for (const HiveLog& log : given) logs.push_back(&log);
    std::stable_sort(logs.begin(), logs.end(), [](const HiveLog* a, const HiveLog* b) { return a->kind < b->kind; });

    Rejections rejected;
    std::vector<OldLog> oldLogs;
    std::vector<NewLog> newLogs;
    SortLogs(logs, primary, &oldLogs, &newLogs, &rejected);

    std::string image = std::move(primaryBytes);
    if (!newLogs.empty())
        ReplayNewLogs(newLogs, primary, &image, &result, &rejected);
    else if (!oldLogs.empty())
        ReplayOldLogs(oldLogs, primary, &image, &result, &rejected);

    if (result.used.empty()) {
        result.problem = NothingUsed(!logs.empty(), result.problem, rejected);
        return result;
    }
    std::string broken = CheckBins(image);
    if (!broken.empty()) {
        result.problem = broken + " (logs ";
        for (std::size_t i = 0; i < result.used.size(); ++i) result.problem += (i ? ", " : "") + result.used[i];
        result.problem += ")";
        result.used.clear();
        return result;
    }
    Finish(&image, Highest(primary, oldLogs, newLogs));
    result.image = std::move(image);
    result.recovered = true;
    return result;
}

}  // namespace kestro
