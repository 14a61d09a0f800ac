// The way back from a commit: beside each backup a commit keeps
// (NAME.kestro-bak, NAME.kestro-bak.1, ...; each log's as NAME.LOG1.kestro-bak
// with the same suffix), a record of what that commit left in place (the
// new hive's and every log's size and hash, and which run made it), so that
// the backup is put back only over those very files: if Windows ran since,
// they changed, and putting the backup back would lose what it did.
#pragma once

#include "offline/volume.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kestro {

// The suffix of the next backup of the files `names` (a hive and its logs,
// in any case) among the folder's `entries`: ".kestro-bak" when none of them has one,
// else ".kestro-bak.N" above the highest there is, so that the highest
// number is always the newest backup, as restore takes it, even after an
// older one was removed by hand.
std::string NextBackupSuffix(const std::vector<std::string>& entries, const std::vector<std::string>& names);

// The record's name beside a backup.
std::string BackupRecordPath(const std::string& backup);

// Writes the record of a commit that kept `backup` of `hive` (the hive and
// its logs as they are now, made by `run`); false, with *error, when it
// cannot. Written to a new file and renamed, so a record is whole or absent.
bool RecordCommit(const std::string& hive, const std::string& backup, const std::string& run, std::string* error);

// One hive's newest backup, and what its record says.
struct HiveBackup {
    std::string hive;    // the hive's path
    std::string backup;  // its newest backup; empty when it has none
    // Each log's path and the backup of it made with `backup`.
    std::vector<std::pair<std::string, std::string>> logs;
    bool recorded = false;  // a record was found and read
    std::string run;        // the run that made it, from the record
    std::string when;       // and when, for people
    // Empty when the hive and its logs are as the commit left them; else
    // how they differ (or that there is no record to tell).
    std::string changed;
};

HiveBackup FindNewestBackup(const std::string& hive);

// Puts the backup back: each log's backup renamed over the log, the hive as
// it is now kept under a name of its own (*kept), and the backup renamed
// over the hive, so that every file is the original itself, with its
// security descriptor and attributes. Every name is taken in `folder`, the
// hive's folder held open (the caller holds the hive's writer lock), and a
// backup that is not a regular file is refused. Empty on success, else what
// failed and in what state the files are.
std::string PutBack(const Folder& folder, const HiveBackup& backup, std::string* kept);

// A fast hash of a file's bytes, FNV-1a over 64-bit words (and the size
// folded in); false when it cannot be read.
bool HashFile(const std::string& path, std::uint64_t* hash, std::uint64_t* size);

}  // namespace kestro
