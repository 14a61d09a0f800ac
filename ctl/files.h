// The files the console tool reads and writes; names are UTF-8.
#pragma once

#include <cstddef>
#include <string>

namespace kestro {

// The whole file, but never more than `limit` bytes in memory: a larger file
// is an error that says so.
bool ReadWholeFile(const std::string& path, std::size_t limit, std::string* bytes, std::string* error);

// Writes a temporary file beside `path` and renames it over `path`, so that
// a failure leaves either the old file or none, never a part of the new one.
bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string* error);

// An existing file, not a folder.
bool IsExistingFile(const std::string& path);

// The path made absolute against the current folder.
std::string FullPath(const std::string& path);

}  // namespace kestro
