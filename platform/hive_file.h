// One registry hive file of a Windows that is not running, opened through
// hivex. A hive belongs to a Windows that must still boot afterwards, so a
// change reaches the disk only through Commit: checked before, written to a
// new file beside the original, verified, and only then renamed over it.
//
// A hive that Windows left dirty is read as Windows would load it: its logs
// are replayed in memory (platform/hive_log.h) and hivex is given the
// recovered image, never the files. The files change only at Commit.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

struct hive_h;

namespace kestro {

class HiveFile {
public:
    enum class Mode {
        ReadOnly,  // the file is only read: every change is refused
        Write,     // loaded into memory; changes reach the file at Commit
    };

    // Opens `path`; null and *error when hivex cannot read it. A dirty
    // hive is opened as recovered from its logs where they can be used, else
    // as the file holds it (see Dirty and LogProblem).
    static std::unique_ptr<HiveFile> Open(const std::string& path, Mode mode, std::string* error);

    ~HiveFile();
    HiveFile(const HiveFile&) = delete;
    HiveFile& operator=(const HiveFile&) = delete;

    hive_h* Handle() const { return h_; }
    const std::string& Path() const { return path_; }
    Mode GetMode() const { return mode_; }

    // Whether the hive may be changed: opened for writing and the file
    // passed the checks below. Checked once, at the first change; an empty
    // result means yes, anything else says why not.
    const std::string& WriteRefusal();
    // Whether a change was attempted and refused.
    bool Refused() const { return checked_ && !refusal_.empty(); }

    // The checks a hive must pass before anything may be written into it:
    // the base block's magic, equal sequence numbers (a dirty hive is
    // checked as recovered from its logs, and refused where they cannot be
    // used), a size that covers the hive bins, a file that is not marked
    // read-only, and a walk of the whole tree without error. Empty when it
    // passes.
    static std::string CheckFile(const std::string& path);

    // The file was left dirty (its sequence numbers differ, or its base
    // block's checksum is wrong): its newest changes were in its logs.
    bool Dirty() const { return dirty_; }
    // A dirty hive that is held as recovered from its logs.
    bool Recovered() const { return recovered_; }
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
        bool backup = true;  // keep the original as NAME.kestro-bak, and its logs beside it
    };
    // Writes the changes: to a new file beside the original, flushed,
    // reopened and compared with what is in memory; then the backup; then
    // the rename over the original, with the original's mode and owner.
    // For a hive recovered from its logs, every log is also copied byte for
    // byte beside the backup before the rename, and emptied after it: the
    // new hive is clean and holds all they held, and an empty log is one no
    // Windows replays. Any failure leaves the original and every log as they
    // were. Empty on success, else why.
    std::string Commit(const CommitOptions& options);
    // Where the last Commit kept the original, or empty.
    const std::string& BackupPath() const { return backupPath_; }
    // Where the last Commit kept the logs, and the logs it emptied.
    const std::vector<std::string>& LogBackupPaths() const { return logBackups_; }
    const std::vector<std::string>& EmptiedLogs() const { return emptiedLogs_; }

    // For tests: the step of the next Commit (1 written, 2 flushed, 3
    // verified, 4 backed up, 5 logs backed up, 6 renamed, 7 logs emptied)
    // after which it fails as if that step had gone wrong; for steps 5 and
    // 7, after the log `log` (counted from 0) of that step. 0: none.
    void FailCommitAfterStepForTesting(int step, int log = 0) {
        failAfterStep_ = step;
        failAfterLog_ = log;
    }

private:
    HiveFile(hive_h* h, std::string path, Mode mode);

    struct LogFile {
        std::string path;
        off_t size = 0;
        timespec mtime = {};
        std::string backup;  // during and after a commit
        bool emptied = false;
    };

    std::string CommitSteps(const CommitOptions& options, std::string* temp, bool* madeBackup);
    // Puts the original and its logs back after a failure past the rename.
    bool RollBack();
    std::string CheckLogsUnchanged() const;

    hive_h* h_;
    std::string path_;
    Mode mode_;
    bool changed_ = false;
    bool checked_ = false;
    std::string refusal_;
    std::string backupPath_;
    off_t size_ = 0;        // the file as it was read, to notice
    timespec mtime_ = {};   // another writer before we replace it
    int failAfterStep_ = 0;
    int failAfterLog_ = 0;

    bool dirty_ = false;
    bool recovered_ = false;
    std::string logProblem_;
    std::vector<std::string> logsUsed_;
    std::vector<LogFile> logs_;
    int imageFd_ = -1;       // the recovered image, in memory
    std::string imagePath_;  // and its name for hivex
    bool renamed_ = false;   // the commit under way got past its rename
    std::vector<std::string> logBackups_;
    std::vector<std::string> emptiedLogs_;
};

// NAME.LOG1, NAME.LOG2 and NAME.LOG beside the hive `path`, without regard to
// case: those that are regular files.
std::vector<std::string> FindHiveLogs(const std::string& path);

// A value's data (malloc'd, for the caller to free) and its type, as
// hivex_value_value gives them. hivex hands the type over as its enum, but a
// hive from elsewhere may hold any 32-bit number there, which that enum
// cannot carry: here it is the number as stored.
char* HiveValueData(hive_h* h, std::size_t value, std::uint32_t* type, std::size_t* len);

// A canonical listing of every key and value of an open hive (names, types,
// raw data), for comparing two hives' contents.
bool DumpHive(hive_h* h, std::string* out);

}  // namespace kestro
