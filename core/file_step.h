// The steps of writing a file, as a failure names them, and the hook a
// test arms to make one of them fail.
#pragma once

#include <string>

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

// For tests: the next file step of this module in this process that is
// `step` (Create, Write, Flush, Replace or Carry: WriteFileDurably's, or
// the folder operations' below) fails as if the system had refused. At
// Write, half of the bytes are written first.
class ScopedFileWriteFailure {
public:
    explicit ScopedFileWriteFailure(FileStep step);
    ~ScopedFileWriteFailure();
    ScopedFileWriteFailure(const ScopedFileWriteFailure&) = delete;
    ScopedFileWriteFailure& operator=(const ScopedFileWriteFailure&) = delete;
};

}  // namespace kestro
