#include "offline/hive_file.h"

#include "core/bytes.h"
#include "core/localized.h"
#include "core/word_hash.h"
#include "offline/hive_backups.h"
#include "offline/hive_limits.h"
#include "offline/hive_log.h"
#include "offline/hive_names.h"
#include "core/text.h"

#include <hivex.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <future>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
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
    if (::fstat(fd, &st) != 0) return Localized("cannot read it: %1", Errno(errno));
    if ((st.st_mode & 0222) == 0 || ::access(SelfPath(fd).c_str(), W_OK) != 0)
        return Localized("the file is read-only; make it writable (chmod u+w) if it is really meant to change");
    if (WindowsReadOnly(fd))
        return Localized("the file is read-only: Windows marks it so (its read-only attribute; setfattr -n "
                         "system.ntfs_attrib_be clears it on ntfs-3g) if it is really meant to change");
    return std::string();
}

std::string ReadOnlyVolume(const std::string& path) {
    return Localized("%1: the volume is mounted read-only, so nothing can be written to it; nothing was changed. "
                     "Mount it read-write (for NTFS: ntfs-3g without -o ro) to change it", path);
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

// The same listing folded into a 64-bit hash (core/word_hash.h), so that
// two hives are compared without holding either listing, which is larger
// than the hive.
class HashSink final : public DumpSink {
public:
    void Key(const std::string& path) override {
        hash_.Mix("K", 1);
        hash_.Mix(path.data(), path.size() + 1);
    }
    void Value(const char* name, std::uint32_t type, const char* data, std::size_t len) override {
        unsigned char head[12];
        StoreLe32(head, type);
        StoreLe64(head + 4, len);
        hash_.Mix("V", 1);
        hash_.Mix(name, std::strlen(name) + 1);
        hash_.Mix(head, sizeof head);
        hash_.Mix(data, len);
    }
    std::uint64_t Hash() const { return hash_.Value(); }

private:
    WordHash hash_;
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
    // A walk by path would follow a key that lists itself until memory ran
    // out: a hive opened only to read has not had that check.
    if (!FindKeyLoop(h).empty()) return false;
    TextSink sink(out);
    return DumpNode(h, hivex_root(h), "", &sink);
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
    if (::fstat(fd, &st) != 0) return Localized("cannot read it: %1", Errno(errno));
    unsigned char base[kBinsSize + 4];
    if (::pread(fd, base, sizeof base, 0) != static_cast<ssize_t>(sizeof base))
        return Localized("it is too short to be a registry hive");
    if (std::memcmp(base + kSignature, "regf", 4) != 0) return Localized("it does not start with a registry hive's signature");
    if (LoadLe32(base + kSeq1) != LoadLe32(base + kSeq2))
        return Localized("the hive is dirty (Windows was not shut down cleanly, and its logs hold changes not yet in "
                         "the hive)");
    std::uint64_t needed = kBaseBlock + static_cast<std::uint64_t>(LoadLe32(base + kBinsSize));
    if (static_cast<std::uint64_t>(st.st_size) < needed)
        return Localized("the file is shorter than its hive bins (%1 of %2 bytes): it is truncated; restore it "
                         "from a backup", st.st_size, needed);
    return std::string();
}

// The checks of the hive's bytes, after CheckWritable: its base block, and
// a walk of the whole tree.
std::string CheckHive(int fd) {
    std::string why = CheckBaseBlock(fd);
    if (!why.empty()) return why;
    errno = 0;
    HivePtr h(hivex_open(SelfPath(fd).c_str(), 0));
    if (!h) return Localized("hivex cannot read it (%1)", Errno(errno));
    if (!ReadsToTheEnd(h.get()))
        return Localized("its tree cannot be read to the end (%1): it is damaged; restore it from a backup", Errno(errno));
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
    if (!h_ && hivexSource_ == HivexSource::CommittedFile) h_ = hivex_open(SelfPath(fd_.Get()).c_str(), mode_ == Mode::ReadOnly ? 0 : HIVEX_OPEN_WRITE);
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
        *error = Localized("%1: /proc is not mounted here, and hives are read through it; mount it (mount -t proc proc "
                           "/proc) and run again", path);
        return nullptr;
    }
    std::unique_ptr<HiveFile> file(new HiveFile(nullptr, path, mode));
    file->name_ = BaseName(path);
    *error = file->TakeFolder(volume);
    if (error->empty()) *error = file->OpenOriginal();
    if (error->empty()) *error = file->LoadIntoHivex();
    if (!error->empty()) return nullptr;
    return file;
}

