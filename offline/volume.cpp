#include "offline/volume.h"

#include "core/file_faults.h"
#include "core/localized.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <vector>

namespace kestro {

using namespace file_faults;

std::string DirName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

namespace {

// A failure injected for tests, or the real one with errno's words.
bool StepFails(FileFault* fault, FileStep step, const std::string& what) {
    return Fail(fault, step, Why(what, errno));
}

// Each extended attribute Windows' state is kept in, by the names the mounts
// give it: the first name the source file answers to is the one carried.
struct WindowsAttribute {
    const char* what;
    const char* names[2];
};
constexpr WindowsAttribute kWindowsAttributes[] = {
    {N_("security descriptor"), {"system.ntfs_acl", "system.ntfs_security"}},
    {N_("DOS attributes"), {"system.ntfs_attrib_be", "system.dos_attrib"}},
    {N_("creation time"), {"system.ntfs_crtime", nullptr}},
};

// The value of `name` on `fd`; false when the file has none (or the file
// system has no such attribute). The size is asked first: ntfs-3g answers
// a buffer that is too small with EIO, not ERANGE.
bool GetAttribute(int fd, const char* name, std::string* value) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t size = ::fgetxattr(fd, name, nullptr, 0);
        if (size < 0) return false;
        value->assign(static_cast<std::size_t>(size), '\0');
        const ssize_t got = ::fgetxattr(fd, name, size ? &(*value)[0] : nullptr, value->size());
        if (got >= 0) {
            value->resize(static_cast<std::size_t>(got));
            return true;
        }
        if (errno != ERANGE) return false;
    }
    return false;
}

}  // namespace

std::string WhatFileIs(mode_t mode) {
    if (S_ISREG(mode)) return std::string();
    if (S_ISLNK(mode)) return Localized("a symbolic link");
    if (S_ISFIFO(mode)) return Localized("a FIFO");
    if (S_ISCHR(mode) || S_ISBLK(mode)) return Localized("a device");
    if (S_ISSOCK(mode)) return Localized("a socket");
    if (S_ISDIR(mode)) return Localized("a folder");
    return Localized("not a regular file");
}

namespace {

// The parts of a POSIX path, without empty ones and ".".
std::vector<std::string> PathParts(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t at = 0;
    while (at <= path.size()) {
        std::size_t slash = path.find('/', at);
        if (slash == std::string::npos) slash = path.size();
        std::string part = path.substr(at, slash - at);
        if (!part.empty() && part != ".") parts.push_back(part);
        at = slash + 1;
    }
    return parts;
}

// How many links one walk follows, as the kernel bounds its own.
constexpr int kMaxLinks = 40;

// The folders below `root` (held as `rootFd`) that `parts` name, entered one
// at a time: each one on `device`, and a symbolic link (a junction, as
// ntfs-3g shows one) followed only where it leads to a folder below `root`
// again, by its own words, never by the kernel's. Each step empty, or why
// the walk stops.
class BelowWalk {
public:
    BelowWalk(const std::string& root, UniqueFd rootFd, std::vector<std::string> parts, dev_t device)
        : root_(root), parts_(std::move(parts)), device_(device) {
        stack_.push_back(std::move(rootFd));
    }

    bool Run(UniqueFd* result, std::string* error) {
        while (next_ < parts_.size()) {
            const std::string part = parts_[next_++];
            *error = part == ".." ? Climb() : Step(part);
            if (!error->empty()) return false;
        }
        *result = std::move(stack_.back());
        return true;
    }

private:
    // The path of `part` below the folders entered, for a message.
    std::string Shown(const std::string& part) const {
        std::string at = root_ == "/" ? std::string() : root_;
        for (const std::string& n : names_) at += "/" + n;
        return at + "/" + part;
    }

    // The root as the kernel spells it, asked only for an absolute link.
    const std::string& CanonicalRoot() {
        if (canonical_.empty()) {
            canonical_ = root_;
            if (char* real = ::realpath(root_.c_str(), nullptr)) {
                canonical_ = real;
                std::free(real);
            }
        }
        return canonical_;
    }

