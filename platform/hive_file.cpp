#include "platform/hive_file.h"

#include <hivex.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kestro {

namespace {

std::string Errno(int error) { return std::strerror(error); }

std::uint32_t Le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Closes a file descriptor when it goes.
struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

// Closes a hivex handle when it goes.
struct HiveCloser {
    void operator()(hive_h* h) const {
        if (h) hivex_close(h);
    }
};
using HivePtr = std::unique_ptr<hive_h, HiveCloser>;

std::string DirName(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

bool FsyncPath(const std::string& path, int flags) {
    Fd fd(::open(path.c_str(), flags | O_CLOEXEC));
    return fd.fd >= 0 && ::fsync(fd.fd) == 0;
}

// A byte copy of `from` at `to`, flushed, with `from`'s mode. `to` must not
// exist yet.
std::string CopyFile(const std::string& from, const std::string& to, mode_t mode) {
    Fd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.fd < 0) return "cannot read " + from + ": " + Errno(errno);
    Fd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 07777));
    if (out.fd < 0) return "cannot create " + to + ": " + Errno(errno);
    std::vector<char> buffer(1 << 16);
    for (;;) {
        ssize_t got = ::read(in.fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return "cannot read " + from + ": " + Errno(errno);
        if (got == 0) break;
        for (ssize_t done = 0; done < got;) {
            ssize_t put = ::write(out.fd, buffer.data() + done, static_cast<std::size_t>(got - done));
            if (put < 0 && errno == EINTR) continue;
            if (put < 0) return "cannot write " + to + ": " + Errno(errno);
            done += put;
        }
    }
    if (::fsync(out.fd) != 0) return "cannot flush " + to + ": " + Errno(errno);
    return std::string();
}

// ---------------------------------------------------------------- dump

void HexTo(std::string* out, const char* data, std::size_t len) {
    static const char* hex = "0123456789abcdef";
    for (std::size_t i = 0; i < len; ++i) {
        auto b = static_cast<unsigned char>(data[i]);
        out->push_back(hex[b >> 4]);
        out->push_back(hex[b & 15]);
    }
}

bool DumpNode(hive_h* h, hive_node_h node, const std::string& path, std::string* out) {
    out->append("[").append(path).append("]\n");
    errno = 0;
    hive_value_h* values = hivex_node_values(h, node);
    if (!values) return false;
    bool ok = true;
    for (hive_value_h* v = values; ok && *v; ++v) {
        char* name = hivex_value_key(h, *v);
        std::uint32_t type = 0;
        std::size_t len = 0;
        char* data = HiveValueData(h, *v, &type, &len);
        if (!name || !data) {
            ok = false;
        } else {
            out->append(name).append(" ").append(std::to_string(static_cast<unsigned>(type))).append(" ");
            HexTo(out, data, len);
            out->push_back('\n');
        }
        std::free(name);
        std::free(data);
    }
    std::free(values);
    if (!ok) return false;
    hive_node_h* children = hivex_node_children(h, node);
    if (!children) return false;
    for (hive_node_h* c = children; ok && *c; ++c) {
        char* name = hivex_node_name(h, *c);
        if (!name) {
            ok = false;
            break;
        }
        ok = DumpNode(h, *c, path + "\\" + name, out);
        std::free(name);
    }
    std::free(children);
    return ok;
}

}  // namespace

char* HiveValueData(hive_h* h, std::size_t value, std::uint32_t* type, std::size_t* len) {
    // Read into storage of the enum's size and take it as a number, rather
    // than load an enum object holding a value outside its range.
    static_assert(sizeof(hive_type) == sizeof(std::uint32_t), "hive_type is a 32-bit field");
    hive_type raw;
    char* data = hivex_value_value(h, value, &raw, len);
    std::memcpy(type, &raw, sizeof raw);
    return data;
}

bool DumpHive(hive_h* h, std::string* out) {
    out->clear();
    return DumpNode(h, hivex_root(h), "", out);
}

