#include "offline/hive_file.h"

#include "core/bytes.h"
#include "offline/hive_backups.h"
#include "offline/hive_limits.h"
#include "offline/hive_log.h"
#include "offline/offline_windows.h"
#include "core/text.h"

#include <hivex.h>

#include <algorithm>
#include <atomic>
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

using namespace hive_base;

std::string Errno(int error) { return std::strerror(error); }

// Closes a hivex handle when it goes.
struct HiveCloser {
    void operator()(hive_h* h) const {
        if (h) hivex_close(h);
    }
};
using HivePtr = std::unique_ptr<hive_h, HiveCloser>;

// The name hivex opens an open file by: the descriptor's own, so that it
// reads the file this process checked, whatever the name points at now.
std::string SelfPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

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

// Whether the open file may be written: the mode bits say what the owner
// meant, even to root.
std::string CheckWritable(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return "cannot read it: " + Errno(errno);
    if ((st.st_mode & 0222) == 0 || ::access(SelfPath(fd).c_str(), W_OK) != 0)
        return "the file is read-only; make it writable (chmod u+w) if it is really meant to change";
    if (WindowsReadOnly(fd))
        return "the file is read-only: Windows marks it so (its read-only attribute; setfattr -n "
               "system.ntfs_attrib_be clears it on ntfs-3g) if it is really meant to change";
    return std::string();
}

std::string ReadOnlyVolume(const std::string& path) {
    return path + ": the volume is mounted read-only, so nothing can be written to it; nothing was changed. "
                  "Mount it read-write (for NTFS: ntfs-3g without -o ro) to change it";
}

std::atomic<long long> lockWaitMs{HiveFile::kLockWait.count()};

// Names a run stopped part-way leaves beside the hive NAME: its new hive not
// yet renamed (.NAME.kestro-...) and the undo link of a rollback
// (.NAME.kestro-undo). Only a writer holding the lock makes them.
bool IsLeftover(const std::string& entry, const std::string& name) {
    const std::string prefix = "." + name + ".kestro-";
    return entry.size() > prefix.size() && entry.compare(0, prefix.size(), prefix) == 0;
}

// ---------------------------------------------------------------- dump

// Where a walk of the hive puts what it reads.
class DumpSink {
public:
    virtual ~DumpSink() = default;
    virtual void Key(const std::string& path) = 0;
    virtual void Value(const char* name, std::uint32_t type, const char* data, std::size_t len) = 0;
};

// The canonical listing as text.
class TextSink final : public DumpSink {
public:
    explicit TextSink(std::string* out) : out_(out) {}
    void Key(const std::string& path) override { out_->append("[").append(path).append("]\n"); }
    void Value(const char* name, std::uint32_t type, const char* data, std::size_t len) override {
        static const char* hex = "0123456789abcdef";
        out_->append(name).append(" ").append(std::to_string(type)).append(" ");
        for (std::size_t i = 0; i < len; ++i) {
            auto b = static_cast<unsigned char>(data[i]);
            out_->push_back(hex[b >> 4]);
            out_->push_back(hex[b & 15]);
        }
        out_->push_back('\n');
    }

private:
    std::string* out_;
};

// The same listing folded into a 64-bit FNV-1a hash, so that two hives are
// compared without holding either listing, which is larger than the hive.
class HashSink final : public DumpSink {
public:
    void Key(const std::string& path) override {
        Mix("K", 1);
        Mix(path.data(), path.size() + 1);
    }
    void Value(const char* name, std::uint32_t type, const char* data, std::size_t len) override {
        unsigned char head[12];
        StoreLe32(head, type);
        StoreLe64(head + 4, len);
        Mix("V", 1);
        Mix(name, std::strlen(name) + 1);
        Mix(head, sizeof head);
        Mix(data, len);
    }
    std::uint64_t Hash() const { return hash_; }

private:
    void Mix(const void* data, std::size_t len) {
        const auto* p = static_cast<const unsigned char*>(data);
        for (std::size_t i = 0; i < len; ++i) hash_ = (hash_ ^ p[i]) * 0x100000001B3ull;
    }
    std::uint64_t hash_ = 0xCBF29CE484222325ull;
};

