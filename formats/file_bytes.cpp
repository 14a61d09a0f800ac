#include "formats/file_bytes.h"

#include "core/files.h"

namespace kestro {

std::vector<std::uint8_t> ReadFileBytes(const std::string& path, std::size_t limit) {
    std::string bytes;
    FileFault fault;
    if (!ReadFileBounded(path, limit, &bytes, &fault)) {
        switch (fault.step) {
            case FileStep::TooLarge: throw FileError(path + ": larger than " + std::to_string(limit) + " bytes");
            case FileStep::Read: throw FileError(path + ": cannot read");
            default: throw FileError(path + ": cannot open: " + fault.reason);
        }
    }
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    FileFault fault;
    if (WriteFileDurably(path, bytes.data(), bytes.size(), &fault)) return;
    switch (fault.step) {
        case FileStep::Create: throw FileError(path + ": cannot create: " + fault.reason);
        case FileStep::Replace: throw FileError(path + ": cannot replace it");
        default: throw FileError(path + ": cannot write");
    }
}

void MakeDirectory(const std::string& path) {
    if (!MakeFolder(path)) throw FileError(path + ": cannot create the folder");
}

}  // namespace kestro