// ---------------------------------------------------------------- file

HiveFile::HiveFile(hive_h* h, std::string path, Mode mode) : h_(h), path_(std::move(path)), mode_(mode) {}

HiveFile::~HiveFile() {
    // Without a commit hivex drops whatever changed in memory.
    if (h_) hivex_close(h_);
}

std::unique_ptr<HiveFile> HiveFile::Open(const std::string& given, Mode mode, std::string* error) {
    // The file itself, not a link to it: the commit renames over it.
    char* real = ::realpath(given.c_str(), nullptr);
    const std::string path = real ? real : given;
    std::free(real);
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        *error = path + ": " + Errno(errno);
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = path + ": not a regular file";
        return nullptr;
    }
    errno = 0;
    // hivex reads a hive it may change into memory through a read-only
    // descriptor: the file itself is written only by Commit.
    hive_h* h = hivex_open(path.c_str(), mode == Mode::ReadOnly ? 0 : HIVEX_OPEN_WRITE);
    if (!h) {
        int e = errno;
        *error = path + ": not a registry hive that can be read (" + Errno(e) + ")";
        return nullptr;
    }
    std::unique_ptr<HiveFile> file(new HiveFile(h, path, mode));
    file->size_ = st.st_size;
    file->mtime_ = st.st_mtim;
    return file;
}

