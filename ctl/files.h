// The files the console tool reads and writes; names are UTF-8.
#pragma once

#include <string>

namespace kestro {

bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* error);

// Writes a temporary file beside `path` and renames it over `path`, so that
// a failure leaves either the old file or none, never a part of the new one.
bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string* error);

// An existing file, not a folder.
bool IsExistingFile(const std::string& path);

// The path made absolute against the current folder.
std::string FullPath(const std::string& path);

}  // namespace kestro
