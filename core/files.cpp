#include "core/files.h"

#include "core/file_faults.h"
#include "core/localized.h"
#include "core/unique_fd.h"

#include "core/text.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <ctime>
#include <thread>
#endif

namespace kestro {

namespace file_faults {

const char kInjected[] = "injected failure";

bool Injected(FileStep step) { return ScopedFileWriteFailure::Reached(step); }

bool Fail(FileFault* fault, FileStep step, std::string reason) {
    fault->step = step;
    fault->reason = std::move(reason);
    return false;
}

#ifndef _WIN32
std::string ErrnoText(int code) { return std::strerror(code ? code : EIO); }
std::string Why(const std::string& what, int code) { return what + ": " + ErrnoText(code); }
#endif

// The end of a temporary name that no other writer picks: this process,
// a count within it, and bits of the clock, for a file that a crashed
// process of the same number left behind. (Creating refuses an existing
// name as well, and then the next name is tried.)
std::string TemporaryTail(unsigned long process, unsigned long long ticks) {
    static std::atomic<unsigned> count{0};
    const unsigned n = count++;
    const unsigned long long mixed = (ticks ^ (static_cast<unsigned long long>(n) << 40)) * 0x9E3779B97F4A7C15ull;
    char tail[64];
    std::snprintf(tail, sizeof tail, ".kestro-%lu-%u-%08lx.tmp", process, n,
                  static_cast<unsigned long>(mixed >> 32));
    return tail;
}

#ifndef _WIN32
std::string TemporaryTail() {
    return TemporaryTail(static_cast<unsigned long>(getpid()),
                         static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count()));
}
#endif

}  // namespace file_faults

namespace {

using namespace file_faults;


std::string LargerThan(std::size_t limit) {
    return Localized("the file is larger than %1 bytes", limit);
}


#ifdef _WIN32

// The system's text in the user's language (the neutral language lets
// Windows choose: a Russian Windows may lack the English texts), with the
// number after it, which stays the same in every language.
std::string LastErrorText() {
    const DWORD code = GetLastError();
    wchar_t* buffer = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&buffer), 0,
                   nullptr);
    std::wstring text = buffer ? buffer : L"";
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L'.' || text.back() == L' '))
        text.pop_back();
    if (text.empty()) return "error " + std::to_string(code);
    return WideToUtf8(text) + " (" + std::to_string(code) + ")";
}

