#include "ctl/interrupt.h"

#include "offline/writer_lock.h"

#include <csignal>
#include <cstring>
#include <unistd.h>

namespace kestro {

namespace {

volatile std::sig_atomic_t writing = 0;
volatile std::sig_atomic_t wrote = 0;
volatile std::sig_atomic_t held = 0;

void Say(const char* text) {
    if (::write(STDERR_FILENO, text, std::strlen(text)) < 0) return;
}

const char* Name(int signal) {
    return signal == SIGINT ? "SIGINT" : signal == SIGTERM ? "SIGTERM" : signal == SIGHUP ? "SIGHUP" : "a signal";
}

void OnSignal(int signal) {
    if (writing) {
        held = signal;
        return;
    }
    // Only async-signal-safe calls from here on.
    WriterLock::RemoveHeldLockFilesNow();
    Say("kestroctl: interrupted (");
    Say(Name(signal));
    Say(wrote ? "): the files hold what was written above\n" : "): nothing was written; the files are as they were\n");
    ::_exit(InterruptedExitCode(signal));
}

}  // namespace

void InstallInterruptHandlers() {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    sigaddset(&action.sa_mask, SIGHUP);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

WriteUnderWay::WriteUnderWay() { writing = 1; }
WriteUnderWay::~WriteUnderWay() { writing = 0; }
void WriteUnderWay::Written() { wrote = 1; }

int HeldSignal() { return held; }

int InterruptedExitCode(int signal) { return 128 + signal; }

const char* InterruptedAfterWriteLine(int signal) {
    return signal == SIGINT    ? "kestroctl: interrupted (SIGINT) during the write, which was finished or undone first, "
                                 "as said above; no temporary file is left\n"
           : signal == SIGTERM ? "kestroctl: interrupted (SIGTERM) during the write, which was finished or undone "
                                 "first, as said above; no temporary file is left\n"
                               : "kestroctl: interrupted (SIGHUP) during the write, which was finished or undone "
                                 "first, as said above; no temporary file is left\n";
}

}  // namespace kestro
