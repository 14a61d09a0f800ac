// The steps of writing a file, as a failure names them, and the hook a
// test arms to make one of them fail.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

namespace kestro {

// Where a file operation failed.
enum class FileStep {
    Open,      // reading: the file cannot be opened
    Read,      // reading: a read failed
    TooLarge,  // reading: more than the limit
    Create,    // writing: the temporary file cannot be made
    Write,     // writing: a write to it failed
    Flush,     // writing: it cannot be flushed to the disk
    Replace,   // writing: it cannot be renamed over the target
    Carry,     // writing: what Windows keeps on the file cannot be carried over to the new one
};

struct FileFault {
    FileStep step = FileStep::Open;
    std::string reason;  // the system's words; empty for TooLarge
};

// For tests: the `nth` time (counted from 0) this process reaches `step`
// of its kind, that step fails as if the system had refused; once. Several
// may be armed at a time (a step that fails, and then the rollback of it),
// each until its object goes.
template <typename Step>
class ScopedStepFailure {
public:
    explicit ScopedStepFailure(Step step, int nth = 0) : step_(step), nth_(nth) { Armed().push_back(this); }
    ~ScopedStepFailure() { Armed().erase(std::find(Armed().begin(), Armed().end(), this)); }
    ScopedStepFailure(const ScopedStepFailure&) = delete;
    ScopedStepFailure& operator=(const ScopedStepFailure&) = delete;

    // Called where the code reaches `step`: whether it is to fail there.
    static bool Reached(Step step) {
        bool fails = false;
        for (ScopedStepFailure* armed : Armed()) {
            if (!armed->on_ || armed->step_ != step || armed->nth_-- > 0) continue;
            armed->on_ = false;
            fails = true;
        }
        return fails;
    }

private:
    static std::vector<ScopedStepFailure*>& Armed() {
        static std::vector<ScopedStepFailure*> armed;
        return armed;
    }
    Step step_;
    int nth_;
    bool on_ = true;
};

// For tests: the next file step of the file modules in this process that is
// `step` (Create, Write, Flush, Replace or Carry: WriteFileDurably's, or
// the volume's folder operations') fails as if the system had refused. At
// Write, half of the bytes are written first.
using ScopedFileWriteFailure = ScopedStepFailure<FileStep>;

}  // namespace kestro
