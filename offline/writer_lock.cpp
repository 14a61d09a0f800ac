#include "offline/writer_lock.h"

#include "core/file_faults.h"
#include "core/localized.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <pthread.h>
#include <cstring>
#include <cstdio>
#include <ctime>
#include <thread>

namespace kestro {

using namespace file_faults;

// ---------------------------------------------------------------- lock

namespace {

std::string HostName() {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || !host[0]) return "this machine";
    return host;
}

std::string Seconds(std::chrono::milliseconds wait) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(wait.count()) / 1000.0);
    return text;
}

std::string NowUtc() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
    return text;
}

// The locks this process holds, for a signal's handler: each slot's name
// is written before it is marked in use, and marked unused before it is
// cleared.
constexpr int kHeldSlots = 8;
struct HeldLockFile {
    volatile std::sig_atomic_t used = 0;
    int folder = -1;
    char name[512] = {};
};
HeldLockFile heldLocks[kHeldSlots];

int KeepReady(int folder, const std::string& name) {
    if (name.size() >= sizeof heldLocks[0].name) return -1;
    for (int i = 0; i < kHeldSlots; ++i) {
        if (heldLocks[i].used) continue;
        heldLocks[i].folder = folder;
        std::memcpy(heldLocks[i].name, name.c_str(), name.size() + 1);
        heldLocks[i].used = 1;
        return i;
    }
    return -1;
}

// Holds back SIGINT, SIGTERM and SIGHUP while a lock file is made and
// noted, or forgotten and removed: a handler between the two would leave a
// file no one removes, or remove one this process no longer holds.
class SignalsHeldBack {
public:
    SignalsHeldBack() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGHUP);
        ::pthread_sigmask(SIG_BLOCK, &set, &saved_);
    }
    ~SignalsHeldBack() { ::pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }

private:
    sigset_t saved_;
};

}  // namespace

void WriterLock::RemoveHeldLockFilesNow() {
    for (HeldLockFile& held : heldLocks)
        if (held.used) ::unlinkat(held.folder, held.name, 0);
}

bool WriterLock::Acquire(const Folder& folder, const std::string& name, std::chrono::milliseconds wait,
                         std::string* error, bool* readOnly) {
    Release();
    *readOnly = false;
    const std::string lockName = LockName(name);
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        // By the volume's one rule: a lock name that is a FIFO, a device, a
        // link or a second name of another file is refused, never opened.
        SignalsHeldBack heldBack;
        UniqueFd fd;
        std::string why;
        if (!folder.OpenOrCreate(lockName, 0644, &fd, &why)) {
            *readOnly = errno == EROFS;
            *error = Localized("cannot take the lock: %1", why);
            return false;
        }
        if (::flock(fd.Get(), LOCK_EX | LOCK_NB) == 0) {
            // The holder before removed the file after this open: the lock
            // is on a name no one else sees; take the one under the name.
            struct stat held, named;
            if (::fstat(fd.Get(), &held) != 0 || !folder.Stat(lockName, &named) || held.st_ino != named.st_ino ||
                held.st_dev != named.st_dev)
                continue;
            const std::string who = "process " + std::to_string(::getpid()) + " on " + HostName() + ", since " +
                                    NowUtc() + "\n";
            // Who holds it is for the message of the one who waits: best effort.
            if (::ftruncate(fd.Get(), 0) == 0 && ::pwrite(fd.Get(), who.data(), who.size(), 0) < 0) errno = 0;
            folder_ = &folder;
            lockName_ = lockName;
            fd_ = std::move(fd);
            slot_ = KeepReady(folder.Fd(), lockName);
            return true;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            *error = Why(Localized("cannot lock %1", folder.PathOf(lockName)), errno);
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            std::string holder;
            FileFault ignored;
            ReadDescriptor(fd.Get(), 512, &holder, &ignored);
            while (!holder.empty() && (holder.back() == '\n' || holder.back() == '\r')) holder.pop_back();
            *error = Localized("another kestroctl is writing it (%1); waited %2 s. Run again when it has finished "
                               "(its lock is %3)",
                               holder.empty() ? Localized("it has not said who") : holder, Seconds(wait),
                               folder.PathOf(lockName));
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void WriterLock::Release() {
    if (!fd_) return;
    SignalsHeldBack heldBack;
    if (slot_ >= 0) heldLocks[slot_].used = 0;
    slot_ = -1;
    // Removed while still held, so that no one takes a lock on a name that
    // is about to go.
    folder_->Remove(lockName_);
    fd_.Reset();
    folder_ = nullptr;
    lockName_.clear();
}

}  // namespace kestro
