// Ctrl+C (SIGINT), SIGTERM and SIGHUP during an offline run. Before any
// file is written the run stops at once: its lock files are removed, one
// line says nothing was written, and it exits 130 (143, 129). While files
// are written (a commit, a restore's putting back, and from the first
// change of a local Group Policy file to the end of the run) the signal is
// held: the step under way finishes, or is undone by its own failure path,
// every temporary file goes, and the run then stops the same way, saying so.
#pragma once

#include <memory>
#include <string>

namespace kestro {

void InstallInterruptHandlers();
// The handler's lines in the chosen language, once it is chosen (until
// then, English).
void PrepareInterruptTexts();

// While one lives, files are being written: a signal waits for the end of
// the last one. They may nest.
class WriteUnderWay {
public:
    WriteUnderWay();
    ~WriteUnderWay();
    WriteUnderWay(const WriteUnderWay&) = delete;
    WriteUnderWay& operator=(const WriteUnderWay&) = delete;
    // Once the files hold what the run wrote: a later signal says so.
    static void Written();
};

// A hold that begins at the first Begin() (before the first change of a
// file that is written ahead of the rest of the run) and lasts until this
// object goes.
class WriteUnderWayFromFirstChange {
public:
    void Begin();

private:
    std::unique_ptr<WriteUnderWay> hold_;
};

// The signal held during a write, or 0.
int HeldSignal();
// 128 plus the signal's number, as a shell reports a run it stopped.
int InterruptedExitCode(int signal);
// The one line for a run stopped after a held signal.
std::string InterruptedAfterWriteLine(int signal);

}  // namespace kestro
