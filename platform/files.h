// Whole files in and out, for everything the program reads from or leaves
// on a disk: profiles, .reg and Registry.pol files. Names are UTF-8; on
// Windows they are opened through the wide API, so any name works.
//
// A reader never takes more than its limit into memory, however large the
// file. A writer replaces a file whole or not at all, and what it wrote is
// on the disk when it returns: an export that an administrator copies into
// SYSVOL must not turn out empty or cut short after a power cut.
#pragma once

#include <cstddef>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <vector>
#endif

namespace kestro {

// Where a file operation failed.
enum class FileStep {
    Open,      // reading: the file cannot be opened
    Read,      // reading: a read failed
    TooLarge,  // reading: more than the limit
    Create,    // writing: the temporary file cannot be made
    Write,     // writing: a write to it failed
    Flush,     // writing: it cannot be flushed to the disk
    Replace,   // writing: it cannot be renamed over the target
    Carry,     // writing: what Windows keeps on the file cannot be carried over to the new one
};

struct FileFault {
    FileStep step = FileStep::Open;
    std::string reason;  // the system's words; empty for TooLarge
};

// The whole file, but never more than `limit` bytes: reading stops at the
// limit, and a larger file is a TooLarge fault.
bool ReadFileBounded(const std::string& path, std::size_t limit, std::string* bytes, FileFault* fault);

// Replaces `path` with `size` bytes, or leaves it as it was. The bytes go to
// a new file with a name of its own beside the target (so that two writers,
// or a file left by a crash, never meet), are flushed to the disk, and that
// file is renamed over the target; on POSIX the folder is flushed too, so
// that the rename itself lasts. On any failure the temporary file is
// removed.
bool WriteFileDurably(const std::string& path, const void* data, std::size_t size, FileFault* fault);

// The same with the fault in words: the system's, or "the file is larger
// than N bytes".
bool ReadWholeFile(const std::string& path, std::size_t limit, std::string* bytes, std::string* error);
bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string* error);

// An existing file, not a folder.
bool IsExistingFile(const std::string& path);

// A file, a folder or anything else by that name (a link, even a dangling one).
bool PathExists(const std::string& path);

// Creates the folder unless it exists; false when it cannot, or when
// something else has the name.
bool MakeFolder(const std::string& path);

// The path made absolute against the current folder.
std::string FullPath(const std::string& path);

// For tests: the next file step of this module in this process that is
// `step` (Create, Write, Flush, Replace or Carry: WriteFileDurably's, or
// the folder operations' below) fails as if the system had refused. At
// Write, half of the bytes are written first.
class ScopedFileWriteFailure {
public:
    explicit ScopedFileWriteFailure(FileStep step);
    ~ScopedFileWriteFailure();
    ScopedFileWriteFailure(const ScopedFileWriteFailure&) = delete;
    ScopedFileWriteFailure& operator=(const ScopedFileWriteFailure&) = delete;
};

#ifndef _WIN32

// ---------------------------------------------------------------- folders
// The files of a Windows volume, worked on from Linux. A folder is opened
// once and held; every file below is opened by its name relative to that
// descriptor and never through a symbolic link, and then used by its own
// descriptor, so that nothing swapped in under a name meanwhile is read,
// changed or copied.

// The folder part of the POSIX path `path` ("." for a bare name, "/" for
// one at the root) and its last part.
std::string DirName(const std::string& path);
std::string BaseName(const std::string& path);

// A file descriptor that is closed when it goes.
class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int Get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes the descriptor held; false when close failed.
    bool Reset(int fd = -1);

private:
    int fd_;
};

// How far folders are followed: below `root` only while each one stays on
// the file system `device` (that of the Windows folder), so that a
// junction such as "Documents and Settings" -> "Users" is followed and a
// link off the volume is not.
struct VolumeBound {
    std::string root;
    dev_t device = 0;
};

class Folder {
public:
    // Opens the folder `path`. With a bound whose root `path` lies below, the
    // folders under the root are entered one at a time, each on
    // bound->device or refused; otherwise `path` is opened as it is.
    static bool Open(const std::string& path, const VolumeBound* bound, Folder* folder, std::string* error);

