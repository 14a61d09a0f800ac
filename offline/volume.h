// The files of a Windows volume, worked on from Linux. A folder is opened
// once and held; every file below is opened by its name relative to that
// descriptor and never through a symbolic link, and then used by its own
// descriptor, so that nothing swapped in under a name meanwhile is read,
// changed or copied.
#pragma once

#include "core/files.h"
#include "core/unique_fd.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace kestro {

// What the file of mode `mode` is, for people: "a symbolic link", "a
// FIFO", "a device", "a socket", "a folder"; empty for a regular file.
std::string WhatFileIs(mode_t mode);

// The folder part of the POSIX path `path` ("." for a bare name, "/" for
// one at the root) and its last part.
std::string DirName(const std::string& path);
std::string BaseName(const std::string& path);

// How far folders are followed: below `root` only while each one stays on
// the file system `device` (that of the folder that holds the Windows
// folder) and below `root` itself, so that a junction such as "Documents
// and Settings" -> "Users" (or a Windows folder that is a link to another
// folder of the volume) is followed and a link off the volume is not.
struct VolumeBound {
    std::string root;
    dev_t device = 0;
    // The root held open, where the caller holds it (borrowed, -1: none):
    // then every walk starts from that descriptor, and no path below the
    // root is ever given to the kernel whole.
    int rootFd = -1;
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

    // The one way a file on the volume is opened: `name` is looked at
    // first without being opened (O_PATH, no link followed), and only a
    // regular file with at most `names` names is then opened, by that very
    // descriptor, with `flags` plus O_NONBLOCK | O_NOCTTY | O_CLOEXEC. A
    // symbolic link, a FIFO, a device, a socket, a folder or a file with
    // more names (hard links) is refused, *error naming the file and what
    // it is, and is never opened: a FIFO would hang the run, a device's
    // open alone can act (a watchdog), and a second name would let a write
    // reach another file. errno is ENOENT when the name is absent.
    bool OpenFile(const std::string& name, int flags, UniqueFd* fd, std::string* error, nlink_t names = 1) const;
    // The same for a file that is made when absent (O_CREAT | O_EXCL, with
    // `mode`): the writer's lock.
    bool OpenOrCreate(const std::string& name, mode_t mode, UniqueFd* fd, std::string* error) const;
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

}  // namespace kestro