bool DumpNode(hive_h* h, hive_node_h node, const std::string& path, DumpSink* sink) {
    sink->Key(path);
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
            sink->Value(name, type, data, len);
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
        ok = DumpNode(h, *c, path + "\\" + name, sink);
        std::free(name);
    }
    std::free(children);
    return ok;
}

bool HashHive(hive_h* h, std::uint64_t* hash) {
    HashSink sink;
    if (!DumpNode(h, hivex_root(h), "", &sink)) return false;
    *hash = sink.Hash();
    return true;
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
    TextSink sink(out);
    return DumpNode(h, hivex_root(h), "", &sink);
}

// ---------------------------------------------------------------- logs

namespace {

// The logs of the hive `name` among `entries`, matched as Windows matches
// names (NTFS's case rule), in the order LOG1, LOG2, LOG. Two entries that
// fold to one log's name are refused, naming both: Windows would see only
// one of them, and which is not ours to guess.
bool LogNames(const std::vector<std::string>& entries, const std::string& folder, const std::string& name,
              std::vector<std::string>* logs, std::string* error) {
    logs->clear();
    for (const char* suffix : {".LOG1", ".LOG2", ".LOG"}) {
        const std::string wanted = name + suffix;
        std::vector<std::string> found;
        for (const std::string& entry : entries)
            if (SameNtfsName(entry, wanted)) found.push_back(entry);
        if (found.size() > 1) {
            std::sort(found.begin(), found.end());
            *error = folder + " holds both \"" + found[0] + "\" and \"" + found[1] +
                     "\", which Windows takes for one name; it would see only one of them. Rename or remove the "
                     "one that does not belong there";
            return false;
        }
        if (!found.empty()) logs->push_back(found[0]);
    }
    return true;
}

// Any entry but a folder: a log name that is a link, a FIFO or a device is
// then refused by name when it is opened (Folder::OpenFile), not skipped.
bool IsFileOrLink(const Folder& folder, const std::string& name) {
    struct stat st;
    return folder.Stat(name, &st) && !S_ISDIR(st.st_mode);
}

}  // namespace

std::vector<std::string> FindHiveLogs(const Folder& folder, const std::string& hive) {
    std::vector<std::string> names, logs;
    std::string error;
    if (!LogNames(folder.Names(), folder.Path(), hive, &names, &error)) throw OfflineError(1, error);
    for (const std::string& name : names)
        if (IsFileOrLink(folder, name)) logs.push_back(name);
    return logs;
}

