#include "ctl/files.h"

#include "platform/text.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#endif

namespace kestro {

namespace {

std::string LargerThan(std::size_t limit) {
    return "the file is larger than " + std::to_string(limit) + " bytes";
}

#ifdef _WIN32
std::string LastErrorText() {
    const DWORD code = GetLastError();
    wchar_t* buffer = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), reinterpret_cast<wchar_t*>(&buffer), 0,
                   nullptr);
    std::wstring text = buffer ? buffer : L"";
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L'.')) text.pop_back();
    if (text.empty()) text = L"error " + std::to_wstring(code);
    return WideToUtf8(text);
}

struct Handle {
    HANDLE h;
    ~Handle() {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
};
#endif

}  // namespace

#ifdef _WIN32

bool ReadWholeFile(const std::string& path, std::size_t limit, std::string* bytes, std::string* error) {
    Handle file{CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (file.h == INVALID_HANDLE_VALUE) {
        *error = LastErrorText();
        return false;
    }
    bytes->clear();
    char chunk[65536];
    DWORD got = 0;
    for (;;) {
        if (!ReadFile(file.h, chunk, sizeof chunk, &got, nullptr)) {
            *error = LastErrorText();
            return false;
        }
        if (got == 0) return true;
        if (got > limit - bytes->size()) {
            *error = LargerThan(limit);
            return false;
        }
        bytes->append(chunk, got);
    }
}

bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string* error) {
    const std::wstring target = Utf8ToWide(path);
    const std::wstring temporary = target + L".kestroctl-" + std::to_wstring(GetCurrentProcessId()) + L".tmp";
    bool written = false;
    {
        Handle file{CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr)};
        if (file.h == INVALID_HANDLE_VALUE) {
            *error = LastErrorText();
            return false;
        }
        DWORD put = 0;
        written = WriteFile(file.h, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) &&
                  put == bytes.size() && FlushFileBuffers(file.h);
        if (!written) *error = LastErrorText();
    }
    if (written && MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    if (written) *error = LastErrorText();
    DeleteFileW(temporary.c_str());
    return false;
}

bool IsExistingFile(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(Utf8ToWide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string FullPath(const std::string& path) {
    const std::wstring wide = Utf8ToWide(path);
    const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return path;
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(wide.c_str(), needed, &full[0], nullptr);
    if (length == 0 || length >= needed) return path;
    full.resize(length);
    return WideToUtf8(full);
}

#else

bool ReadWholeFile(const std::string& path, std::size_t limit, std::string* bytes, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        *error = std::strerror(errno);
        return false;
    }
    bytes->clear();
    char chunk[65536];
    std::size_t got;
    bool tooLarge = false;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        if (got > limit - bytes->size()) {
            tooLarge = true;
            break;
        }
        bytes->append(chunk, got);
    }
    const bool ok = !tooLarge && !std::ferror(file);
    if (tooLarge)
        *error = LargerThan(limit);
    else if (!ok)
        *error = std::strerror(errno);
    std::fclose(file);
    return ok;
}

bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string* error) {
    const std::string temporary = path + ".kestroctl-" + std::to_string(getpid()) + ".tmp";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) {
        *error = std::strerror(errno);
        return false;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() && std::fflush(file) == 0 &&
              fsync(fileno(file)) == 0;
    if (!ok) *error = std::strerror(errno);
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        *error = std::strerror(errno);
    }
    if (ok && std::rename(temporary.c_str(), path.c_str()) != 0) {
        ok = false;
        *error = std::strerror(errno);
    }
    if (!ok) std::remove(temporary.c_str());
    return ok;
}

bool IsExistingFile(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

std::string FullPath(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char buffer[PATH_MAX];
    if (!getcwd(buffer, sizeof buffer)) return path;
    return std::string(buffer) + "/" + path;
}

#endif

}  // namespace kestro
