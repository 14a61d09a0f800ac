// Whole files in and out, bounded: a reader never takes more than `limit`
// bytes into memory, however large the file. Paths are UTF-8 (on Windows
// they are opened through the wide API, so any name works).
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

// Writes the whole file, replacing it; throws FileError on failure. The
// bytes go to a temporary file beside it first, renamed over the target
// only once complete, so a failure leaves no partial file and an existing
// file is kept whole.
void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

// Creates the folder unless it exists; throws FileError when it cannot.
void MakeDirectory(const std::string& path);

}  // namespace kestro
