#include "ctl/policy_broadcast_win.h"

#include <windows.h>

#include <cstdint>

namespace kestro {

namespace {

// A broadcast waits for every top-level window in turn, each up to the
// time-out given, so the time-out alone bounds nothing: the messages go
// from a thread of their own, and the command waits for that thread no
// longer than the whole budget. A thread still waiting then ends with the
// process.
constexpr DWORD kBudgetMs = 5000;
constexpr UINT kPerWindowMs = 2000;

constexpr std::uintptr_t kMachine = 1;
constexpr std::uintptr_t kUser = 2;

void SendPolicy(WPARAM forMachine) {
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, forMachine, reinterpret_cast<LPARAM>(L"Policy"),
                        SMTO_ABORTIFHUNG, kPerWindowMs, &answer);
}

// The scopes come by value in the thread's parameter: nothing of the
// caller's is left for the thread to read once the caller has stopped
// waiting for it.
DWORD WINAPI SendAll(LPVOID parameter) {
    const auto scopes = reinterpret_cast<std::uintptr_t>(parameter);
    if (scopes & kMachine) SendPolicy(1);
    if (scopes & kUser) SendPolicy(0);
    return 0;
}

class OwnedHandle {
public:
    explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
    ~OwnedHandle() {
        if (handle_) CloseHandle(handle_);
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    HANDLE Get() const { return handle_; }

private:
    HANDLE handle_;
};

}  // namespace

void SystemPolicyBroadcaster::Broadcast(const WrittenScopes& written) {
    const std::uintptr_t scopes = (written.machine ? kMachine : 0) | (written.user ? kUser : 0);
    if (scopes == 0) return;
    OwnedHandle thread(CreateThread(nullptr, 0, SendAll, reinterpret_cast<LPVOID>(scopes), 0, nullptr));
    if (thread.Get()) WaitForSingleObject(thread.Get(), kBudgetMs);
}

}  // namespace kestro
