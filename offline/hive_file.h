// One registry hive file of a Windows that is not running, opened through
// hivex. A hive belongs to a Windows that must still boot afterwards, so a
// change reaches the disk only through Commit: checked before, written to a
// new file beside the original, verified, and only then renamed over it.
//
// A hive that Windows left dirty is read as Windows would load it: its logs
// are replayed in memory (offline/hive_log.h) and hivex is given the
// recovered image, never the files. The files change only at Commit.
#pragma once

#include "core/file_step.h"
#include "offline/writer_lock.h"

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

struct hive_h;

namespace kestro {

struct HiveLog;
struct HiveReplay;

// The steps of a hive's commit, in order, and, after a failure past the
// rename, putting the logs back. A test arms a failure after any of them
// with ScopedCommitFailure; for the steps taken once per log, `nth` counts
// the logs from 0.
enum class CommitStep {
    Written,       // a new file beside the original, given its mode, owner and Windows' attributes, then the whole hive
    Verified,      // read back from the file: the same keys and values as in memory
    Flushed,       // that file on the disk (its flush runs while it is verified)
    BackedUp,      // the original kept as NAME.kestro-bak
    LogsBackedUp,  // each log copied beside it
    Renamed,       // the new hive renamed over the original
    LogsEmptied,   // each log emptied
    LogsPutBack,   // a rollback: each emptied log given its bytes back
};
using ScopedCommitFailure = ScopedStepFailure<CommitStep>;

class HiveFile {
public:
    enum class Mode {
        ReadOnly,  // the file is only read: every change is refused
        Write,     // loaded into memory; changes reach the file at Commit
    };

    // Opens `path`; null and *error when hivex cannot read it. A dirty
    // hive is opened as recovered from its logs where they can be used, else
    // as the file holds it (see Dirty and LogProblem).
    //
    // The hive and its logs are never opened through a symbolic link (one is
    // refused, saying so), and with `volume` the folders on the way are
    // followed only while they stay on its file system. Opened for writing,
    // the hive is locked against other writers (WriterLock in
    // offline/writer_lock.h) until this object goes; a run that holds it longer
    // than the lock wait makes this fail naming that run. A volume mounted
    // read-only fails here too, with "the volume is mounted read-only".
    // Files that a run stopped part-way left beside the hive are removed
    // (writing) or named (reading) in Notes().
    static std::unique_ptr<HiveFile> Open(const std::string& path, Mode mode, std::string* error,
                                          const VolumeBound* volume = nullptr);
    // How long a write open waits for another writer of the same hive.
    static constexpr std::chrono::milliseconds kLockWait{10000};
    // For tests: another wait, until the object goes.
    class ScopedLockWait {
    public:
        explicit ScopedLockWait(std::chrono::milliseconds wait);
        ~ScopedLockWait();
        ScopedLockWait(const ScopedLockWait&) = delete;
        ScopedLockWait& operator=(const ScopedLockWait&) = delete;
    };

    ~HiveFile();
    HiveFile(const HiveFile&) = delete;
    HiveFile& operator=(const HiveFile&) = delete;

    // hivex's handle. After a commit hivex's copy is taken again from the
    // new file only when it is asked for: a command ends at its commit.
    hive_h* Handle() const;
    const std::string& Path() const { return path_; }
    // What the open found and did that the user should hear of.
    const std::vector<std::string>& Notes() const { return notes_; }
    Mode GetMode() const { return mode_; }

    // Whether the hive may be changed: opened for writing and the file
    // passed the checks below. Checked once, at the first change; an empty
    // result means yes, anything else says why not.
    const std::string& WriteRefusal();
    // Whether a change was attempted and refused.
    bool Refused() const { return writeState_ == WriteState::Refused; }

    // The checks a hive must pass before anything may be written into it:
    // the base block's magic, equal sequence numbers (a dirty hive is
    // checked as recovered from its logs, and refused where they cannot be
    // used), a size that covers the hive bins, a file that is not marked
    // read-only, and a walk of the whole tree without error. Empty when it
    // passes.
    static std::string CheckFile(const std::string& path);

    // The file was left dirty (its sequence numbers differ, or its base
    // block's checksum is wrong): its newest changes were in its logs.
    bool Dirty() const { return logState_ != LogState::Clean; }
    // A dirty hive that is held as recovered from its logs.
    bool Recovered() const { return logState_ == LogState::Recovered; }
    // A dirty hive whose logs could not be used: why. What is held is then
    // the file as it is, maybe older than what Windows would load.
    const std::string& LogProblem() const { return logProblem_; }
    // The names of the logs that were replayed, in order.
    const std::vector<std::string>& LogsUsed() const { return logsUsed_; }
    // Every log file beside a dirty hive (NAME.LOG, .LOG1, .LOG2).
    std::vector<std::string> LogPaths() const;

    void MarkChanged() { changed_ = true; }
    bool Changed() const { return changed_; }