// The hive's folder held, and for a writer the hive taken for itself before
// it is read, with what a run stopped part-way left cleared away; a reader
// only names that.
std::string HiveFile::TakeFolder(const VolumeBound* volume) {
    std::string why;
    if (!Folder::Open(DirName(path_), volume, &folder_, &why)) return path_ + ": " + why;
    if (mode_ == Mode::Write) {
        if (folder_.ReadOnly()) return ReadOnlyVolume(path_);
        why = Lock();
        if (!why.empty()) return why;
    }
    for (const std::string& entry : folder_.Names()) {
        if (!IsLeftover(entry, name_)) continue;
        if (mode_ == Mode::Write) {
            folder_.Remove(entry);
            notes_.push_back(Localized("removed %1, left by a run that was stopped part-way", folder_.PathOf(entry)));
        } else {
            notes_.push_back(Localized("note: %1 was left by a run that was stopped part-way; the next command that "
                                       "writes removes it", folder_.PathOf(entry)));
        }
    }
    return std::string();
}

// The hive file opened and known as read; a dirty one recovered from its
// logs where they can be used.
std::string HiveFile::OpenOriginal() {
    std::string why;
    if (!folder_.OpenFile(name_, O_RDONLY, &fd_, &why)) return why;
    struct stat st;
    if (::fstat(fd_.Get(), &st) != 0) return path_ + ": " + Errno(errno);
    why = CheckHiveFileSize(st);
    if (!why.empty()) return path_ + ": " + why;
    read_ = Identity{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
    unsigned char head[512];
    const bool dirty = ::pread(fd_.Get(), head, sizeof head, 0) == static_cast<ssize_t>(sizeof head) &&
                       HiveNeedsLogs(head, sizeof head);
    if (!dirty) return std::string();
    logState_ = LogState::Unrecovered;
    return RecoverFromLogs();
}

// A file's bytes whole, or why not in the words the log problem uses.
static bool ReadWhole(int fd, std::size_t limit, std::string* bytes, std::string* problem) {
    FileFault fault;
    if (ReadDescriptor(fd, limit, bytes, &fault)) return true;
    *problem = fault.step == FileStep::TooLarge ? Localized("it is larger than %1 MiB", limit >> 20)
                                                : fault.reason;
    return false;
}

// Every log beside the hive opened and read (for a writer, opened to be
// emptied at the commit); the first that cannot be, in *problem.
std::string HiveFile::ReadLogs(std::vector<HiveLog>* logs, std::string* problem) {
    std::vector<std::string> logNames;
    std::string why;
    if (!LogNames(folder_.Names(), folder_.Path(), name_, &logNames, &why)) return why;
    for (const std::string& logName : logNames) {
        if (!IsNotFolder(folder_, logName)) continue;
        HiveLog log{HiveLog::Kind::Log, logName, std::string()};
        const std::string upper = AsciiUpper(logName.substr(logName.size() - 4));
        if (upper == "LOG1") log.kind = HiveLog::Kind::Log1;
        if (upper == "LOG2") log.kind = HiveLog::Kind::Log2;
        LogFile file;
        file.name = logName;
        std::string logWhy;
        struct stat lst;
        if (!folder_.OpenFile(logName, mode_ == Mode::Write ? O_RDWR : O_RDONLY, &file.fd, &logWhy) ||
            ::fstat(file.fd.Get(), &lst) != 0) {
            if (problem->empty()) *problem = logWhy.empty() ? logName + ": " + Errno(errno) : logWhy;
            continue;
        }
        std::string readProblem;
        if (!ReadWhole(file.fd.Get(), kMaxHiveLogBytes, &log.bytes, &readProblem)) {
            if (problem->empty()) *problem = log.name + ": " + readProblem;
            continue;
        }
        file.read = Identity{lst.st_dev, lst.st_ino, lst.st_size, lst.st_mtim, lst.st_ctim};
        logs_.push_back(std::move(file));
        logs->push_back(std::move(log));
    }
    return std::string();
}

// A dirty hive: its logs replayed into an image in memory, which hivex reads
// by name; neither the hive nor a log is written. Where they cannot be
// used, logProblem_ says why and the file is read as it is.
std::string HiveFile::RecoverFromLogs() {
    std::string primary, problem;
    ReadWhole(fd_.Get(), kMaxHiveBytes, &primary, &problem);
    std::vector<HiveLog> logs;
    const std::string error = ReadLogs(&logs, &problem);
    if (!error.empty()) return error;
    if (problem.empty()) problem = HoldReplay(ReplayHiveLogs(std::move(primary), logs));
    if (logState_ != LogState::Recovered) logProblem_ = problem;
    return std::string();
}

// The replayed image as a file in memory; empty, or why it cannot be used.
std::string HiveFile::HoldReplay(const HiveReplay& replay) {
    if (!replay.recovered) return replay.problem;
    const int imageFd = MemoryFile(replay.image);
    if (imageFd < 0) return Localized("cannot hold the recovered hive in memory: %1", Errno(errno));
    // A replay that leaves a hive hivex cannot read to the end is no
    // recovery. A hive to be changed gets this walk at its first change.
    if (mode_ == Mode::ReadOnly) {
        const std::string walk = CheckHive(imageFd);
        if (!walk.empty()) {
            ::close(imageFd);
            return Localized("the replayed hive cannot be used: %1", walk);
        }
    }
    imageFd_ = imageFd;
    imagePath_ = SelfPath(imageFd);
    logsUsed_ = replay.used;
    logState_ = LogState::Recovered;
    return std::string();
}

// hivex reads a hive it may change into memory: the file itself is written
// only by Commit.
std::string HiveFile::LoadIntoHivex() {
    errno = 0;
    const std::string source = imagePath_.empty() ? SelfPath(fd_.Get()) : imagePath_;
    h_ = hivex_open(source.c_str(), mode_ == Mode::ReadOnly ? 0 : HIVEX_OPEN_WRITE);
    if (h_) return std::string();
    std::string error = Localized("%1: not a registry hive that can be read (%2)", path_, Errno(errno));
    if (Dirty()) error += Localized("; it is dirty, and its logs cannot be used: %1", logProblem_);
    return error;
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
    if (!fd) return Localized("cannot read it: %1", Errno(errno));
    std::string why = CheckWritable(fd.Get());
    return why.empty() ? CheckHive(fd.Get()) : why;
}

const std::string& HiveFile::WriteRefusal() {
    if (writeState_ == WriteState::Unchecked) {
        const std::string why = WhyNotWritable();
        if (why.empty()) {
            writeState_ = WriteState::Allowed;
        } else {
            Refuse(why);
        }
    }
    return refusal_;
}

void HiveFile::Refuse(const std::string& why) {
    writeState_ = WriteState::Refused;
    refusal_ = why;
}

void HiveFile::RefuseAfterFailedCommit() {
    changed_ = false;
    Refuse(Localized("%1: a commit of it failed; nothing more is written to it.", path_));
}

std::string HiveFile::WhyNotWritable() {
    if (mode_ == Mode::ReadOnly) return Localized("%1: opened read-only; nothing is written to it.", path_);
    std::string why;
    if (logState_ == LogState::Unrecovered) {
        why = Localized("the hive is dirty (Windows was not shut down cleanly, and its newest changes are only in "
                        "its logs), and its logs cannot be used: %1. Writing it would lose those changes; restore the "
                        "hive and its logs from a backup", logProblem_);
    } else if (logState_ == LogState::Recovered) {
        // The recovered image is checked; the files must be writable.
        why = CheckWritable(fd_.Get());
        for (const LogFile& log : logs_)
            if (why.empty() && !CheckWritable(log.fd.Get()).empty())
                why = LogPath(log) + ": " + CheckWritable(log.fd.Get());
        if (why.empty()) why = CheckHive(imageFd_);
        if (!why.empty()) why = Localized("recovered from its logs, but %1", why);
    } else {
        // hivex holds what the file held: its tree is walked below.
        why = CheckWritable(fd_.Get());
        if (why.empty()) why = CheckBaseBlock(fd_.Get());
    }
    if (why.empty()) {
        // What is in memory must be a hive that reads to the end too.
        if (!ReadsToTheEnd(Handle())) why = Localized("its tree cannot be read to the end (%1)", Errno(errno));
    }
    return why.empty() ? why : Localized("%1: %2. Nothing was written to it.", path_, why);
}

// ---------------------------------------------------------------- commit

namespace {

// The new hive's flush on a thread of its own: the disk takes the file
// while it is read back and compared, and the commit waits for it before
// anything depends on the file being on the disk (the backup, the rename).
// Then, on the same thread, what the caller asks for that reads files
// which no longer change (the fingerprints of the record), waited for
// apart.
class BackgroundFlush {
public:
    BackgroundFlush() = default;
    BackgroundFlush(const BackgroundFlush&) = delete;
    BackgroundFlush& operator=(const BackgroundFlush&) = delete;
    ~BackgroundFlush() { Join(); }

    void Start(int fd, std::function<void()> then) {
        // Shared with the thread, not moved into it: where no thread can be
        // had, std::thread has already taken what it was given, and the
        // work must still be here to be done on this one.
        auto work = std::make_shared<Work>();
        work->fd = fd;
        work->then = std::move(then);
        result_ = work->flushed.get_future();
        // The thread takes no signal: they stay the main thread's, whose
        // handlers know where the run is.
        sigset_t all, saved;
        sigfillset(&all);
        ::pthread_sigmask(SIG_BLOCK, &all, &saved);
        bool started = true;
        try {
            thread_ = std::thread([work] { work->Run(); });
        } catch (const std::system_error&) {
            started = false;
        }
        ::pthread_sigmask(SIG_SETMASK, &saved, nullptr);
        if (!started) work->Run();  // no thread to be had: done here and now
    }
    // Waits for the flush: 0 when the file is on the disk, else why not.
    int Flushed() {
        if (result_.valid()) error_ = result_.get();
        return error_;
    }
    // Waits for all the thread does.
    void Join() {
        if (thread_.joinable()) thread_.join();
    }

private:
    struct Work {
        int fd = -1;
        std::function<void()> then;
        std::promise<int> flushed;
        void Run() {
            flushed.set_value(::fsync(fd) == 0 ? 0 : (errno ? errno : EIO));
            if (then) then();
        }
    };
    std::thread thread_;
    std::future<int> result_;
    int error_ = EIO;  // until a flush is known to have gone through
};

}  // namespace

// One commit: each step a function, in the order Steps takes them, each
// empty or why it failed. What a run made is known to it, so that a
// failure takes away exactly that.
class HiveFile::CommitRun {
public:
    CommitRun(HiveFile& file, const CommitOptions& options) : file_(file), options_(options) {}

    // Every step in order; empty, or why the first that failed did.
    std::string Steps();
    // After a failure: the original and its logs as they were, and what
    // this run made taken away; the error as the user reads it.
    std::string Undo(const std::string& error);
    // After success: the backups kept or removed as asked, and the file
    // now a clean hive with empty logs.
    void Finish();

private:
    // With a backup kept for a named run: its record written beside it, and
    // the older runs' backups pruned, both while the lock is held.
    void KeepRecord();
    static bool Fails(CommitStep step) { return ScopedCommitFailure::Reached(step); }

    std::string Write();
    std::string Verify();
    std::string Flush();
    std::string BackUp();
    std::string BackUpLogs();
    std::string Rename();
    std::string EmptyLogs();
    // Puts the original and its logs back after a failure past the rename;
    // empty when it did, else what state the files are left in.
    std::string RollBack();
    // The backup and the logs' backups, for a message.
    std::string KeptNames() const;

    HiveFile& file_;
    const CommitOptions& options_;
    struct stat before_ = {};
    UniqueFd out_;        // the new hive
    HeldFiles held_;      // the new hive and the original, for the record
    // The flush of out_ from the end of Write, and the fingerprints of
    // held_ after it; declared after held_, so that it is joined first.
    BackgroundFlush flush_;
    std::string temp_;    // its name until the rename
    std::string suffix_;  // of the backups
    bool madeBackup_ = false;
    bool renamed_ = false;  // got past the rename
};

std::string HiveFile::Commit(const CommitOptions& options) {
    backupPath_.clear();
    logBackups_.clear();
    emptiedLogs_.clear();
    recordProblem_.clear();
    pruned_.clear();
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
    CommitRun run(*this, options);
    error = run.Steps();
    if (!error.empty() && !h_ && hivexSource_ == HivexSource::CommittedFile) {
        // hivex's copy was let go after the new file was verified, and the
        // changes are now only in that file, which this failure takes away.
        RefuseAfterFailedCommit();
    }
    if (!error.empty()) return run.Undo(error);
    run.Finish();
    return std::string();
}

std::string HiveFile::CommitRun::Steps() {
    std::string error = file_.CheckUnchanged();
    if (error.empty() && ::fstat(file_.fd_.Get(), &before_) != 0) error = Localized("cannot read it: %1", Errno(errno));
    for (std::string (CommitRun::*step)() : {&CommitRun::Write, &CommitRun::Verify, &CommitRun::Flush,
                                             &CommitRun::BackUp, &CommitRun::BackUpLogs, &CommitRun::Rename,
                                             &CommitRun::EmptyLogs}) {
        if (!error.empty()) break;
        error = (this->*step)();
    }
    if (!error.empty()) {
        // Nothing runs on beside the undoing.
        flush_.Join();
        return error;
    }
    struct stat after;
    if (::fstat(file_.fd_.Get(), &after) == 0)
        file_.read_ = Identity{after.st_dev, after.st_ino, after.st_size, after.st_mtim, after.st_ctim};
    return std::string();
}

// The whole hive into a new file beside the original, so that the rename
// at the end stays on one file system. The file gets the original's mode,
// owner, and what Windows keeps on it (its descriptor above all) before the
// first byte: the copy of the hive is never more open than the hive, even
// where the run is killed here.
std::string HiveFile::CommitRun::Write() {
    FileFault fault;
    if (!file_.folder_.CreateNew("." + file_.name_, &out_, &temp_, &fault))
        return Localized("cannot create a file beside it: %1", fault.reason);
    if (::fchmod(out_.Get(), before_.st_mode & 07777) != 0) return Localized("cannot set the new hive's mode: %1", Errno(errno));
    if (::fchown(out_.Get(), before_.st_uid, before_.st_gid) != 0 && errno != EPERM)
        return Localized("cannot set the new hive's owner: %1", Errno(errno));
    if (!CarryWindowsAttributes(file_.fd_.Get(), out_.Get(), &fault))
        return Localized("cannot keep what Windows set on it: %1", fault.reason);
    errno = 0;
    if (hivex_commit(file_.Handle(), SelfPath(out_.Get()).c_str(), 0) != 0 || Fails(CommitStep::Written))
        return Localized("cannot write the new hive: %1", Errno(errno ? errno : EIO));
    // The record's fingerprints of the new hive and of the original (which
    // the backup will be a second name of) taken beside the verification.
    held_.hive.fd = out_.Get();
    held_.backup.fd = file_.fd_.Get();
    std::function<void()> fingerprints;
    if (options_.backup && !options_.run.empty())
        fingerprints = [this] {
            TakeFingerprint(&held_.hive);
            TakeFingerprint(&held_.backup);
        };
    flush_.Start(out_.Get(), fingerprints);
    return std::string();
}

// On the disk: the flush Write started has ended.
std::string HiveFile::CommitRun::Flush() {
    const int error = flush_.Flushed();
    if (error != 0 || Fails(CommitStep::Flushed)) return Localized("cannot flush the new hive: %1", Errno(error ? error : EIO));
    return std::string();
}

// Read back from the file (as the flush takes it to the disk): sound, and
// the same keys and values as what is in memory. hivex's copy is let go for
// the read-back and taken again from the new file, so that the hive is in
// memory once at a time.
std::string HiveFile::CommitRun::Verify() {
    // What is in memory first: that needs no disk, which the flush has.
    std::uint64_t wanted = 0, written = 0;
    if (!HashHive(file_.Handle(), &wanted)) return Localized("the hive in memory does not read to the end");
    std::string why = CheckBaseBlock(out_.Get());
    if (!why.empty()) return Localized("the new hive does not verify: %1", why);
    hivex_close(file_.h_);
    file_.h_ = nullptr;
    bool same = false;
    {
        errno = 0;
        HivePtr reread(hivex_open(SelfPath(out_.Get()).c_str(), 0));
        same = reread && HashHive(reread.get(), &written) && written == wanted && !Fails(CommitStep::Verified);
    }
    if (!same) {
        // hivex's copy again from what was read: the changes are lost, and
        // the commit fails.
        const int reload = file_.imageFd_ >= 0 ? file_.imageFd_ : file_.fd_.Get();
        file_.h_ = hivex_open(SelfPath(reload).c_str(), HIVEX_OPEN_WRITE);
        if (!file_.h_) file_.h_ = hivex_open(SelfPath(reload).c_str(), 0);
        file_.RefuseAfterFailedCommit();
        return Localized("the new hive does not read back as written");
    }
    // Taken again from the new file when next asked for (Handle): after the
    // rename that is fd_; before it, a failure puts the original back and
    // the new file's bytes are still what is wanted.
    file_.hivexSource_ = HivexSource::CommittedFile;
    return std::string();
}

// The original stays as NAME.kestro-bak: a second link to it where the file
// system has them, else a copy with its descriptor. An older backup is never
// replaced. With logs to empty, it is made even without a backup wanted, to
// undo a failure past the rename.
std::string HiveFile::CommitRun::BackUp() {
    if (!options_.backup && file_.logs_.empty()) return std::string();
    // Above the backups of every log there may be, used by this run or not:
    // restore pairs a hive's backup with the logs' of the same suffix.
    const std::string& name = file_.name_;
    const std::vector<std::string> names = {name, name + ".LOG", name + ".LOG1", name + ".LOG2"};
    suffix_ = NextBackupSuffix(file_.folder_.Names(), names);
    const std::string backup = name + suffix_;
    FileFault fault;
    if (!file_.folder_.Link(file_.fd_.Get(), backup) && !CopyInto(file_.fd_.Get(), file_.folder_, backup, &fault))
        return Localized("cannot keep a backup: %1", fault.reason);
    file_.backupPath_ = file_.folder_.PathOf(backup);
    madeBackup_ = true;
    // A second link changes the original's own change time.
    struct stat linked;
    if (::fstat(file_.fd_.Get(), &linked) == 0) file_.read_.ctime = linked.st_ctim;
    if (Fails(CommitStep::BackedUp)) return "cannot keep a backup: injected failure";
    return std::string();
}

// Each log, byte for byte, beside the backup: a copy, since the log itself
// is emptied in place below.
std::string HiveFile::CommitRun::BackUpLogs() {
    for (LogFile& log : file_.logs_) {
        FileFault fault;
        if (!CopyInto(log.fd.Get(), file_.folder_, log.name + suffix_, &fault))
            return Localized("cannot keep a backup of its log: %1", fault.reason);
        log.backup = log.name + suffix_;
        if (Fails(CommitStep::LogsBackedUp))
            return "cannot keep a backup of its log " + file_.LogPath(log) + ": injected failure";
    }
    if (file_.logs_.empty() && Fails(CommitStep::LogsBackedUp))
        return "cannot keep a backup of its logs: injected failure";
    return std::string();
}

// The new hive replaces the original in one step, unless someone else's
// change came in meanwhile.
std::string HiveFile::CommitRun::Rename() {
    std::string changed = file_.CheckUnchanged();
    if (!changed.empty()) return changed;
    if (Fails(CommitStep::Renamed)) return "cannot replace it: injected failure";
    FileFault fault;
    if (!file_.folder_.Rename(temp_, file_.name_, &fault)) return Localized("cannot replace it: %1", fault.reason);
    temp_.clear();
    renamed_ = true;
    file_.replaced_ = std::move(file_.fd_);
    file_.fd_ = std::move(out_);
    // The rename must be on the disk before the logs are emptied: a power
    // cut in between would otherwise leave the old dirty hive with empty
    // logs, its newest changes lost.
    if (!file_.folder_.Flush() && !file_.logs_.empty())
        return Localized("cannot flush the folder after the rename: %1", Errno(errno ? errno : EIO));
    return std::string();
}

// The logs emptied: all they held is in the new hive, which is clean, so
// Windows would not replay them; empty, no Windows ever can.
std::string HiveFile::CommitRun::EmptyLogs() {
    for (LogFile& log : file_.logs_) {
        // From here the log may have lost bytes: a failure puts them back.
        log.emptied = true;
        if (::ftruncate(log.fd.Get(), 0) != 0 || ::fsync(log.fd.Get()) != 0)
            return Localized("cannot empty its log %1: %2", file_.LogPath(log), Errno(errno));
        if (Fails(CommitStep::LogsEmptied))
            return "cannot empty its log " + file_.LogPath(log) + ": injected failure";
    }
    if (file_.logs_.empty() && Fails(CommitStep::LogsEmptied)) return "cannot finish: injected failure";
    return std::string();
}

std::string HiveFile::CommitRun::Undo(const std::string& error) {
    HiveFile& f = file_;
    if (renamed_) {
        std::string state = RollBack();
        // Nothing may be taken away now: the backups are the originals.
        if (!state.empty()) return f.path_ + ": " + error + "; " + state;
    }
    // The original is as it was; take away what this attempt made.
    if (!temp_.empty()) f.folder_.Remove(temp_);
    if (madeBackup_) f.folder_.Remove(BaseName(f.backupPath_));
    for (LogFile& log : f.logs_) {
        if (!log.backup.empty()) f.folder_.Remove(log.backup);
        log.backup.clear();
        log.emptied = false;
    }
    f.backupPath_.clear();
    // Removing the backup's link changed the original's change time.
    struct stat now;
    if (::fstat(f.fd_.Get(), &now) == 0) f.read_.ctime = now.st_ctim;
    return f.logs_.empty() ? Localized("%1: %2. The file was left as it was.", f.path_, error)
                           : Localized("%1: %2. The file and its logs were left as they were.", f.path_, error);
}

void HiveFile::CommitRun::Finish() {
    HiveFile& f = file_;
    for (LogFile& log : f.logs_) {
        if (options_.backup) {
            f.logBackups_.push_back(f.folder_.PathOf(log.backup));
        } else {
            f.folder_.Remove(log.backup);
        }
        f.emptiedLogs_.push_back(f.LogPath(log));
    }
    if (!options_.backup && madeBackup_) {
        // Kept only to undo a failure past the rename.
        f.folder_.Remove(BaseName(f.backupPath_));
        f.backupPath_.clear();
    }
    KeepRecord();
    // The files now hold a clean hive and empty logs.
    f.replaced_.Reset();
    f.logs_.clear();
    if (f.imageFd_ >= 0) ::close(f.imageFd_);
    f.imageFd_ = -1;
    f.imagePath_.clear();
    f.logState_ = LogState::Clean;
    f.changed_ = false;
}

void HiveFile::CommitRun::KeepRecord() {
    HiveFile& f = file_;
    if (f.backupPath_.empty() || options_.run.empty()) return;
    flush_.Join();  // the fingerprints taken
    // The new hive and the original (the backup, where it is a second
    // name of it) are still open here.
    held_.hive.fd = f.fd_.Get();
    held_.backup.fd = f.replaced_ ? f.replaced_.Get() : -1;
    if (!RecordCommit(f.folder_, f.name_, BaseName(f.backupPath_), options_.run, &f.recordProblem_, held_) &&
        f.recordProblem_.empty())
        f.recordProblem_ = Localized("the record cannot be written");
    if (f.recordProblem_.empty() && options_.keep >= 0) f.pruned_ = PruneBackups(f.folder_, f.name_, options_.keep);
}

std::string HiveFile::CommitRun::KeptNames() const {
    std::string kept = file_.backupPath_;
    for (const LogFile& log : file_.logs_)
        if (!log.backup.empty()) kept += ", " + file_.folder_.PathOf(log.backup);
    return kept;
}

std::string HiveFile::CommitRun::RollBack() {
    HiveFile& f = file_;
    // The logs emptied so far get their bytes back from their copies. Where
    // one cannot, the new hive stays: it is clean and holds all the logs
    // held, while the old one would need the log that is lost.
    std::vector<std::string> lost;
    for (LogFile& log : f.logs_) {
        if (!log.emptied) continue;
        UniqueFd copy;
        std::string why;
        FileFault fault;
        if (!Fails(CommitStep::LogsPutBack) && f.folder_.OpenFile(log.backup, O_RDONLY, &copy, &why) &&
            CopyOver(copy.Get(), log.fd.Get(), &fault))
            log.emptied = false;
        else
            lost.push_back(log.name);
    }
    if (!lost.empty()) {
        std::string names;
        for (const std::string& name : lost) names += (names.empty() ? "" : ", ") + name;
        const std::string kept = KeptNames();
        f.logs_.clear();
        f.replaced_.Reset();
        f.logState_ = LogState::Clean;
        f.changed_ = false;
        return Localized("the log %1 could not be put back, so the new hive stays: it is in place, clean, and "
                         "holds everything its logs held (Windows does not replay the logs of a clean hive). The "
                         "originals are kept as %2", names, kept);
    }
    // The original comes back under its name through a second link to it,
    // so that the backup stays.
    const std::string undo = "." + f.name_ + ".kestro-undo";
    f.folder_.Remove(undo);
    FileFault fault;
    bool linked = f.folder_.Link(f.replaced_.Get(), undo) || CopyInto(f.replaced_.Get(), f.folder_, undo, &fault);
    if (linked && f.folder_.Rename(undo, f.name_, &fault)) {
        f.folder_.Flush();
        f.fd_ = std::move(f.replaced_);
        struct stat back;
        if (::fstat(f.fd_.Get(), &back) == 0)
            f.read_ = Identity{back.st_dev, back.st_ino, back.st_size, back.st_mtim, back.st_ctim};
        return std::string();
    }
    f.folder_.Remove(undo);
    return Localized("the new hive stays in place, and the original could not be put back; the originals are kept "
                     "as %1", KeptNames());
}

std::string HiveFile::CheckUnchanged() const {
    const auto changed = [this](int fd, const std::string& name, const Identity& read) {
        struct stat now, named;
        return ::fstat(fd, &now) != 0 || !folder_.Stat(name, &named) || named.st_ino != read.inode ||
               named.st_dev != read.device || now.st_size != read.size || !Same(now.st_mtim, read.mtime) ||
               !Same(now.st_ctim, read.ctime);
    };
    if (changed(fd_.Get(), name_, read_)) return Localized("it changed on disk after it was read; run again");
    for (const LogFile& log : logs_)
        if (changed(log.fd.Get(), log.name, log.read))
            return Localized("its log %1 changed on disk after it was read; run again", LogPath(log));
    return std::string();
}

}  // namespace kestro
