// The way back from a commit: beside each backup a commit keeps
// (NAME.kestro-bak, NAME.kestro-bak.1, ...; each log's as NAME.LOG1.kestro-bak
// with the same suffix), a record of what that commit left in place (the
// new hive's and every log's size and hash, and which run made it), so that
// the backup is put back only over those very files: if Windows ran since,
// they changed, and putting the backup back would lose what it did.
#pragma once

#include "offline/volume.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

namespace kestro {

// Backup numbers go no higher than this: a name with a larger number (one
// kestroctl never made, planted to make the next number unreadable) is
// ignored, by a write and by restore, which says so.
constexpr long kMaxBackupNumber = 999999;

// The number of a backup suffix: 0 for ".kestro-bak", N for ".kestro-bak.N"
// (N of at most six digits, no sign, no leading zero); -1 for anything else.
long BackupNumber(const std::string& suffix);

// The suffix of the next backup of the files `names` (a hive and its logs,
// in any case) among the folder's `entries`: ".kestro-bak" when none of them has one,
// else ".kestro-bak.N" above the highest there is, so that the highest
// number is always the newest backup, even after an older one was removed
// by hand. Where the highest is already kMaxBackupNumber, the lowest number
// that is free.
std::string NextBackupSuffix(const std::vector<std::string>& entries, const std::vector<std::string>& names);

// The record's name beside a backup.
std::string BackupRecordPath(const std::string& backup);

// Whether `run` is a run name as NewRunName makes them (twenty digits of
// seconds, nine of nanoseconds, a process number), parsed strictly and not
// later than `now` (with a minute for a clock that was set back): a record
// that claims a run from the future was not made by kestroctl.
bool IssuedRunName(const std::string& run, std::int64_t now);

// A file as the commit that made it still holds it open (fd -1: not held)
// and, once taken (TakeFingerprint), its fingerprint with the size and
// modification time it had then.
struct HeldFile {
    int fd = -1;
    std::string fingerprint;  // "SIZE HASH"; empty until taken
    std::uint64_t size = 0;
    timespec mtime = {};
};
// The new hive and the original, which the backup is a second name of.
struct HeldFiles {
    HeldFile hive;
    HeldFile backup;
};

// Takes the fingerprint of `file` through its descriptor; false when it
// cannot be read, and then none is kept.
bool TakeFingerprint(HeldFile* file);

// Writes the record of a commit that kept `backup` of `hive`, both names in
// the held `folder` (the hive and its logs as they are now, the backup's
// fingerprint, made by `run`), by descriptor, while the caller holds the
// hive's writer lock; the record gets the hive's descriptor and attributes
// before its first byte. A file of `held` whose name still leads to it is
// read through that descriptor rather than opened again (the same file,
// and no second open of it through FUSE), and not read at all where its
// fingerprint was taken already and its size and modification time are
// still those it had then. False, with *error, when it cannot.
// Written to a new file and renamed, so a record is whole or absent.
bool RecordCommit(const Folder& folder, const std::string& hive, const std::string& backup, const std::string& run,
                  std::string* error, HeldFiles held = HeldFiles());

// How many runs' backups a hive keeps besides its first (the state before
// kestroctl ever touched it), unless told otherwise (--keep-backups N).
constexpr int kKeptRuns = 5;

// Removes, in the held `folder`, the backups of the hive `hive` (with their
// records and their logs' backups of the same number) but the first (the
// lowest number) and the `keep` newest (the highest numbers: each backup is
// numbered above every other), so that every write does not keep one more
// full copy of the hive. The caller holds the hive's writer lock. The names
// of the backups removed.
std::vector<std::string> PruneBackups(const Folder& folder, const std::string& hive, int keep);

// One hive's newest backup, and what its record says.
struct HiveBackup {
    std::string hive;    // the hive's path
    std::string backup;  // its newest backup; empty when it has none
    // Each log's path and the backup of it made with `backup`.
    std::vector<std::pair<std::string, std::string>> logs;
    bool recorded = false;  // a record kestroctl made was found and read
    std::string run;        // the run that made it, from the record
    std::string when;       // and when, for people
    // Empty when the hive and its logs are as the commit left them; else
    // how they differ (or that there is no record to tell).
    std::string changed;
    // What was passed over: backups whose record cannot be trusted, names
    // past kMaxBackupNumber.
    std::vector<std::string> notes;
};

// The newest backup of the hive `hive` in the held `folder`: of the backups
// whose record kestroctl made (an issued run, the backup's own fingerprint),
// the one of the newest run; where none has one, the highest-numbered, with
// `changed` saying why it is not trusted. Every file is opened by the
// volume's rule (Folder::OpenFile).
HiveBackup FindNewestBackup(const Folder& folder, const std::string& hive);

// Puts the backup back: each log's backup renamed over the log, the hive as
// it is now kept under a name of its own (*kept), and the backup renamed
// over the hive, so that every file is the original itself, with its
// security descriptor and attributes. Every name is taken in `folder`, the
// hive's folder held open (the caller holds the hive's writer lock), and a
// backup that is not a regular file with one name is refused. Empty on
// success, else what failed and in what state the files are.
std::string PutBack(const Folder& folder, const HiveBackup& backup, std::string* kept);

// A fast hash of a file's bytes, FNV-1a over 64-bit words (and the size
// folded in); false when it cannot be read.
bool HashFile(int fd, std::uint64_t* hash, std::uint64_t* size);

// HashFile's hash of bytes given piece by piece, however they are cut: for
// a file read for another purpose, fingerprinted on the way.
class FileHash {
public:
    void Add(const void* data, std::size_t len);
    std::uint64_t Size() const { return total_; }
    std::uint64_t Value() const;
    // "SIZE HASH", as a record holds it.
    std::string Fingerprint() const;

private:
    void Word(const unsigned char* at);
    std::uint64_t h_ = 0xcbf29ce484222325ull;
    std::uint64_t total_ = 0;
    unsigned char part_[8] = {};  // the bytes of a word not yet whole
    std::size_t partLen_ = 0;
};

}  // namespace kestro