    std::string Climb() {
        if (stack_.size() == 1)
            return Localized("%1: it leads off the Windows volume (above %2); it is not followed", Shown(".."), root_);
        stack_.pop_back();
        names_.pop_back();
        return std::string();
    }

    // One name: a link followed by its words, else a folder entered.
    std::string Step(const std::string& part) {
        UniqueFd look(::openat(stack_.back().Get(), part.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat st;
        if (!look || ::fstat(look.Get(), &st) != 0) return Why(Shown(part), errno);
        if (S_ISLNK(st.st_mode)) return FollowLink(part);
        if (!S_ISDIR(st.st_mode)) return Localized("%1: it is %2, not a folder", Shown(part), WhatFileIs(st.st_mode));
        return Enter(part, st);
    }

    // The link's target put in its place among the parts left: a relative
    // one from here, an absolute one from the root, and only where it names
    // a path below the volume's folder as the rescue system names it.
    std::string FollowLink(const std::string& part) {
        char target[4096];
        const ssize_t got = ::readlinkat(stack_.back().Get(), part.c_str(), target, sizeof target - 1);
        if (got <= 0 || ++links_ > kMaxLinks)
            return Localized("%1: a symbolic link that cannot be followed (%2)", Shown(part),
                             got <= 0 ? std::string(std::strerror(errno)) : Localized("too many links"));
        const std::string to(target, static_cast<std::size_t>(got));
        std::vector<std::string> more;
        if (to[0] == '/') {
            std::string inside;
            if (!BelowRoot(to, &inside))
                return Localized("%1: it is a symbolic link that leads off the Windows volume (to %2); it is not "
                                 "followed", Shown(part), to);
            stack_.resize(1);
            names_.clear();
            more = PathParts(inside);
        } else {
            more = PathParts(to);
        }
        parts_.insert(parts_.begin() + static_cast<std::ptrdiff_t>(next_), more.begin(), more.end());
        return std::string();
    }

    // Whether the absolute `to` lies below the root; *inside, the rest.
    bool BelowRoot(const std::string& to, std::string* inside) {
        for (const std::string& base : {root_, CanonicalRoot()}) {
            if (base == "/" || to == base) {
                *inside = base == "/" ? to : std::string();
                return true;
            }
            if (to.compare(0, base.size(), base) == 0 && to[base.size()] == '/') {
                *inside = to.substr(base.size());
                return true;
            }
        }
        return false;
    }

    // The folder `part` (as `st` saw it) entered, still on the device.
    std::string Enter(const std::string& part, const struct stat& st) {
        UniqueFd next(::openat(stack_.back().Get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat opened;
        if (!next || ::fstat(next.Get(), &opened) != 0) return Why(Shown(part), errno);
        if (opened.st_ino != st.st_ino || opened.st_dev != st.st_dev)
            return Localized("%1: it changed while it was opened; run again", Shown(part));
        if (device_ != 0 && opened.st_dev != device_)
            return Localized("%1: it leads off the Windows volume (to another file system); it is not followed",
                             Shown(part));
        stack_.push_back(std::move(next));
        names_.push_back(part);
        return std::string();
    }

    const std::string& root_;
    std::vector<std::string> parts_;
    const dev_t device_;
    std::size_t next_ = 0;         // the next of parts_
    std::vector<UniqueFd> stack_;  // the folders entered, root first
    std::vector<std::string> names_;
    std::string canonical_;
    int links_ = 0;
};

bool WalkBelow(const std::string& root, UniqueFd rootFd, std::vector<std::string> parts, dev_t device,
               UniqueFd* result, std::string* error) {
    return BelowWalk(root, std::move(rootFd), std::move(parts), device).Run(result, error);
}

}  // namespace

bool Folder::Open(const std::string& path, const VolumeBound* bound, Folder* folder, std::string* error) {
    std::string root = bound ? bound->root : std::string();
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    // A relative path is below "." too, and every absolute one below "/".
    const bool below = !root.empty() && ((root == "." && !path.empty() && path[0] != '/') ||
                                         (root == "/" && path.size() > 1 && path[0] == '/') ||
                                         (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                                          path[root.size()] == '/'));
    const bool atRoot = bound && bound->rootFd >= 0 && (below || path == root);
    UniqueFd fd(atRoot ? ::openat(bound->rootFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                       : ::open((below ? root : path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd) {
        *error = Why(below ? root : path, errno);
        return false;
    }
    if (below) {
        // One folder at a time from the root, each on the volume.
        const bool fromHere = root == "." && path.compare(0, 2, "./") != 0;
        const std::size_t skip = fromHere ? 0 : root == "/" ? 1 : root.size() + 1;
        UniqueFd walked;
        if (!WalkBelow(root, std::move(fd), PathParts(path.substr(std::min(skip, path.size()))), bound->device,
                       &walked, error))
            return false;
        fd = std::move(walked);
    }
    folder->fd_ = std::move(fd);
    folder->path_ = path;
    return true;
}

bool Folder::ReadOnly() const {
    struct statvfs vfs;
    return ::fstatvfs(fd_.Get(), &vfs) == 0 && (vfs.f_flag & ST_RDONLY);
}

bool Folder::OpenFile(const std::string& name, int flags, UniqueFd* fd, std::string* error, nlink_t names) const {
    // Looked at without being opened: no FIFO waits, no device acts.
    UniqueFd look(::openat(fd_.Get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (!look || ::fstat(look.Get(), &st) != 0) {
        const int code = errno;
        *error = Why(PathOf(name), code);
        errno = code;
        return false;
    }
    const auto refuse = [&](const std::string& why) {
        *error = PathOf(name) + ": " + why;
        errno = EPERM;
        return false;
    };
    if (S_ISLNK(st.st_mode))
        return refuse(Localized("it is a symbolic link; Windows never makes one of the files kestroctl opens, so it "
                                "is not followed"));
    if (!S_ISREG(st.st_mode))
        return refuse(Localized("it is %1, not a regular file; Windows never makes one there, so it is not opened",
                                WhatFileIs(st.st_mode)));
    // The number of names from the file system itself: FUSE (ntfs-3g)
    // may hold a count from before a rename that took one away.
    struct statx fresh;
    if (::statx(look.Get(), "", AT_EMPTY_PATH | AT_STATX_FORCE_SYNC, STATX_NLINK, &fresh) == 0 &&
        (fresh.stx_mask & STATX_NLINK))
        st.st_nlink = fresh.stx_nlink;
    if (st.st_nlink > names)
        return refuse(Localized("it has %1 names (hard links); Windows never gives its registry files a second "
                                "name, and a write to it would reach the other, so it is not used", st.st_nlink));
    // The very file looked at, opened through its descriptor.
    UniqueFd file(::open(("/proc/self/fd/" + std::to_string(look.Get())).c_str(),
                         (flags & ~(O_CREAT | O_EXCL | O_TRUNC)) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat opened;
    if (!file || ::fstat(file.Get(), &opened) != 0) {
        const int code = errno;
        *error = Why(PathOf(name), code);
        errno = code;
        return false;
    }
    if (opened.st_ino != st.st_ino || opened.st_dev != st.st_dev) return refuse(Localized("it changed while it was opened"));
    *fd = std::move(file);
    return true;
}

bool Folder::OpenOrCreate(const std::string& name, mode_t mode, UniqueFd* fd, std::string* error) const {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        if (OpenFile(name, O_RDWR, fd, error)) return true;
        if (errno != ENOENT) return false;
        UniqueFd made(::openat(fd_.Get(), name.c_str(),
                               O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode));
        if (made) {
            *fd = std::move(made);
            return true;
        }
        if (errno != EEXIST) {
            const int code = errno;
            *error = Why(PathOf(name), code);
            errno = code;
            return false;
        }
    }
    *error = Localized("%1: it keeps changing; run again", PathOf(name));
    return false;
}

bool Folder::Stat(const std::string& name, struct stat* st) const {
    return ::fstatat(fd_.Get(), name.c_str(), st, AT_SYMLINK_NOFOLLOW) == 0;
}

std::vector<std::string> Folder::Names() const {
    std::vector<std::string> names;
    const int copy = ::openat(fd_.Get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (copy < 0) return names;
    DIR* dir = ::fdopendir(copy);
    if (!dir) {
        ::close(copy);
        return names;
    }
    while (dirent* e = ::readdir(dir))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
    ::closedir(dir);
    return names;
}

bool Folder::CreateNew(const std::string& prefix, UniqueFd* fd, std::string* name, FileFault* fault) const {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        if (Injected(FileStep::Create)) return Fail(fault, FileStep::Create, kInjected);
        *name = prefix + TemporaryTail();
        UniqueFd file(::openat(fd_.Get(), name->c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (file) {
            *fd = std::move(file);
            return true;
        }
        if (errno != EEXIST) break;
    }
    return StepFails(fault, FileStep::Create, Localized("cannot create a file in %1", path_));
}

bool Folder::Rename(const std::string& from, const std::string& to, FileFault* fault) const {
    if (Injected(FileStep::Replace)) return Fail(fault, FileStep::Replace, kInjected);
    if (::renameat(fd_.Get(), from.c_str(), fd_.Get(), to.c_str()) == 0) return true;
    return StepFails(fault, FileStep::Replace, Localized("cannot rename %1 to %2", from, to));
}

bool Folder::Link(int fd, const std::string& name) const {
    // Through /proc rather than AT_EMPTY_PATH, which needs a capability.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    return ::linkat(AT_FDCWD, self.c_str(), fd_.Get(), name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

void Folder::Remove(const std::string& name) const { ::unlinkat(fd_.Get(), name.c_str(), 0); }

bool Folder::Flush() const { return ::fsync(fd_.Get()) == 0; }

// Of the DOS attributes, those a file can be given: read-only, hidden,
// system, archive, temporary, offline, not content-indexed. The others
// (sparse, compressed, a reparse point, ...) tell how the file is stored,
// which the new file has of its own.
constexpr std::uint32_t kSettableAttributes = 0x1 | 0x2 | 0x4 | 0x20 | 0x100 | 0x1000 | 0x2000;

// The DOS attributes `value` as stored (4 bytes big-endian, or 1 byte)
// with the settable ones taken from `from`.
static std::string MergeAttributes(const std::string& value, const std::string& from) {
    if (value.size() != from.size() || (value.size() != 4 && value.size() != 1)) return from;
    std::string merged = value;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const unsigned shift = 8 * static_cast<unsigned>(value.size() - 1 - i);
        const auto settable = static_cast<unsigned char>(kSettableAttributes >> shift);
        merged[i] = static_cast<char>((value[i] & ~settable) | (from[i] & settable));
    }
    return merged;
}

bool CarryWindowsAttributes(int from, int to, FileFault* fault) {
    if (Injected(FileStep::Carry)) return Fail(fault, FileStep::Carry, kInjected);
    for (const WindowsAttribute& attribute : kWindowsAttributes) {
        const bool dos = &attribute == &kWindowsAttributes[1];
        for (const char* name : attribute.names) {
            std::string value, back, present;
            if (!name || !GetAttribute(from, name, &value)) continue;
            if (dos && GetAttribute(to, name, &present)) value = MergeAttributes(present, value);
            if (::fsetxattr(to, name, value.data(), value.size(), 0) != 0)
                return StepFails(fault, FileStep::Carry, Localized("cannot give the new file its %1", Localized(attribute.what)));
            if (!GetAttribute(to, name, &back) || (dos ? MergeAttributes(back, value) != back : back != value))
                return Fail(fault, FileStep::Carry,
                            Localized("the new file's %1 does not read back as it was set", Localized(attribute.what)));
            break;
        }
    }
    return true;
}

bool WindowsReadOnly(int fd) {
    constexpr unsigned kReadOnly = 0x01;
    std::string value;
    if (GetAttribute(fd, "system.ntfs_attrib_be", &value) && value.size() == 4)
        return static_cast<unsigned char>(value[3]) & kReadOnly;
    if (GetAttribute(fd, "system.dos_attrib", &value) && value.size() == 1)
        return static_cast<unsigned char>(value[0]) & kReadOnly;
    return false;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size) {
        const ssize_t put = ::write(fd, data, size);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        data += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

namespace {

// As many bytes of `from` from its start as the kernel copies itself to
// `to` at its current position (copy_file_range: none pass through this
// process, and a file system that clones shares the blocks); where it
// stops, whatever the reason, the caller reads and writes on from there.
off_t CopyInKernel(int from, int to) {
    off_t at = 0;
    for (;;) {
        const ssize_t copied = ::copy_file_range(from, &at, to, nullptr, std::size_t{1} << 30, 0);
        if (copied < 0 && errno == EINTR) continue;
        if (copied <= 0) return at;
    }
}

// Every byte of `from` from its start to `to` at its current position.
bool CopyBytes(int from, int to, FileFault* fault) {
    std::vector<char> buffer(1 << 16);
    const bool injectedWrite = Injected(FileStep::Write);
    // Copied here to the end in any case, so that a kernel that stops short
    // (or has no such call) leaves nothing out.
    for (off_t at = injectedWrite ? 0 : CopyInKernel(from, to);;) {
        const ssize_t got = ::pread(from, buffer.data(), buffer.size(), at);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return StepFails(fault, FileStep::Write, Localized("cannot read the file to copy"));
        if (got == 0) break;
        if (!WriteAll(to, buffer.data(), static_cast<std::size_t>(injectedWrite ? got / 2 : got)))
            return StepFails(fault, FileStep::Write, Localized("cannot write the copy"));
        if (injectedWrite) return Fail(fault, FileStep::Write, kInjected);
        at += got;
    }
    if (Injected(FileStep::Flush)) return Fail(fault, FileStep::Flush, kInjected);
    if (::fsync(to) != 0) return StepFails(fault, FileStep::Flush, Localized("cannot flush the copy"));
    return true;
}

}  // namespace

bool CopyInto(int from, const Folder& folder, const std::string& name, FileFault* fault) {
    struct stat st;
    if (::fstat(from, &st) != 0) return StepFails(fault, FileStep::Create, Localized("cannot read the file to copy"));
    if (Injected(FileStep::Create)) return Fail(fault, FileStep::Create, kInjected);
    UniqueFd out(::openat(folder.Fd(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          st.st_mode & 07777));
    if (!out) return StepFails(fault, FileStep::Create, Localized("cannot create %1", folder.PathOf(name)));
    const bool copied = CarryWindowsAttributes(from, out.Get(), fault) && CopyBytes(from, out.Get(), fault);
    if (!copied) {
        out.Reset();
        folder.Remove(name);
        fault->reason = folder.PathOf(name) + ": " + fault->reason;
    }
    return copied;
}

bool CopyOver(int from, int to, FileFault* fault) {
    if (::ftruncate(to, 0) != 0 || ::lseek(to, 0, SEEK_SET) != 0)
        return StepFails(fault, FileStep::Write, Localized("cannot rewrite the file"));
    return CopyBytes(from, to, fault);
}

bool ReadDescriptor(int fd, std::size_t limit, std::string* bytes, FileFault* fault) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return StepFails(fault, FileStep::Read, Localized("cannot read it"));
    if (static_cast<std::uint64_t>(st.st_size) > limit) return Fail(fault, FileStep::TooLarge, std::string());
    bytes->assign(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t done = 0;
    while (done < bytes->size()) {
        const ssize_t got = ::pread(fd, &(*bytes)[done], bytes->size() - done, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return StepFails(fault, FileStep::Read, Localized("cannot read it"));
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    bytes->resize(done);
    return true;
}

}  // namespace kestro