class Handle {
public:
    explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
    ~Handle() { Close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE Get() const { return h_; }
    bool IsOpen() const { return h_ != INVALID_HANDLE_VALUE; }
    void Reset(HANDLE h) {
        Close();
        h_ = h;
    }
    bool Close() {
        const bool closed = !IsOpen() || CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
        return closed;
    }

private:
    HANDLE h_;
};

// A name for the wide API; a name that is not UTF-8 could only be guessed at.
bool WideName(const std::string& path, std::wstring* wide) {
    try {
        const std::u16string units = StrictUtf8ToUtf16(path);
        wide->assign(units.begin(), units.end());
        return true;
    } catch (const std::invalid_argument&) {
        return false;
    }
}

constexpr const char* kNotUtf8 = N_("the name is not UTF-8");

// The calls that make, fill and place a new file. Each is true when it
// succeeded; LastReason() then says why the last one failed.
class NewFile {
public:
    // Makes `name`, which must not exist yet; NameTaken() tells when it did.
    bool Create(const std::string& name) {
        std::wstring wide;
        if (!WideName(name, &wide)) {
            SetLastError(ERROR_INVALID_NAME);
            return false;
        }
        file_.Reset(CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        taken_ = !file_.IsOpen() && GetLastError() == ERROR_FILE_EXISTS;
        return file_.IsOpen();
    }
    bool NameTaken() const { return taken_; }
    bool WriteSome(const char* data, std::size_t size, std::size_t* put) {
        DWORD done = 0;
        const DWORD chunk = size > (1u << 20) ? (1u << 20) : static_cast<DWORD>(size);
        if (!WriteFile(file_.Get(), data, chunk, &done, nullptr)) return false;
        *put = done;
        return true;
    }
    bool Flush() { return FlushFileBuffers(file_.Get()) != 0; }
    bool Close() { return file_.Close(); }

    // Write-through: the rename is on the disk when the call returns.
    static bool Rename(const std::string& from, const std::string& to) {
        std::wstring wideFrom, wideTo;
        return WideName(from, &wideFrom) && WideName(to, &wideTo) &&
               MoveFileExW(wideFrom.c_str(), wideTo.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    }
    static void Remove(const std::string& name) {
        std::wstring wide;
        if (WideName(name, &wide)) DeleteFileW(wide.c_str());
    }
    static void FlushFolderOf(const std::string&) {}
    static std::string NameProblem(const std::string& path) {
        std::wstring wide;
        return WideName(path, &wide) ? std::string() : Localized(kNotUtf8);
    }
    static unsigned long Process() { return GetCurrentProcessId(); }
    // The performance counter, which XP has (std::chrono's clocks would
    // import what it has not).
    static unsigned long long Ticks() {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return static_cast<unsigned long long>(now.QuadPart);
    }
    static std::string LastReason() { return LastErrorText(); }

private:
    Handle file_;
    bool taken_ = false;
};

#else



struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// The calls that make, fill and place a new file. Each is true when it
// succeeded; LastReason() then says why the last one failed.
class NewFile {
public:
    // Makes `name`, which must not exist yet; NameTaken() tells when it did.
    bool Create(const std::string& name) {
        file_.Reset(::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        taken_ = file_.Get() < 0 && errno == EEXIST;
        return file_.Get() >= 0;
    }
    bool NameTaken() const { return taken_; }
    bool WriteSome(const char* data, std::size_t size, std::size_t* put) {
        ssize_t done;
        do done = ::write(file_.Get(), data, size);
        while (done < 0 && errno == EINTR);
        if (done <= 0) return false;
        *put = static_cast<std::size_t>(done);
        return true;
    }
    bool Flush() { return ::fsync(file_.Get()) == 0; }
    bool Close() { return file_.Reset(); }

    static bool Rename(const std::string& from, const std::string& to) {
        return ::rename(from.c_str(), to.c_str()) == 0;
    }
    static void Remove(const std::string& name) { ::unlink(name.c_str()); }
    // The rename lives in the folder: flush it too. The new file is already
    // in place, whole, so there is nothing to undo should this fail.
    static void FlushFolderOf(const std::string& path) {
        const std::size_t slash = path.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
        UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (fd.Get() >= 0) ::fsync(fd.Get());
    }
    static std::string NameProblem(const std::string&) { return std::string(); }  // any bytes name a file
    static unsigned long Process() { return static_cast<unsigned long>(getpid()); }
    static unsigned long long Ticks() {
        return static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
    }
    static std::string LastReason() { return ErrnoText(errno); }

private:
    UniqueFd file_;
    bool taken_ = false;
};

#endif

}  // namespace


#ifndef _WIN32
bool UniqueFd::Reset(int fd) {
    const bool closed = fd_ < 0 || ::close(fd_) == 0;
    fd_ = fd;
    return closed;
}
#endif

bool ReadWholeFile(const std::string& path, std::size_t limit, std::string* bytes, std::string* error) {
    FileFault fault;
    if (ReadFileBounded(path, limit, bytes, &fault)) return true;
    *error = fault.step == FileStep::TooLarge ? LargerThan(limit) : fault.reason;
    return false;
}

bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string* error) {
    FileFault fault;
    if (WriteFileDurably(path, bytes.data(), bytes.size(), &fault)) return true;
    *error = fault.reason;
    return false;
}

bool WriteFileDurably(const std::string& path, const void* data, std::size_t size, FileFault* fault) {
    const std::string problem = NewFile::NameProblem(path);
    if (!problem.empty()) return Fail(fault, FileStep::Create, problem);
    NewFile file;
    std::string temporary;
    bool created = false;
    for (int attempt = 0; attempt < kNameAttempts && !created; ++attempt) {
        if (Injected(FileStep::Create)) return Fail(fault, FileStep::Create, kInjected);
        temporary = path + TemporaryTail(NewFile::Process(), NewFile::Ticks());
        created = file.Create(temporary);
        if (!created && !file.NameTaken()) break;
    }
    if (!created) return Fail(fault, FileStep::Create, NewFile::LastReason());

    // From here on a failure removes the temporary file.
    const auto failed = [&](FileStep step, std::string reason) {
        file.Close();
        NewFile::Remove(temporary);
        return Fail(fault, step, std::move(reason));
    };
    const char* next = static_cast<const char*>(data);
    std::size_t left = size;
    const bool injectedWrite = Injected(FileStep::Write);
    if (injectedWrite) left /= 2;
    while (left > 0) {
        std::size_t put = 0;
        if (!file.WriteSome(next, left, &put)) return failed(FileStep::Write, NewFile::LastReason());
        next += put;
        left -= put;
    }
    if (injectedWrite) return failed(FileStep::Write, kInjected);
    if (Injected(FileStep::Flush)) return failed(FileStep::Flush, kInjected);
    if (!file.Flush() || !file.Close()) return failed(FileStep::Flush, NewFile::LastReason());
    if (Injected(FileStep::Replace)) return failed(FileStep::Replace, kInjected);
    if (!NewFile::Rename(temporary, path)) return failed(FileStep::Replace, NewFile::LastReason());
    NewFile::FlushFolderOf(path);
    return true;
}

#ifdef _WIN32

bool ReadFileBounded(const std::string& path, std::size_t limit, std::string* bytes, FileFault* fault) {
    std::wstring wide;
    if (!WideName(path, &wide)) return Fail(fault, FileStep::Open, Localized(kNotUtf8));
    Handle file(CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsOpen()) return Fail(fault, FileStep::Open, LastErrorText());
    bytes->clear();
    char chunk[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.Get(), chunk, sizeof chunk, &got, nullptr)) return Fail(fault, FileStep::Read, LastErrorText());
        if (got == 0) return true;
        if (got > limit - bytes->size()) return Fail(fault, FileStep::TooLarge, std::string());
        bytes->append(chunk, got);
    }
}

bool IsExistingFile(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(Utf8ToWide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool PathExists(const std::string& path) {
    return GetFileAttributesW(Utf8ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool MakeFolder(const std::string& path) {
    std::wstring wide;
    if (!WideName(path, &wide)) return false;
    if (!CreateDirectoryW(wide.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
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

bool ReadFileBounded(const std::string& path, std::size_t limit, std::string* bytes, FileFault* fault) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) return Fail(fault, FileStep::Open, ErrnoText(errno));
    bytes->clear();
    char chunk[65536];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
        if (got > limit - bytes->size()) return Fail(fault, FileStep::TooLarge, std::string());
        bytes->append(chunk, got);
    }
    if (std::ferror(file.get())) return Fail(fault, FileStep::Read, ErrnoText(errno));
    return true;
}

bool IsExistingFile(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool PathExists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

bool MakeFolder(const std::string& path) {
    struct stat info;
    return ::mkdir(path.c_str(), 0755) == 0 ||
           (errno == EEXIST && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode));
}

std::string FullPath(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char buffer[PATH_MAX];
    if (!getcwd(buffer, sizeof buffer)) return path;
    return std::string(buffer) + "/" + path;
}

#endif


}  // namespace kestro
