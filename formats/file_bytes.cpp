#include "formats/file_bytes.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#ifdef _WIN32
#include "formats/values.h"
#endif

namespace kestro {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

UniqueFile Open(const std::string& path, const char* mode) {
#ifdef _WIN32
    std::u16string wide, wideMode;
    try {
        wide = StrictUtf8ToUtf16(path);
    } catch (const std::invalid_argument&) {
        throw FileError(path + ": the name is not UTF-8");
    }
    for (const char* m = mode; *m; ++m) wideMode += static_cast<char16_t>(*m);
    return UniqueFile(_wfopen(reinterpret_cast<const wchar_t*>(wide.c_str()),
                              reinterpret_cast<const wchar_t*>(wideMode.c_str())));
#else
    return UniqueFile(std::fopen(path.c_str(), mode));
#endif
}

}  // namespace

std::vector<std::uint8_t> ReadFileBytes(const std::string& path, std::size_t limit) {
    UniqueFile file = Open(path, "rb");
    if (!file) throw FileError(path + ": cannot open: " + std::strerror(errno));
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[16384];
    for (;;) {
        std::size_t n = std::fread(chunk, 1, sizeof chunk, file.get());
        if (n > limit - bytes.size())
            throw FileError(path + ": larger than " + std::to_string(limit) + " bytes");
        bytes.insert(bytes.end(), chunk, chunk + n);
        if (n < sizeof chunk) break;
    }
    if (std::ferror(file.get())) throw FileError(path + ": cannot read");
    return bytes;
}

void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    UniqueFile file = Open(path, "wb");
    if (!file) throw FileError(path + ": cannot create: " + std::strerror(errno));
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size())
        throw FileError(path + ": cannot write");
    if (std::fclose(file.release()) != 0) throw FileError(path + ": cannot write");
}

}  // namespace kestro
