#include "formats/file_bytes.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/stat.h>

#ifdef _WIN32
#include "formats/values.h"

#include <windows.h>
#else
#include <unistd.h>
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

#ifdef _WIN32
std::wstring Wide(const std::string& path) {
    try {
        std::u16string w = StrictUtf8ToUtf16(path);
        return std::wstring(w.begin(), w.end());
    } catch (const std::invalid_argument&) {
        throw FileError(path + ": the name is not UTF-8");
    }
}
#endif

bool Replace(const std::string& from, const std::string& to) {
#ifdef _WIN32
    return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

void Remove(const std::string& path) {
#ifdef _WIN32
    DeleteFileW(Wide(path).c_str());
#else
    unlink(path.c_str());
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
    const std::string temporary = path + ".kestro-new";
    {
        UniqueFile file = Open(temporary, "wb");
        if (!file) throw FileError(path + ": cannot create: " + std::strerror(errno));
        bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
        written = std::fclose(file.release()) == 0 && written;
        if (!written) {
            Remove(temporary);
            throw FileError(path + ": cannot write");
        }
    }
    if (!Replace(temporary, path)) {
        Remove(temporary);
        throw FileError(path + ": cannot replace it");
    }
}

void MakeDirectory(const std::string& path) {
#ifdef _WIN32
    if (CreateDirectoryW(Wide(path).c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) {
        DWORD attributes = GetFileAttributesW(Wide(path).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    }
#else
    struct stat info;
    if (mkdir(path.c_str(), 0755) == 0 || (errno == EEXIST && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)))
        return;
#endif
    throw FileError(path + ": cannot create the folder");
}

}  // namespace kestro
