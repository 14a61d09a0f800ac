#include "platform/hive_file.h"

#include "platform/bytes.h"
#include "platform/hive_log.h"
#include "platform/offline_windows.h"
#include "platform/text.h"

#include <hivex.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kestro {

namespace {

std::string Errno(int error) { return std::strerror(error); }

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

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size) {
        ssize_t put = ::write(fd, data, size);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        data += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

// The whole file, if it is at most `limit` bytes; else why not.
std::string ReadBounded(const std::string& path, std::uint64_t limit, std::string* out, struct stat* st) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.fd < 0 || ::fstat(fd.fd, st) != 0) return "cannot read it: " + Errno(errno);
    if (static_cast<std::uint64_t>(st->st_size) > limit)
        return "it is larger than " + std::to_string(limit >> 20) + " MiB";
    out->assign(static_cast<std::size_t>(st->st_size), '\0');
    std::size_t done = 0;
    while (done < out->size()) {
        ssize_t got = ::pread(fd.fd, &(*out)[done], out->size() - done, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return "cannot read it: " + Errno(errno);
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    out->resize(done);
    return std::string();
}

// Copies `from`'s bytes over `to`'s, in place, flushed.
bool CopyBytesOver(const std::string& from, const std::string& to) {
    std::string bytes;
    struct stat st;
    if (!ReadBounded(from, kMaxHiveLogBytes, &bytes, &st).empty()) return false;
    Fd out(::open(to.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    return out.fd >= 0 && WriteAll(out.fd, bytes.data(), bytes.size()) && ::fsync(out.fd) == 0;
}

// An unnamed file in memory holding `bytes`, or -1.
int MemoryFile(const std::string& bytes) {
    int fd = ::memfd_create("kestro-recovered-hive", MFD_CLOEXEC);
    if (fd < 0) return -1;
    if (!WriteAll(fd, bytes.data(), bytes.size())) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Whether the file may be written: the mode bits say what the owner meant,
// even to root.
std::string CheckWritable(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return "cannot read it: " + Errno(errno);
    if ((st.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0)
        return "the file is read-only; make it writable (chmod u+w) if it is really meant to change";
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


// ---------------------------------------------------------------- logs

std::vector<std::string> FindHiveLogs(const std::string& path) {
    std::vector<std::string> logs;
    for (const char* suffix : {".LOG1", ".LOG2", ".LOG"}) {
        std::string found = FindEntryNoCase(DirName(path), BaseName(path) + suffix);
        struct stat st;
        if (!found.empty() && ::stat(found.c_str(), &st) == 0 && S_ISREG(st.st_mode)) logs.push_back(found);
    }
    return logs;
}

// ---------------------------------------------------------------- file

namespace {

// A plain function rather than a lambda: a lambda's thunk would load the
// type as the enum it is declared, and a hive may hold any number there.
int AcceptAnyValue(hive_h*, void*, hive_node_h, hive_value_h, hive_type, size_t, const char*, const char*) {
    return 0;
}

// Every key's name, values and sub-keys, and every value's bytes, as the
// store and the commit's comparison read them; errno says why not. Without
// value_any hivex walks past a DWORD or a string whose bytes it cannot read.
bool ReadsToTheEnd(hive_h* h) {
    hivex_visitor visitor = {};
    visitor.value_any = AcceptAnyValue;
    errno = 0;
    return hivex_visit(h, &visitor, sizeof visitor, nullptr, 0) == 0;
}

// The checks of the hive's bytes, after CheckWritable.
std::string CheckHive(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return "cannot read it: " + Errno(errno);
    unsigned char base[0x30];
    {
        Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (fd.fd < 0) return "cannot read it: " + Errno(errno);
        ssize_t got = ::pread(fd.fd, base, sizeof base, 0);
        if (got != static_cast<ssize_t>(sizeof base)) return "it is too short to be a registry hive";
    }
    if (std::memcmp(base, "regf", 4) != 0) return "it does not start with a registry hive's signature";
    if (LoadLe32(base + 4) != LoadLe32(base + 8))
        return "the hive is dirty (Windows was not shut down cleanly, and its logs hold changes not yet in "
               "the hive)";
    std::uint64_t needed = 0x1000ull + LoadLe32(base + 0x28);
    if (static_cast<std::uint64_t>(st.st_size) < needed)
        return "the file is shorter than its hive bins (" + std::to_string(st.st_size) + " of " +
               std::to_string(needed) + " bytes): it is truncated; restore it from a backup";

    errno = 0;
    HivePtr h(hivex_open(path.c_str(), 0));
    if (!h) return "hivex cannot read it (" + Errno(errno) + ")";
    if (!ReadsToTheEnd(h.get()))
        return "its tree cannot be read to the end (" + Errno(errno) + "): it is damaged; restore it from a backup";
    return std::string();
}

}  // namespace

HiveFile::HiveFile(hive_h* h, std::string path, Mode mode) : h_(h), path_(std::move(path)), mode_(mode) {}

HiveFile::~HiveFile() {
    // Without a commit hivex drops whatever changed in memory.
    if (h_) hivex_close(h_);
    if (imageFd_ >= 0) ::close(imageFd_);
}

std::vector<std::string> HiveFile::LogPaths() const {
    std::vector<std::string> out;
    for (const LogFile& log : logs_) out.push_back(log.path);
    return out;
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

    // A dirty hive: its logs replayed into an image in memory, which hivex
    // reads by name; neither the hive nor a log is written.
    bool dirty = false;
    std::string problem, imagePath;
    int imageFd = -1;
    std::vector<std::string> used;
    std::vector<LogFile> logFiles;
    {
        unsigned char head[512];
        Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        dirty = fd.fd >= 0 && ::pread(fd.fd, head, sizeof head, 0) == static_cast<ssize_t>(sizeof head) &&
                HiveNeedsLogs(head, sizeof head);
    }
    if (dirty) {
        std::string primary;
        struct stat pst;
        problem = ReadBounded(path, kMaxHiveBytes, &primary, &pst);
        std::vector<HiveLog> logs;
        for (const std::string& logPath : FindHiveLogs(path)) {
            HiveLog log{HiveLog::Kind::Log, BaseName(logPath), std::string()};
            const std::string upper = AsciiUpper(logPath.substr(logPath.size() - 4));
            if (upper == "LOG1") log.kind = HiveLog::Kind::Log1;
            if (upper == "LOG2") log.kind = HiveLog::Kind::Log2;
            struct stat lst;
            std::string why = ReadBounded(logPath, kMaxHiveLogBytes, &log.bytes, &lst);
            if (!why.empty()) {
                if (problem.empty()) problem = log.name + ": " + why;
                continue;
            }
            logFiles.push_back(LogFile{logPath, lst.st_size, lst.st_mtim, std::string(), false});
            logs.push_back(std::move(log));
        }
        if (problem.empty()) {
            HiveReplay replay = ReplayHiveLogs(std::move(primary), logs);
            logs.clear();
            if (!replay.recovered) {
                problem = replay.problem;
            } else if ((imageFd = MemoryFile(replay.image)) < 0) {
                problem = "cannot hold the recovered hive in memory: " + Errno(errno);
            } else {
                imagePath = "/proc/self/fd/" + std::to_string(imageFd);
                used = replay.used;
                // A replay that leaves a hive hivex cannot read to the end
                // is no recovery. A hive to be changed gets this walk at its
                // first change.
                if (mode == Mode::ReadOnly) {
                    std::string why = CheckHive(imagePath);
                    if (!why.empty()) problem = "the replayed hive cannot be used: " + why;
                }
                if (!problem.empty()) {
                    ::close(imageFd);
                    imageFd = -1;
                    imagePath.clear();
                    used.clear();
                }
            }
        }
    }

    errno = 0;
    // hivex reads a hive it may change into memory through a read-only
    // descriptor: the file itself is written only by Commit.
    const std::string source = imagePath.empty() ? path : imagePath;
    hive_h* h = hivex_open(source.c_str(), mode == Mode::ReadOnly ? 0 : HIVEX_OPEN_WRITE);
    if (!h) {
        int e = errno;
        if (imageFd >= 0) ::close(imageFd);
        *error = path + ": not a registry hive that can be read (" + Errno(e) + ")";
        if (dirty) *error += "; it is dirty, and its logs cannot be used: " + problem;
        return nullptr;
    }
    std::unique_ptr<HiveFile> file(new HiveFile(h, path, mode));
    file->size_ = st.st_size;
    file->mtime_ = st.st_mtim;
    file->dirty_ = dirty;
    file->recovered_ = dirty && !imagePath.empty();
    file->logProblem_ = file->recovered_ ? std::string() : problem;
    file->logsUsed_ = used;
    file->logs_ = std::move(logFiles);
    file->imageFd_ = imageFd;
    file->imagePath_ = imagePath;
    return file;
}

std::string HiveFile::CheckFile(const std::string& path) {
    std::string why = CheckWritable(path);
    return why.empty() ? CheckHive(path) : why;
}

const std::string& HiveFile::WriteRefusal() {
    if (!checked_) {
        checked_ = true;
        if (mode_ == Mode::ReadOnly) {
            refusal_ = path_ + ": opened read-only; nothing is written to it.";
        } else {
            std::string why;
            if (dirty_ && !recovered_) {
                why = "the hive is dirty (Windows was not shut down cleanly, and its newest changes are only in "
                      "its logs), and its logs cannot be used: " + logProblem_ +
                      ". Writing it would lose those changes; restore the hive and its logs from a backup";
            } else if (recovered_) {
                // The recovered image is checked; the files must be writable.
                why = CheckWritable(path_);
                for (const LogFile& log : logs_)
                    if (why.empty() && !CheckWritable(log.path).empty()) why = log.path + ": " + CheckWritable(log.path);
                if (why.empty()) why = CheckHive(imagePath_);
                if (!why.empty()) why = "recovered from its logs, but " + why;
            } else {
                why = CheckFile(path_);
            }
            if (why.empty()) {
                // What is in memory must be a hive that reads to the end too.
                if (!ReadsToTheEnd(h_))
                    why = "its tree cannot be read to the end (" + Errno(errno) + ")";
            }
            if (!why.empty()) refusal_ = path_ + ": " + why + ". Nothing was written to it.";
        }
    }
    return refusal_;
}

std::string HiveFile::Commit(const CommitOptions& options) {
    backupPath_.clear();
    logBackups_.clear();
    emptiedLogs_.clear();
    if (!changed_) return std::string();
    if (!WriteRefusal().empty()) return WriteRefusal();
    std::string temp;
    bool madeBackup = false;
    renamed_ = false;
    std::string error = CommitSteps(options, &temp, &madeBackup);
    if (!error.empty()) {
        if (renamed_ && !RollBack()) {
            // Nothing may be taken away now: the backups are the originals.
            std::string kept = backupPath_;
            for (const LogFile& log : logs_)
                if (!log.backup.empty()) kept += ", " + log.backup;
            return path_ + ": " + error + ", and the originals could not be put back; they are kept as " + kept;
        }
        // The original is as it was; take away what this attempt made.
        if (!temp.empty()) ::unlink(temp.c_str());
        if (madeBackup) ::unlink(backupPath_.c_str());
        for (LogFile& log : logs_) {
            if (!log.backup.empty()) ::unlink(log.backup.c_str());
            log.backup.clear();
            log.emptied = false;
        }
        backupPath_.clear();
        return path_ + ": " + error +
               (logs_.empty() ? ". The file was left as it was." : ". The file and its logs were left as they were.");
    }
    for (LogFile& log : logs_) {
        if (options.backup) {
            logBackups_.push_back(log.backup);
        } else {
            ::unlink(log.backup.c_str());
        }
        emptiedLogs_.push_back(log.path);
    }
    if (!options.backup && madeBackup) {
        // Kept only to undo a failure past the rename.
        ::unlink(backupPath_.c_str());
        backupPath_.clear();
    }
    // The files now hold a clean hive and empty logs.
    logs_.clear();
    dirty_ = recovered_ = false;
    changed_ = false;
    return std::string();
}

std::string HiveFile::CheckLogsUnchanged() const {
    for (const LogFile& log : logs_) {
        struct stat st;
        if (::stat(log.path.c_str(), &st) != 0 || st.st_size != log.size || st.st_mtim.tv_sec != log.mtime.tv_sec ||
            st.st_mtim.tv_nsec != log.mtime.tv_nsec)
            return "its log " + log.path + " changed on disk after it was read; run again";
    }
    return std::string();
}

bool HiveFile::RollBack() {
    // The logs emptied so far get their bytes back; the original comes back
    // under its name through a second link to it, so that the backup stays.
    bool ok = true;
    for (LogFile& log : logs_) {
        if (log.emptied && CopyBytesOver(log.backup, log.path)) log.emptied = false;
        if (log.emptied) ok = false;
    }
    std::string back = DirName(path_) + "/." + BaseName(path_) + ".kestro-undo";
    ::unlink(back.c_str());
    bool linked = ::link(backupPath_.c_str(), back.c_str()) == 0;
    if (!linked) {
        struct stat st;
        linked = ::stat(backupPath_.c_str(), &st) == 0 && CopyFile(backupPath_, back, st.st_mode).empty();
    }
    if (linked && ::rename(back.c_str(), path_.c_str()) == 0) {
        FsyncPath(DirName(path_), O_RDONLY | O_DIRECTORY);
        struct stat after;
        if (::stat(path_.c_str(), &after) == 0) {
            size_ = after.st_size;
            mtime_ = after.st_mtim;
        }
        return ok;
    }
    ::unlink(back.c_str());
    return false;
}

std::string HiveFile::CommitSteps(const CommitOptions& options, std::string* temp, bool* madeBackup) {
    struct stat before;
    if (::stat(path_.c_str(), &before) != 0) return "cannot read it: " + Errno(errno);
    if (before.st_size != size_ || before.st_mtim.tv_sec != mtime_.tv_sec ||
        before.st_mtim.tv_nsec != mtime_.tv_nsec)
        return "it changed on disk after it was read; run again";
    std::string logsChanged = CheckLogsUnchanged();
    if (!logsChanged.empty()) return logsChanged;
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
    // system has them, else a copy. An older backup is never replaced. With
    // logs to empty, it is made even without a backup wanted, to undo a
    // failure past the rename.
    if (options.backup || !logs_.empty()) {
        std::string suffix = ".kestro-bak";
        auto taken = [this](const std::string& s) {
            if (Exists(path_ + s)) return true;
            for (const LogFile& log : logs_)
                if (Exists(log.path + s)) return true;
            return false;
        };
        for (int n = 1; taken(suffix); ++n) suffix = ".kestro-bak." + std::to_string(n);
        std::string backup = path_ + suffix;
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

        // 5. Each log, byte for byte, beside it: a copy, since the log
        // itself is emptied in place below.
        for (std::size_t i = 0; i < logs_.size(); ++i) {
            LogFile& log = logs_[i];
            struct stat st;
            if (::stat(log.path.c_str(), &st) != 0) return "cannot read its log " + log.path + ": " + Errno(errno);
            std::string copyError = CopyFile(log.path, log.path + suffix, st.st_mode);
            if (!copyError.empty()) {
                ::unlink((log.path + suffix).c_str());
                return "cannot keep a backup of its log: " + copyError;
            }
            log.backup = log.path + suffix;
            if (failed(5) && failAfterLog_ == static_cast<int>(i))
                return "cannot keep a backup of its log " + log.path + ": injected failure";
        }
    }
    if (failed(5) && logs_.empty()) return "cannot keep a backup of its logs: injected failure";

    // 6. The new hive replaces the original in one step.
    if (failed(6) || ::rename(temp->c_str(), path_.c_str()) != 0)
        return "cannot replace it: " + Errno(errno ? errno : EIO);
    temp->clear();
    renamed_ = true;
    // The rename must be on the disk before the logs are emptied: a power
    // cut in between would otherwise leave the old dirty hive with empty
    // logs, its newest changes lost.
    if (!FsyncPath(DirName(path_), O_RDONLY | O_DIRECTORY) && !logs_.empty())
        return "cannot flush the folder after the rename: " + Errno(errno ? errno : EIO);

    // 7. The logs emptied: all they held is in the new hive, which is clean,
    // so Windows would not replay them; empty, no Windows ever can.
    for (std::size_t i = 0; i < logs_.size(); ++i) {
        LogFile& log = logs_[i];
        Fd fd(::open(log.path.c_str(), O_WRONLY | O_CLOEXEC));
        if (fd.fd < 0) return "cannot empty its log " + log.path + ": " + Errno(errno);
        // From here the log may have lost bytes: a failure puts them back.
        log.emptied = true;
        if (::ftruncate(fd.fd, 0) != 0 || ::fsync(fd.fd) != 0)
            return "cannot empty its log " + log.path + ": " + Errno(errno);
        if (failed(7) && failAfterLog_ == static_cast<int>(i))
            return "cannot empty its log " + log.path + ": injected failure";
    }
    if (failed(7) && logs_.empty()) return "cannot finish: injected failure";

    struct stat after;
    if (::stat(path_.c_str(), &after) == 0) {
        size_ = after.st_size;
        mtime_ = after.st_mtim;
    }
    return std::string();
}

}  // namespace kestro
