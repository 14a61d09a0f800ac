#include "formats/file_bytes.h"

#include "core/files.h"
#include "core/localized.h"

namespace kestro {

std::vector<std::uint8_t> ReadFileBytes(const std::string& path, std::size_t limit) {
    std::string bytes;
    FileFault fault;
    if (!ReadFileBounded(path, limit, &bytes, &fault)) {
        switch (fault.step) {
            case FileStep::TooLarge: throw FileError(Localized("%1: larger than %2 bytes", path, limit));
            case FileStep::Read: throw FileError(Localized("%1: cannot read", path));
            default: throw FileError(Localized("%1: cannot open: %2", path, fault.reason));
        }
    }
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    FileFault fault;
    if (WriteFileDurably(path, bytes.data(), bytes.size(), &fault)) return;
    switch (fault.step) {
        case FileStep::Create: throw FileError(Localized("%1: cannot create: %2", path, fault.reason));
        case FileStep::Replace: throw FileError(Localized("%1: cannot replace it", path));
        default: throw FileError(Localized("%1: cannot write", path));
    }
}

void MakeDirectory(const std::string& path) {
    if (!MakeFolder(path)) throw FileError(Localized("%1: cannot create the folder", path));
}

}  // namespace kestro
