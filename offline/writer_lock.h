#pragma once

#include "offline/volume.h"

#include <chrono>
#include <string>

namespace kestro {

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

    // Removes the lock file of every lock this process holds, for a run
    // that is stopping at once (a signal's handler): async-signal-safe,
    // since it only calls unlinkat on names kept ready when each was taken.
    static void RemoveHeldLockFilesNow();

private:
    int slot_ = -1;  // where the lock is kept ready for RemoveHeldLockFilesNow
    const Folder* folder_ = nullptr;
    std::string lockName_;
    UniqueFd fd_;
};

}  // namespace kestro