    bool IsOpen() const { return static_cast<bool>(fd_); }
    int Fd() const { return fd_.Get(); }
    const std::string& Path() const { return path_; }
    std::string PathOf(const std::string& name) const { return path_ + "/" + name; }
    // The file system is mounted read-only.
    bool ReadOnly() const;

    // The regular file `name`, never through a symbolic link: a link is
    // refused with "is a symbolic link", anything not a regular file too.
    bool OpenFile(const std::string& name, int flags, UniqueFd* fd, std::string* error) const;
    // The entry `name` itself (a link is not followed); false when absent.
    bool Stat(const std::string& name, struct stat* st) const;
    // The names in the folder, without . and ..
    std::vector<std::string> Names() const;

    // A new file `prefix` plus a part of its own, which no other file has
    // (mode 0600, to be set by the caller).
    bool CreateNew(const std::string& prefix, UniqueFd* fd, std::string* name, FileFault* fault) const;
    // Renames `from` over `to` in one step (Replace).
    bool Rename(const std::string& from, const std::string& to, FileFault* fault) const;
    // A second name for the open file `fd` (a hard link: the same file, so
    // the same descriptor and attributes); false where the file system has
    // no hard links, or the name is taken.
    bool Link(int fd, const std::string& name) const;
    void Remove(const std::string& name) const;
    // Flushes the folder: renames and new names reach the disk.
    bool Flush() const;

private:
    UniqueFd fd_;
    std::string path_;
};

// What Windows keeps on a file besides its bytes, where the mount exposes
// it as extended attributes: its security descriptor (ntfs-3g's
// system.ntfs_acl, the kernel ntfs3 driver's system.ntfs_security), its DOS
// attributes (system.ntfs_attrib_be on both, system.dos_attrib on older
// ntfs3) and its creation time (ntfs-3g's system.ntfs_crtime). Each one that
// `from` has is set on `to` and read back; false (Carry) when one cannot be.
// A file system that has none (ext4, tmpfs) carries nothing and succeeds.
bool CarryWindowsAttributes(int from, int to, FileFault* fault);

// Whether Windows marks the file read-only (its DOS read-only attribute),
// where the mount shows it: an ntfs-3g mount without the permissions
// option shows it in no mode bit.
bool WindowsReadOnly(int fd);

// The bytes of `from` into the new file `name` of `folder` (which must not
// exist), with `from`'s mode and Windows attributes, flushed.
bool CopyInto(int from, const Folder& folder, const std::string& name, FileFault* fault);
// The bytes of `from` over those of `to`, in place, flushed.
bool CopyOver(int from, int to, FileFault* fault);
// The whole file behind `fd` from its start, but never more than `limit`.
bool ReadDescriptor(int fd, std::size_t limit, std::string* bytes, FileFault* fault);
bool WriteAll(int fd, const char* data, std::size_t size);

// One writer at a time for a file: an exclusive lock (flock) on NAME.kestro-
// lock beside it, which holds who has it (process, host, since when). The
// kernel drops the lock with the process, so a killed run leaves at most
// the file, which the next run takes over; the holder removes it when done.
class WriterLock {
public:
    WriterLock() = default;
    ~WriterLock() { Release(); }
    WriterLock(const WriterLock&) = delete;
    WriterLock& operator=(const WriterLock&) = delete;

    // Waits at most `wait` for the lock on `name` in `folder`. False when
    // another holds it that long (*error names the holder), or when the
    // lock file cannot be made (*error says why; *readOnly when the volume
    // is mounted read-only).
    bool Acquire(const Folder& folder, const std::string& name, std::chrono::milliseconds wait,
                 std::string* error, bool* readOnly);
    void Release();
    bool Held() const { return static_cast<bool>(fd_); }
    static std::string LockName(const std::string& name) { return name + ".kestro-lock"; }

private:
    const Folder* folder_ = nullptr;
    std::string lockName_;
    UniqueFd fd_;
};

#endif

}  // namespace kestro