std::vector<std::string> FindHiveLogs(const std::string& path) {
    std::vector<std::string> logs;
    Folder folder;
    std::string error;
    if (!Folder::Open(DirName(path), nullptr, &folder, &error)) return logs;
    for (const std::string& name : FindHiveLogs(folder, BaseName(path))) logs.push_back(folder.PathOf(name));
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

// The checks of the base block of the open hive file `fd`.
std::string CheckBaseBlock(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return "cannot read it: " + Errno(errno);
    unsigned char base[kBinsSize + 4];
    if (::pread(fd, base, sizeof base, 0) != static_cast<ssize_t>(sizeof base))
        return "it is too short to be a registry hive";
    if (std::memcmp(base + kSignature, "regf", 4) != 0) return "it does not start with a registry hive's signature";
    if (LoadLe32(base + kSeq1) != LoadLe32(base + kSeq2))
        return "the hive is dirty (Windows was not shut down cleanly, and its logs hold changes not yet in "
               "the hive)";
    std::uint64_t needed = kBaseBlock + static_cast<std::uint64_t>(LoadLe32(base + kBinsSize));
    if (static_cast<std::uint64_t>(st.st_size) < needed)
        return "the file is shorter than its hive bins (" + std::to_string(st.st_size) + " of " +
               std::to_string(needed) + " bytes): it is truncated; restore it from a backup";
    return std::string();
}

// The checks of the hive's bytes, after CheckWritable: its base block, and
// a walk of the whole tree.
std::string CheckHive(int fd) {
    std::string why = CheckBaseBlock(fd);
    if (!why.empty()) return why;
    errno = 0;
    HivePtr h(hivex_open(SelfPath(fd).c_str(), 0));
    if (!h) return "hivex cannot read it (" + Errno(errno) + ")";
    if (!ReadsToTheEnd(h.get()))
        return "its tree cannot be read to the end (" + Errno(errno) + "): it is damaged; restore it from a backup";
    return std::string();
}

bool Same(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

}  // namespace

HiveFile::ScopedLockWait::ScopedLockWait(std::chrono::milliseconds wait) { lockWaitMs = wait.count(); }
HiveFile::ScopedLockWait::~ScopedLockWait() { lockWaitMs = kLockWait.count(); }

HiveFile::HiveFile(hive_h* h, std::string path, Mode mode) : h_(h), path_(std::move(path)), mode_(mode) {}

HiveFile::~HiveFile() {
    // Without a commit hivex drops whatever changed in memory.
    if (h_) hivex_close(h_);
    if (imageFd_ >= 0) ::close(imageFd_);
}

hive_h* HiveFile::Handle() const {
    if (!h_ && reload_) h_ = hivex_open(SelfPath(fd_.Get()).c_str(), mode_ == Mode::ReadOnly ? 0 : HIVEX_OPEN_WRITE);
    return h_;
}

std::vector<std::string> HiveFile::LogPaths() const {
    std::vector<std::string> out;
    for (const LogFile& log : logs_) out.push_back(LogPath(log));
    return out;
}

std::unique_ptr<HiveFile> HiveFile::Open(const std::string& path, Mode mode, std::string* error,
                                         const VolumeBound* volume) {
    // hivex is given each open file by its /proc/self/fd name, so that it
    // reads the very file checked here.
    if (::access("/proc/self/fd", X_OK) != 0) {
        *error = path + ": /proc is not mounted here, and hives are read through it; mount it (mount -t proc proc "
                        "/proc) and run again";
        return nullptr;
    }
    const std::string name = BaseName(path);
    std::unique_ptr<HiveFile> file(new HiveFile(nullptr, path, mode));
    file->name_ = name;
    Folder& folder = file->folder_;
    std::string why;
    if (!Folder::Open(DirName(path), volume, &folder, &why)) {
        *error = path + ": " + why;
        return nullptr;
    }

    // A writer takes the hive for itself before reading it, and clears
    // away what a run stopped part-way left; a reader only names it.
    std::vector<std::string> notes;
    if (mode == Mode::Write) {
        if (folder.ReadOnly()) {
            *error = ReadOnlyVolume(path);
            return nullptr;
        }
        why = file->Lock();
        if (!why.empty()) {
            *error = why;
            return nullptr;
        }
    }
    for (const std::string& entry : folder.Names()) {
        if (!IsLeftover(entry, name)) continue;
        if (mode == Mode::Write) {
            folder.Remove(entry);
            notes.push_back("removed " + folder.PathOf(entry) + ", left by a run that was stopped part-way");
        } else {
            notes.push_back("note: " + folder.PathOf(entry) +
                            " was left by a run that was stopped part-way; the next command that writes removes it");
        }
    }

    UniqueFd fd;
    if (!folder.OpenFile(name, O_RDONLY, &fd, &why)) {
        *error = why;
        return nullptr;
    }
    struct stat st;
    if (::fstat(fd.Get(), &st) != 0) {
        *error = path + ": " + Errno(errno);
        return nullptr;
    }
    why = CheckHiveFileSize(st);
    if (!why.empty()) {
        *error = path + ": " + why;
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
        dirty = ::pread(fd.Get(), head, sizeof head, 0) == static_cast<ssize_t>(sizeof head) &&
                HiveNeedsLogs(head, sizeof head);
    }
    if (dirty) {
        std::string primary;
        FileFault fault;
        if (!ReadDescriptor(fd.Get(), kMaxHiveBytes, &primary, &fault))
            problem = fault.step == FileStep::TooLarge
                          ? "it is larger than " + std::to_string(kMaxHiveBytes >> 20) + " MiB"
                          : fault.reason;
        std::vector<HiveLog> logs;
        std::vector<std::string> logNames;
        if (!LogNames(folder.Names(), folder.Path(), name, &logNames, &why)) {
            *error = why;
            return nullptr;
        }
        for (const std::string& logName : logNames) {
            if (!IsFileOrLink(folder, logName)) continue;
            HiveLog log{HiveLog::Kind::Log, logName, std::string()};
            const std::string upper = AsciiUpper(logName.substr(logName.size() - 4));
            if (upper == "LOG1") log.kind = HiveLog::Kind::Log1;
            if (upper == "LOG2") log.kind = HiveLog::Kind::Log2;
            LogFile file;
            file.name = logName;
            std::string logWhy;
            struct stat lst;
            if (!folder.OpenFile(logName, mode == Mode::Write ? O_RDWR : O_RDONLY, &file.fd, &logWhy) ||
                ::fstat(file.fd.Get(), &lst) != 0) {
                if (problem.empty()) problem = logWhy.empty() ? logName + ": " + Errno(errno) : logWhy;
                continue;
            }
            if (!ReadDescriptor(file.fd.Get(), kMaxHiveLogBytes, &log.bytes, &fault)) {
                if (problem.empty())
                    problem = log.name + ": " +
                              (fault.step == FileStep::TooLarge
                                   ? "it is larger than " + std::to_string(kMaxHiveLogBytes >> 20) + " MiB"
                                   : fault.reason);
                continue;
            }
            file.read = Identity{lst.st_dev, lst.st_ino, lst.st_size, lst.st_mtim, lst.st_ctim};
            logFiles.push_back(std::move(file));
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
                imagePath = SelfPath(imageFd);
                used = replay.used;
                // A replay that leaves a hive hivex cannot read to the end
                // is no recovery. A hive to be changed gets this walk at its
                // first change.
                if (mode == Mode::ReadOnly) {
                    std::string walk = CheckHive(imageFd);
                    if (!walk.empty()) problem = "the replayed hive cannot be used: " + walk;
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
    // hivex reads a hive it may change into memory: the file itself is
    // written only by Commit.
    const std::string source = imagePath.empty() ? SelfPath(fd.Get()) : imagePath;
    hive_h* h = hivex_open(source.c_str(), mode == Mode::ReadOnly ? 0 : HIVEX_OPEN_WRITE);
    if (!h) {
        int e = errno;
        if (imageFd >= 0) ::close(imageFd);
        *error = path + ": not a registry hive that can be read (" + Errno(e) + ")";
        if (dirty) *error += "; it is dirty, and its logs cannot be used: " + problem;
        return nullptr;
    }
    file->h_ = h;
    file->fd_ = std::move(fd);
    file->read_ = Identity{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
    file->notes_ = std::move(notes);
    file->dirty_ = dirty;
    file->recovered_ = dirty && !imagePath.empty();
    file->logProblem_ = file->recovered_ ? std::string() : problem;
    file->logsUsed_ = used;
    file->logs_ = std::move(logFiles);
    file->imageFd_ = imageFd;
    file->imagePath_ = imagePath;
    return file;
}

std::string LockHive(const Folder& folder, const std::string& name, WriterLock* lock) {
    if (lock->Held()) return std::string();
    bool readOnly = false;
    std::string why;
    if (lock->Acquire(folder, name, std::chrono::milliseconds(lockWaitMs.load()), &why, &readOnly))
        return std::string();
    return readOnly ? ReadOnlyVolume(folder.PathOf(name)) : folder.PathOf(name) + ": " + why;
}

std::string HiveFile::Lock() { return LockHive(folder_, name_, &lock_); }

std::string HiveFile::CheckFile(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return "cannot read it: " + Errno(errno);
    std::string why = CheckWritable(fd.Get());
    return why.empty() ? CheckHive(fd.Get()) : why;
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
                why = CheckWritable(fd_.Get());
                for (const LogFile& log : logs_)
                    if (why.empty() && !CheckWritable(log.fd.Get()).empty())
                        why = LogPath(log) + ": " + CheckWritable(log.fd.Get());
                if (why.empty()) why = CheckHive(imageFd_);
                if (!why.empty()) why = "recovered from its logs, but " + why;
            } else {
                // hivex holds what the file held: its tree is walked below.
                why = CheckWritable(fd_.Get());
                if (why.empty()) why = CheckBaseBlock(fd_.Get());
            }
            if (why.empty()) {
                // What is in memory must be a hive that reads to the end too.
                if (!ReadsToTheEnd(Handle()))
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
    // The lock is held from the read to the end of the commit; a second
    // commit of the same object takes it again, and then finds any change
    // made between the two.
    std::string error = Lock();
    if (!error.empty()) return error;
    struct Unlock {
        WriterLock& lock;
        ~Unlock() { lock.Release(); }
    } unlock{lock_};
    std::string temp;
    bool madeBackup = false;
    renamed_ = false;
    error = CommitSteps(options, &temp, &madeBackup);
    if (!error.empty() && !h_ && reload_) {
        // hivex's copy was let go after the new file was verified, and the
        // changes are now only in that file, which this failure takes away.
        changed_ = false;
        checked_ = true;
        refusal_ = path_ + ": a commit of it failed; nothing more is written to it.";
    }
    if (!error.empty()) {
        if (renamed_) {
            std::string state = RollBack();
            // Nothing may be taken away now: the backups are the originals.
            if (!state.empty()) return path_ + ": " + error + "; " + state;
        }
        // The original is as it was; take away what this attempt made.
        if (!temp.empty()) folder_.Remove(temp);
        if (madeBackup) folder_.Remove(BaseName(backupPath_));
        for (LogFile& log : logs_) {
            if (!log.backup.empty()) folder_.Remove(log.backup);
            log.backup.clear();
            log.emptied = false;
        }
        backupPath_.clear();
        // Removing the backup's link changed the original's change time.
        struct stat now;
        if (::fstat(fd_.Get(), &now) == 0) read_.ctime = now.st_ctim;
        return path_ + ": " + error +
               (logs_.empty() ? ". The file was left as it was." : ". The file and its logs were left as they were.");
    }
    for (LogFile& log : logs_) {
        if (options.backup) {
            logBackups_.push_back(folder_.PathOf(log.backup));
        } else {
            folder_.Remove(log.backup);
        }
        emptiedLogs_.push_back(LogPath(log));
    }
    if (!options.backup && madeBackup) {
        // Kept only to undo a failure past the rename.
        folder_.Remove(BaseName(backupPath_));
        backupPath_.clear();
    }
    recordProblem_.clear();
    if (!backupPath_.empty() && !options.run.empty() &&
        !RecordCommit(folder_, name_, BaseName(backupPath_), options.run, &recordProblem_) && recordProblem_.empty())
        recordProblem_ = "the record cannot be written";
    pruned_.clear();
    if (!backupPath_.empty() && !options.run.empty() && recordProblem_.empty() && options.keep >= 0)
        pruned_ = PruneBackups(folder_, name_, options.keep);
    // The files now hold a clean hive and empty logs.
    replaced_.Reset();
    logs_.clear();
    if (imageFd_ >= 0) ::close(imageFd_);
    imageFd_ = -1;
    imagePath_.clear();
    dirty_ = recovered_ = false;
    changed_ = false;
    return std::string();
}

std::string HiveFile::CheckUnchanged() const {
    const auto changed = [this](int fd, const std::string& name, const Identity& read) {
        struct stat now, named;
        return ::fstat(fd, &now) != 0 || !folder_.Stat(name, &named) || named.st_ino != read.inode ||
               named.st_dev != read.device || now.st_size != read.size || !Same(now.st_mtim, read.mtime) ||
               !Same(now.st_ctim, read.ctime);
    };
    if (changed(fd_.Get(), name_, read_)) return "it changed on disk after it was read; run again";
    for (const LogFile& log : logs_)
        if (changed(log.fd.Get(), log.name, log.read))
            return "its log " + LogPath(log) + " changed on disk after it was read; run again";
    return std::string();
}

std::string HiveFile::RollBack() {
    // The logs emptied so far get their bytes back from their copies. Where
    // one cannot, the new hive stays: it is clean and holds all the logs
    // held, while the old one would need the log that is lost.
    std::vector<std::string> lost;
    for (LogFile& log : logs_) {
        if (!log.emptied) continue;
        UniqueFd copy;
        std::string why;
        FileFault fault;
        if (!failLogRestore_ && folder_.OpenFile(log.backup, O_RDONLY, &copy, &why) &&
            CopyOver(copy.Get(), log.fd.Get(), &fault))
            log.emptied = false;
        else
            lost.push_back(log.name);
    }
    if (!lost.empty()) {
        std::string names;
        for (const std::string& name : lost) names += (names.empty() ? "" : ", ") + name;
        std::string kept = backupPath_;
        for (const LogFile& log : logs_)
            if (!log.backup.empty()) kept += ", " + folder_.PathOf(log.backup);
        logs_.clear();
        replaced_.Reset();
        dirty_ = recovered_ = false;
        changed_ = false;
        return "the log " + names + " could not be put back, so the new hive stays: it is in place, clean, and "
               "holds everything its logs held (Windows does not replay the logs of a clean hive). The originals "
               "are kept as " + kept;
    }
    // The original comes back under its name through a second link to it,
    // so that the backup stays.
    const std::string undo = "." + name_ + ".kestro-undo";
    folder_.Remove(undo);
    FileFault fault;
    bool linked = folder_.Link(replaced_.Get(), undo) || CopyInto(replaced_.Get(), folder_, undo, &fault);
    if (linked && folder_.Rename(undo, name_, &fault)) {
        folder_.Flush();
        fd_ = std::move(replaced_);
        struct stat back;
        if (::fstat(fd_.Get(), &back) == 0)
            read_ = Identity{back.st_dev, back.st_ino, back.st_size, back.st_mtim, back.st_ctim};
        return std::string();
    }
    folder_.Remove(undo);
    std::string kept = backupPath_;
    for (const LogFile& log : logs_)
        if (!log.backup.empty()) kept += ", " + folder_.PathOf(log.backup);
    return "the new hive stays in place, and the original could not be put back; the originals are kept as " +
           kept;
}

std::string HiveFile::CommitSteps(const CommitOptions& options, std::string* temp, bool* madeBackup) {
    std::string changed = CheckUnchanged();
    if (!changed.empty()) return changed;
    auto failed = [this](int step) { return failAfterStep_ == step; };
    struct stat before;
    if (::fstat(fd_.Get(), &before) != 0) return "cannot read it: " + Errno(errno);

    // 1. The whole hive into a new file beside the original, so that the
    // rename at the end stays on one file system.
    UniqueFd out;
    FileFault fault;
    if (!folder_.CreateNew("." + name_, &out, temp, &fault))
        return "cannot create a file beside it: " + fault.reason;
    // The original's mode, owner, and what Windows keeps on it (its
    // descriptor above all) before the first byte: the copy of the hive is
    // never more open than the hive, even where the run is killed here.
    if (::fchmod(out.Get(), before.st_mode & 07777) != 0) return "cannot set the new hive's mode: " + Errno(errno);
    if (::fchown(out.Get(), before.st_uid, before.st_gid) != 0 && errno != EPERM)
        return "cannot set the new hive's owner: " + Errno(errno);
    if (!CarryWindowsAttributes(fd_.Get(), out.Get(), &fault))
        return "cannot keep what Windows set on it: " + fault.reason;
    errno = 0;
    if (hivex_commit(Handle(), SelfPath(out.Get()).c_str(), 0) != 0 || failed(1))
        return "cannot write the new hive: " + Errno(errno ? errno : EIO);

    // 2. On the disk.
    if (::fsync(out.Get()) != 0 || failed(2)) return "cannot flush the new hive: " + Errno(errno ? errno : EIO);

    // 3. Read back from the disk: sound, and the same keys and values as
    // what is in memory. hivex's copy is let go for the read-back and taken
    // again from the new file, so that the hive is in memory once at a time.
    std::string why = CheckBaseBlock(out.Get());
    if (!why.empty()) return "the new hive does not verify: " + why;
    std::uint64_t wanted = 0, written = 0;
    if (!HashHive(Handle(), &wanted)) return "the hive in memory does not read to the end";
    hivex_close(h_);
    h_ = nullptr;
    bool same = false;
    {
        errno = 0;
        HivePtr reread(hivex_open(SelfPath(out.Get()).c_str(), 0));
        same = reread && HashHive(reread.get(), &written) && written == wanted && !failed(3);
    }
    if (!same) {
        // hivex's copy again from what was read: the changes are lost, and
        // the commit fails.
        const int reload = imageFd_ >= 0 ? imageFd_ : fd_.Get();
        h_ = hivex_open(SelfPath(reload).c_str(), HIVEX_OPEN_WRITE);
        if (!h_) h_ = hivex_open(SelfPath(reload).c_str(), 0);
        changed_ = false;
        checked_ = true;
        refusal_ = path_ + ": a commit of it failed; nothing more is written to it.";
        return "the new hive does not read back as written";
    }
    // Taken again from the new file when next asked for (Handle): after the
    // rename that is fd_; before it, a failure puts the original back and
    // the new file's bytes are still what is wanted.
    reload_ = true;

    // 4. The original stays as NAME.kestro-bak: a second link to it where
    // the file system has them, else a copy with its descriptor. An older
    // backup is never replaced. With logs to empty, it is made even without
    // a backup wanted, to undo a failure past the rename.
    if (options.backup || !logs_.empty()) {
        // Above the backups of every log there may be, used by this run or
        // not: restore pairs a hive's backup with the logs' of the same suffix.
        const std::vector<std::string> names = {name_, name_ + ".LOG", name_ + ".LOG1", name_ + ".LOG2"};
        const std::string suffix = NextBackupSuffix(folder_.Names(), names);
        const std::string backup = name_ + suffix;
        if (!folder_.Link(fd_.Get(), backup) && !CopyInto(fd_.Get(), folder_, backup, &fault))
            return "cannot keep a backup: " + fault.reason;
        backupPath_ = folder_.PathOf(backup);
        *madeBackup = true;
        // A second link changes the original's own change time.
        struct stat linked;
        if (::fstat(fd_.Get(), &linked) == 0) read_.ctime = linked.st_ctim;
        if (failed(4)) return "cannot keep a backup: injected failure";

        // 5. Each log, byte for byte, beside it: a copy, since the log
        // itself is emptied in place below.
        for (std::size_t i = 0; i < logs_.size(); ++i) {
            LogFile& log = logs_[i];
            if (!CopyInto(log.fd.Get(), folder_, log.name + suffix, &fault))
                return "cannot keep a backup of its log: " + fault.reason;
            log.backup = log.name + suffix;
            if (failed(5) && failAfterLog_ == static_cast<int>(i))
                return "cannot keep a backup of its log " + LogPath(log) + ": injected failure";
        }
    }
    if (failed(5) && logs_.empty()) return "cannot keep a backup of its logs: injected failure";

    // 6. The new hive replaces the original in one step, unless someone
    // else's change came in meanwhile.
    changed = CheckUnchanged();
    if (!changed.empty()) return changed;
    if (failed(6)) return "cannot replace it: injected failure";
    if (!folder_.Rename(*temp, name_, &fault)) return "cannot replace it: " + fault.reason;
    temp->clear();
    renamed_ = true;
    replaced_ = std::move(fd_);
    fd_ = std::move(out);
    // The rename must be on the disk before the logs are emptied: a power
    // cut in between would otherwise leave the old dirty hive with empty
    // logs, its newest changes lost.
    if (!folder_.Flush() && !logs_.empty())
        return "cannot flush the folder after the rename: " + Errno(errno ? errno : EIO);

    // 7. The logs emptied: all they held is in the new hive, which is clean,
    // so Windows would not replay them; empty, no Windows ever can.
    for (std::size_t i = 0; i < logs_.size(); ++i) {
        LogFile& log = logs_[i];
        // From here the log may have lost bytes: a failure puts them back.
        log.emptied = true;
        if (::ftruncate(log.fd.Get(), 0) != 0 || ::fsync(log.fd.Get()) != 0)
            return "cannot empty its log " + LogPath(log) + ": " + Errno(errno);
        if (failed(7) && failAfterLog_ == static_cast<int>(i))
            return "cannot empty its log " + LogPath(log) + ": injected failure";
    }
    if (failed(7) && logs_.empty()) return "cannot finish: injected failure";

    struct stat after;
    if (::fstat(fd_.Get(), &after) == 0)
        read_ = Identity{after.st_dev, after.st_ino, after.st_size, after.st_mtim, after.st_ctim};
    return std::string();
}

}  // namespace kestro
