// The exports' files, through core/files.h, with their faults as
// exceptions: bounded reads, and writes that replace a file whole or not at
// all and are on the disk when they return. Paths are UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestro {

class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Throws FileError when the file cannot be opened or read, or holds more
// than `limit` bytes.
std::vector<std::uint8_t> ReadFileBytes(const std::string& path, std::size_t limit);

// Writes the whole file, replacing it; throws FileError on failure, and then
// leaves no partial file and an existing file as it was.
void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

// Creates the folder unless it exists; throws FileError when it cannot.
void MakeDirectory(const std::string& path);

}  // namespace kestro
