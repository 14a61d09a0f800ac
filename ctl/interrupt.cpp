#include "ctl/interrupt.h"

#include "ctl/messages.h"
#include "offline/writer_lock.h"

#include <csignal>
#include <cstddef>
#include <cstring>
#include <string>
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

// The handler's lines, in the user's language: made before any signal
// (PrepareInterruptTexts), as translating allocates and a handler may not.
// Indexed by the signal (0 SIGINT, 1 SIGTERM, 2 SIGHUP) and whether the
// files were written. Plain arrays, never freed: a signal may come while
// the program exits, after every std::string has been destroyed.
constexpr std::size_t kLineSize = 512;
char stoppedLines[3][2][kLineSize];
const char* volatile stoppedText[3][2] = {};

int IndexOf(int signal) { return signal == SIGINT ? 0 : signal == SIGTERM ? 1 : 2; }

std::string StoppedLine(int signal, bool written) {
    return "kestroctl: " +
           (written ? Tr("interrupted (%1): the files hold what was written above", Name(signal))
                    : Tr("interrupted (%1): nothing was written; the files are as they were", Name(signal))) +
           "\n";
}

void OnSignal(int signal) {
    if (writing) {
        held = signal;
        return;
    }
    // Only async-signal-safe calls from here on.
    WriterLock::RemoveHeldLockFilesNow();
    const char* line = stoppedText[IndexOf(signal)][wrote ? 1 : 0];
    if (line) {
        Say(line);
    } else {
        Say("kestroctl: interrupted (");
        Say(Name(signal));
        Say(wrote ? "): the files hold what was written above\n" : "): nothing was written; the files are as they were\n");
    }
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

void PrepareInterruptTexts() {
    const int signals[] = {SIGINT, SIGTERM, SIGHUP};
    for (int i = 0; i < 3; ++i) {
        for (int written = 0; written < 2; ++written) {
            stoppedText[i][written] = nullptr;  // the English fallback while the text changes
            const std::string line = StoppedLine(signals[i], written != 0);
            if (line.size() >= kLineSize) continue;  // the English fallback stays
            std::memcpy(stoppedLines[i][written], line.c_str(), line.size() + 1);
            stoppedText[i][written] = stoppedLines[i][written];
        }
    }
}

// Counted, not set: a commit's hold may run inside the hold of a run that
// has already changed a Group Policy file.
WriteUnderWay::WriteUnderWay() { writing = writing + 1; }
WriteUnderWay::~WriteUnderWay() { writing = writing - 1; }
void WriteUnderWay::Written() { wrote = 1; }

void WriteUnderWayFromFirstChange::Begin() {
    if (!hold_) hold_ = std::make_unique<WriteUnderWay>();
    WriteUnderWay::Written();
}

int HeldSignal() { return held; }

int InterruptedExitCode(int signal) { return 128 + signal; }

std::string InterruptedAfterWriteLine(int signal) {
    return "kestroctl: " +
           Tr("interrupted (%1) during the write, which was finished or undone first, as said above; no temporary "
              "file is left",
              Name(signal)) +
           "\n";
}

}  // namespace kestro
