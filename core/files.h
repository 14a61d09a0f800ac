// Whole files in and out, for everything the program reads from or leaves
// on a disk: profiles, .reg and Registry.pol files. Names are UTF-8; on
// Windows they are opened through the wide API, so any name works.
//
// A reader never takes more than its limit into memory, however large the
// file. A writer replaces a file whole or not at all, and what it wrote is
// on the disk when it returns: an export that an administrator copies into
// SYSVOL must not turn out empty or cut short after a power cut.
#pragma once

#include "core/file_step.h"

#include <cstddef>
#include <string>

namespace kestro {

// The whole file, but never more than `limit` bytes: reading stops at the
// limit, and a larger file is a TooLarge fault.
bool ReadFileBounded(const std::string& path, std::size_t limit, std::string* bytes, FileFault* fault);

// Replaces `path` with `size` bytes, or leaves it as it was. The bytes go to
// a new file with a name of its own beside the target (so that two writers,
// or a file left by a crash, never meet), are flushed to the disk, and that
// file is renamed over the target; on POSIX the folder is flushed too, so
// that the rename itself lasts. On any failure the temporary file is
// removed.
bool WriteFileDurably(const std::string& path, const void* data, std::size_t size, FileFault* fault);

// The same with the fault in words: the system's, or "the file is larger
// than N bytes".
bool ReadWholeFile(const std::string& path, std::size_t limit, std::string* bytes, std::string* error);
bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string* error);

// An existing file, not a folder.
bool IsExistingFile(const std::string& path);

// A file, a folder or anything else by that name (a link, even a dangling one).
bool PathExists(const std::string& path);

// Creates the folder unless it exists; false when it cannot, or when
// something else has the name.
bool MakeFolder(const std::string& path);

// The path made absolute against the current folder.
std::string FullPath(const std::string& path);

}  // namespace kestro
