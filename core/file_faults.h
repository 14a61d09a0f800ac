// Inside the file modules: one injection point for tests and one way of
// reporting a failed file step, shared by the portable whole-file I/O and
// the offline volume's files.
#pragma once

#include "core/file_step.h"

#include <string>

namespace kestro::file_faults {

extern const char kInjected[];

// How many temporary names a writer tries before it gives up.
constexpr int kNameAttempts = 16;

// The end of a temporary name that no other writer picks (see files.cpp).
std::string TemporaryTail(unsigned long process, unsigned long long ticks);

// Whether a test asked (ScopedFileWriteFailure) for this step to fail; it
// fails once.
bool Injected(FileStep step);

// Records the failure in *fault; always false.
bool Fail(FileFault* fault, FileStep step, std::string reason);

#ifndef _WIN32
// errno's words (EIO's for 0), and "what: those words".
std::string ErrnoText(int code);
std::string Why(const std::string& what, int code);
// TemporaryTail for this process, now.
std::string TemporaryTail();
#endif

}  // namespace kestro::file_faults