    struct CommitOptions {
        explicit CommitOptions(bool keepBackup = true, std::string runName = std::string(), int keptRuns = -1)
            : backup(keepBackup), run(std::move(runName)), keep(keptRuns) {}
        bool backup = true;  // keep the original as NAME.kestro-bak, and its logs beside it
        // The run's name: with a backup kept, its record (offline/
        // hive_backups.h) is written beside it before the lock is let go.
        std::string run;
        // With a run: how many runs' backups to keep besides the first
        // (offline/hive_backups.h, PruneBackups); -1 keeps every one.
        int keep = -1;
    };
    // Writes the changes: to a new file beside the original with the
    // original's mode, owner and what Windows keeps on it (its security
    // descriptor, DOS attributes and creation time, where the mount has
    // them), reopened and compared with what is in memory while it is
    // flushed, and on the disk before anything depends on it; then the
    // backup (a second link to the original, or a copy with its
    // descriptor); then the rename over the original. For a hive recovered
    // from its logs, every log is also copied with its descriptor beside the
    // backup before the rename, and emptied after it: the new hive is clean
    // and holds all they held, and an empty log is one no Windows replays.
    // A hive or log that changed on disk since it was read fails the commit
    // before anything is written. Any failure leaves the original and every
    // log as they were, except where a log cannot be put back after the
    // rename: then the new hive, which holds everything, stays, and the
    // error says so. Empty on success, else why.
    std::string Commit(const CommitOptions& options);
    // Lets other writers have the hive (Commit does at its end); a later
    // Commit takes it again and finds any change made meanwhile.
    void Unlock() { lock_.Release(); }
    // Where the last Commit kept the original, or empty.
    const std::string& BackupPath() const { return backupPath_; }
    // Where the last Commit kept the logs, and the logs it emptied.
    const std::vector<std::string>& LogBackupPaths() const { return logBackups_; }
    const std::vector<std::string>& EmptiedLogs() const { return emptiedLogs_; }
    // The older backups the last Commit removed.
    const std::vector<std::string>& PrunedBackups() const { return pruned_; }
    // Empty, or why the last Commit kept a backup without its record.
    const std::string& RecordProblem() const { return recordProblem_; }

private:
    HiveFile(hive_h* h, std::string path, Mode mode);

    // A file as it was read, to notice any other writer before ours.
    struct Identity {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        timespec mtime = {}, ctime = {};
    };
    struct LogFile {
        std::string name;  // in the hive's folder
        UniqueFd fd;
        Identity read;
        std::string backup;  // during and after a commit
        bool emptied = false;
    };

    // One commit, a function a step (see hive_file.cpp).
    class CommitRun;

    // The steps of Open; each empty, or why the open fails.
    std::string TakeFolder(const VolumeBound* volume);
    std::string OpenOriginal();
    std::string RecoverFromLogs();
    std::string ReadLogs(std::vector<HiveLog>* logs, std::string* problem);
    std::string HoldReplay(const HiveReplay& replay);
    std::string LoadIntoHivex();

    // The one place the hive is refused further changes.
    void Refuse(const std::string& why);
    void RefuseAfterFailedCommit();
    // Empty, or why the hive may not be changed, as the user reads it.
    std::string WhyNotWritable();
    std::string CheckUnchanged() const;
    // Takes the writer's lock unless held; empty, or why not.
    std::string Lock();
    std::string LogPath(const LogFile& log) const { return folder_.PathOf(log.name); }

    mutable hive_h* h_;
    // Where hivex's copy comes from: what was read (the file, or the image
    // recovered from its logs), or, after a commit let it go, the new file,
    // taken again when asked for.
    enum class HivexSource { WhatWasRead, CommittedFile };
    HivexSource hivexSource_ = HivexSource::WhatWasRead;
    std::string path_;
    Mode mode_;
    Folder folder_;     // the hive's folder, held: every name is relative to it
    std::string name_;  // the hive's name in it
    WriterLock lock_;   // for writing: held until the object goes
    UniqueFd fd_;       // the hive file as read (after a commit, as written)
    Identity read_;
    UniqueFd replaced_;  // during a commit past its rename: the original
    std::vector<std::string> notes_;
    bool changed_ = false;
    // Whether the hive may be changed, checked at the first change; refusal_
    // says why not.
    enum class WriteState { Unchecked, Allowed, Refused };
    WriteState writeState_ = WriteState::Unchecked;
    std::string refusal_;
    std::string backupPath_;

    // A clean hive; a dirty one held as recovered from its logs; or a dirty
    // one whose logs cannot be used (logProblem_ says why), held as the
    // file is.
    enum class LogState { Clean, Recovered, Unrecovered };
    LogState logState_ = LogState::Clean;
    std::string logProblem_;
    std::vector<std::string> logsUsed_;
    std::vector<LogFile> logs_;
    int imageFd_ = -1;       // the recovered image, in memory
    std::string imagePath_;  // and its name for hivex
    std::vector<std::string> logBackups_;
    std::vector<std::string> emptiedLogs_;
    std::string recordProblem_;
    std::vector<std::string> pruned_;
};

// Takes the lock a write open of the hive `name` in `folder` takes, with
// the same wait and messages, for a command that changes the hive's files
// without opening it (restore). Empty, or why not; the lock is held until
// `lock` is released or goes, and `folder` must outlive it.
std::string LockHive(const Folder& folder, const std::string& name, WriterLock* lock);

// A value's data (malloc'd, for the caller to free) and its type, as
// hivex_value_value gives them. hivex hands the type over as its enum, but a
// hive from elsewhere may hold any 32-bit number there, which that enum
// cannot carry: here it is the number as stored.
char* HiveValueData(hive_h* h, std::size_t value, std::uint32_t* type, std::size_t* len);

// A canonical listing of every key and value of an open hive (names, types,
// raw data), for comparing two hives' contents. False, with nothing listed,
// where the hive does not read to the end or its keys lead round in a loop.
bool DumpHive(hive_h* h, std::string* out);

}  // namespace kestro
