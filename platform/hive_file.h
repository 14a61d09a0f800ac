// One registry hive file of a Windows that is not running, opened through
// hivex. A hive belongs to a Windows that must still boot afterwards, so a
// change reaches the disk only through Commit: checked before, written to a
// new file beside the original, verified, and only then renamed over it.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

struct hive_h;

namespace kestro {

class HiveFile {
public:
    enum class Mode {
        ReadOnly,  // the file is only read: every change is refused
        Write,     // loaded into memory; changes reach the file at Commit
    };

    // Opens `path`; null and *error when hivex cannot read it.
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
    // the base block's magic, equal sequence numbers (a hive left dirty by an
    // unclean shutdown has log data that only Windows can replay), a size
    // that covers the hive bins, a file that is not marked read-only, and a
    // walk of the whole tree without error. Empty when it passes.
    static std::string CheckFile(const std::string& path);

    void MarkChanged() { changed_ = true; }
    bool Changed() const { return changed_; }

    struct CommitOptions {
        bool backup = true;  // keep the original as NAME.kestro-bak
    };
    // Writes the changes: to a new file beside the original, flushed,
    // reopened and compared with what is in memory; then the backup; then
    // the rename over the original, with the original's mode and owner. Any
    // failure leaves the original as it was. Empty on success, else why.
    std::string Commit(const CommitOptions& options);
    // Where the last Commit kept the original, or empty.
    const std::string& BackupPath() const { return backupPath_; }

    // For tests: the step of the next Commit (1 written, 2 flushed, 3
    // verified, 4 backed up, 5 renamed) after which it fails as if that
    // step had gone wrong. 0: none.
    void FailCommitAfterStepForTesting(int step) { failAfterStep_ = step; }

private:
    HiveFile(hive_h* h, std::string path, Mode mode);

    std::string CommitSteps(const CommitOptions& options, std::string* temp, bool* madeBackup);

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
};

// A value's data (malloc'd, for the caller to free) and its type, as
// hivex_value_value gives them. hivex hands the type over as its enum, but a
// hive from elsewhere may hold any 32-bit number there, which that enum
// cannot carry: here it is the number as stored.
char* HiveValueData(hive_h* h, std::size_t value, std::uint32_t* type, std::size_t* len);

// A canonical listing of every key and value of an open hive (names, types,
// raw data), for comparing two hives' contents.
bool DumpHive(hive_h* h, std::string* out);

}  // namespace kestro
