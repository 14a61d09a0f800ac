// The transaction logs Windows keeps beside a registry hive, and their
// replay into a hive that an unclean stop left "dirty". A dirty hive's
// newest changes exist only in its logs, so reading the primary file alone
// shows an older registry than the one Windows would load.
//
// Both log formats are read: the old one (a copy of the base block, the
// "DIRT" bitmap of dirty 512-byte pages, the pages) that XP writes to
// NAME.LOG and Vista and 7 to NAME.LOG1/LOG2, and the new one of Windows
// 8.1 and later ("HvLE" entries, each with a sequence number and two
// Marvin32 hashes, split over LOG1 and LOG2). Everything happens on bytes in
// memory; the files are the caller's business.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestro {

// Where the fields of a hive's base block are: the first 4096 bytes of a
// hive file, of which a log keeps a copy of the first 512. The hive file's
// checks and the log replay read them from here.
namespace hive_base {
constexpr std::size_t kBaseBlock = 4096;  // the whole base block; the hive bins follow
constexpr std::size_t kSignature = 0;     // "regf"
constexpr std::size_t kSeq1 = 4, kSeq2 = 8;  // equal in a hive written to the end
constexpr std::size_t kStamp = 12;        // last written, a FILETIME
constexpr std::size_t kFileType = 28;     // 0 a hive, 1, 2 or 6 a log
constexpr std::size_t kBinsSize = 40;     // the bytes of hive bins after the base block
constexpr std::size_t kCluster = 44;      // sectors per cluster, in a log
constexpr std::size_t kFlags = 144;
constexpr std::size_t kChecksum = 508;    // BaseBlockChecksum of the bytes before it
}  // namespace hive_base

// What the replay takes in: each log file at most this long, and the hive it
// makes (base block and hive bins) at most this long.
constexpr std::uint64_t kMaxHiveLogBytes = 256ull << 20;
constexpr std::uint64_t kMaxHiveBytes = 1024ull << 20;

// The base block's checksum: the XOR of its first 127 little-endian words,
// never 0 and never ~0. `block` holds at least 512 bytes.
std::uint32_t BaseBlockChecksum(const unsigned char* block);

// Whether a hive file whose first bytes are `head` needs its logs: it has the
// "regf" signature, and its sequence numbers differ or its base block's
// checksum is wrong.
bool HiveNeedsLogs(const unsigned char* head, std::size_t size);

// Marvin32 of `size` bytes, as the new log format hashes its entries, with
// this seed: the bytes 82 EF 4D 88 7A 4E 55 C5 read as one number from the
// first byte down.
constexpr std::uint64_t kHiveLogSeed = 0x82EF4D887A4E55C5ull;
std::uint64_t Marvin32(const unsigned char* data, std::size_t size, std::uint64_t seed);

// One log file beside the hive.
struct HiveLog {
    enum class Kind { Log1, Log2, Log };  // NAME.LOG1, NAME.LOG2, NAME.LOG
    Kind kind;
    std::string name;  // for messages
    std::string bytes;
};

struct HiveReplay {
    bool recovered = false;
    // When recovered: the primary with the logs applied, a clean hive whose
    // two sequence numbers equal the highest number the logs hold; a commit
    // (hivex adds one) then writes it past all of them, so that none of
    // their entries can ever follow it.
    std::string image;
    // When not: why no log could be used, for the user.
    std::string problem;
    std::vector<std::string> used;  // the names of the logs applied, in order
    std::size_t entries = 0;        // log entries applied (an old-format log is one)
    std::size_t pageBytes = 0;      // bytes of dirty pages written into the hive
};

// Replays `logs` into `primary` (the whole primary file, which becomes the
// image: move it in to spare a copy) as Windows does when
// it loads the hive: the old format from the most recent log that belongs
// to this primary; the new format entry by entry in sequence order from the
// primary's own sequence number, the log with the earlier entries first and
// the other continuing it, an entry failing its hash ending a log's valid
// part. Never throws for what the bytes hold.
HiveReplay ReplayHiveLogs(std::string primary, const std::vector<HiveLog>& logs);

}  // namespace kestro