std::string HiveFile::CheckFile(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return "cannot read it: " + Errno(errno);
    // Root may write anything: the mode bits say what the owner meant.
    if ((st.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0)
        return "the file is read-only; make it writable (chmod u+w) if it is really meant to change";

    unsigned char base[0x30];
    {
        Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (fd.fd < 0) return "cannot read it: " + Errno(errno);
        ssize_t got = ::pread(fd.fd, base, sizeof base, 0);
        if (got != static_cast<ssize_t>(sizeof base)) return "it is too short to be a registry hive";
    }
    if (std::memcmp(base, "regf", 4) != 0) return "it does not start with a registry hive's signature";
    if (Le32(base + 4) != Le32(base + 8))
        return "the hive is dirty (Windows was not shut down cleanly, and its log holds changes not yet in "
               "the hive); start that Windows once and shut it down properly, then try again";
    std::uint64_t needed = 0x1000ull + Le32(base + 0x28);
    if (static_cast<std::uint64_t>(st.st_size) < needed)
        return "the file is shorter than its hive bins (" + std::to_string(st.st_size) + " of " +
               std::to_string(needed) + " bytes): it is truncated; restore it from a backup";

    errno = 0;
    HivePtr h(hivex_open(path.c_str(), 0));
    if (!h) return "hivex cannot read it (" + Errno(errno) + ")";
    hivex_visitor visitor = {};
    errno = 0;
    if (hivex_visit(h.get(), &visitor, sizeof visitor, nullptr, 0) != 0)
        return "its tree cannot be read to the end (" + Errno(errno) + "): it is damaged; restore it from a backup";
    return std::string();
}

const std::string& HiveFile::WriteRefusal() {
    if (!checked_) {
        checked_ = true;
        if (mode_ == Mode::ReadOnly) {
            refusal_ = path_ + ": opened read-only; nothing is written to it.";
        } else {
            std::string why = CheckFile(path_);
            if (why.empty()) {
                // What is in memory must be a hive that reads to the end too.
                hivex_visitor visitor = {};
                errno = 0;
                if (hivex_visit(h_, &visitor, sizeof visitor, nullptr, 0) != 0)
                    why = "its tree cannot be read to the end (" + Errno(errno) + ")";
            }
            if (!why.empty()) refusal_ = path_ + ": " + why + ". Nothing was written to it.";
        }
    }
    return refusal_;
}

std::string HiveFile::Commit(const CommitOptions& options) {
    backupPath_.clear();
    if (!changed_) return std::string();
    if (!WriteRefusal().empty()) return WriteRefusal();
    std::string temp;
    bool madeBackup = false;
    std::string error = CommitSteps(options, &temp, &madeBackup);
    if (!error.empty()) {
        // The original was never touched; take away what this attempt made.
        if (!temp.empty()) ::unlink(temp.c_str());
        if (madeBackup) ::unlink(backupPath_.c_str());
        backupPath_.clear();
        return path_ + ": " + error + ". The file was left as it was.";
    }
    changed_ = false;
    return std::string();
}

std::string HiveFile::CommitSteps(const CommitOptions& options, std::string* temp, bool* madeBackup) {
    struct stat before;
    if (::stat(path_.c_str(), &before) != 0) return "cannot read it: " + Errno(errno);
    if (before.st_size != size_ || before.st_mtim.tv_sec != mtime_.tv_sec ||
        before.st_mtim.tv_nsec != mtime_.tv_nsec)
        return "it changed on disk after it was read; run again";
    auto failed = [this](int step) { return failAfterStep_ == step; };

    // 1. The whole hive into a new file beside the original, so that the
    // rename at the end stays on one file system.
    std::string pattern = DirName(path_) + "/." + BaseName(path_) + ".kestro-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    {
        Fd fd(::mkstemp(name.data()));
        if (fd.fd < 0) return "cannot create a file beside it: " + Errno(errno);
    }
    *temp = name.data();
    errno = 0;
    if (hivex_commit(h_, temp->c_str(), 0) != 0 || failed(1))
        return "cannot write the new hive: " + Errno(errno ? errno : EIO);

    // 2. On the disk, with the original's mode and owner.
    {
        Fd fd(::open(temp->c_str(), O_RDWR | O_CLOEXEC));
        if (fd.fd < 0) return "cannot reopen the new hive: " + Errno(errno);
        if (::fchmod(fd.fd, before.st_mode & 07777) != 0) return "cannot set the new hive's mode: " + Errno(errno);
        if (::fchown(fd.fd, before.st_uid, before.st_gid) != 0 && errno != EPERM)
            return "cannot set the new hive's owner: " + Errno(errno);
        if (::fsync(fd.fd) != 0 || failed(2)) return "cannot flush the new hive: " + Errno(errno ? errno : EIO);
    }

    // 3. Read back from the disk: sound, and the same keys and values as
    // what is in memory.
    std::string why = CheckFile(*temp);
    if (!why.empty()) return "the new hive does not verify: " + why;
    {
        HivePtr reread(hivex_open(temp->c_str(), 0));
        std::string written, wanted;
        if (!reread || !DumpHive(reread.get(), &written) || !DumpHive(h_, &wanted) || written != wanted ||
            failed(3))
            return "the new hive does not read back as written";
    }

    // 4. The original stays as NAME.kestro-bak: a hard link where the file
    // system has them, else a copy. An older backup is never replaced.
    if (options.backup) {
        std::string backup = path_ + ".kestro-bak";
        for (int n = 1; Exists(backup); ++n) backup = path_ + ".kestro-bak." + std::to_string(n);
        if (::link(path_.c_str(), backup.c_str()) != 0) {
            std::string copyError = CopyFile(path_, backup, before.st_mode);
            if (!copyError.empty()) {
                ::unlink(backup.c_str());
                return "cannot keep a backup: " + copyError;
            }
        }
        backupPath_ = backup;
        *madeBackup = true;
        if (failed(4)) return "cannot keep a backup: injected failure";
    }

    // 5. The new hive replaces the original in one step.
    if (failed(5) || ::rename(temp->c_str(), path_.c_str()) != 0)
        return "cannot replace it: " + Errno(errno ? errno : EIO);
    temp->clear();
    FsyncPath(DirName(path_), O_RDONLY | O_DIRECTORY);

    struct stat after;
    if (::stat(path_.c_str(), &after) == 0) {
        size_ = after.st_size;
        mtime_ = after.st_mtim;
    }
    return std::string();
}

}  // namespace kestro
