#include "platform/files.h"

#include "platform/text.h"

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

namespace {

constexpr int kNoFailure = -1;
std::atomic<int> injectedStep{kNoFailure};

// Whether a test asked for this step to fail; it fails once.
bool Injected(FileStep step) {
    int wanted = static_cast<int>(step);
    return injectedStep.compare_exchange_strong(wanted, kNoFailure);
}

constexpr char kInjected[] = "injected failure";
constexpr int kNameAttempts = 16;

std::string LargerThan(std::size_t limit) {
    return "the file is larger than " + std::to_string(limit) + " bytes";
}

bool Fail(FileFault* fault, FileStep step, std::string reason) {
    fault->step = step;
    fault->reason = std::move(reason);
    return false;
}

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

constexpr char kNotUtf8[] = "the name is not UTF-8";

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
        return WideName(path, &wide) ? std::string() : kNotUtf8;
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

std::string ErrnoText(int code) { return std::strerror(code ? code : EIO); }


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

ScopedFileWriteFailure::ScopedFileWriteFailure(FileStep step) { injectedStep = static_cast<int>(step); }
ScopedFileWriteFailure::~ScopedFileWriteFailure() { injectedStep = kNoFailure; }

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
    if (!WideName(path, &wide)) return Fail(fault, FileStep::Open, kNotUtf8);
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

#ifndef _WIN32

// ---------------------------------------------------------------- folders

std::string DirName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

namespace {

std::string Why(const std::string& what, int code) { return what + ": " + ErrnoText(code); }

// A failure injected for tests, or the real one with errno's words.
bool StepFails(FileFault* fault, FileStep step, const std::string& what) {
    return Fail(fault, step, Why(what, errno));
}

bool SameFileSystem(int fd, dev_t device, struct stat* st) {
    return ::fstat(fd, st) == 0 && (device == 0 || st->st_dev == device);
}

// Each extended attribute Windows' state is kept in, by the names the mounts
// give it: the first name the source file answers to is the one carried.
struct WindowsAttribute {
    const char* what;
    const char* names[2];
};
constexpr WindowsAttribute kWindowsAttributes[] = {
    {"security descriptor", {"system.ntfs_acl", "system.ntfs_security"}},
    {"DOS attributes", {"system.ntfs_attrib_be", "system.dos_attrib"}},
    {"creation time", {"system.ntfs_crtime", nullptr}},
};

// The value of `name` on `fd`; false when the file has none (or the file
// system has no such attribute). The size is asked first: ntfs-3g answers
// a buffer that is too small with EIO, not ERANGE.
bool GetAttribute(int fd, const char* name, std::string* value) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t size = ::fgetxattr(fd, name, nullptr, 0);
        if (size < 0) return false;
        value->assign(static_cast<std::size_t>(size), '\0');
        const ssize_t got = ::fgetxattr(fd, name, size ? &(*value)[0] : nullptr, value->size());
        if (got >= 0) {
            value->resize(static_cast<std::size_t>(got));
            return true;
        }
        if (errno != ERANGE) return false;
    }
    return false;
}

}  // namespace

bool UniqueFd::Reset(int fd) {
    const bool closed = fd_ < 0 || ::close(fd_) == 0;
    fd_ = fd;
    return closed;
}

bool Folder::Open(const std::string& path, const VolumeBound* bound, Folder* folder, std::string* error) {
    std::string root = bound ? bound->root : std::string();
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    // A relative path is below "." too.
    const bool below = !root.empty() && ((root == "." && !path.empty() && path[0] != '/') ||
                                         (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                                          path[root.size()] == '/'));
    UniqueFd fd(::open((below ? root : path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd) {
        *error = Why(below ? root : path, errno);
        return false;
    }
    if (below) {
        // One folder at a time from the root, each on the volume.
        const bool fromHere = root == "." && path.compare(0, 2, "./") != 0;
        std::string walked = root;
        std::size_t at = fromHere ? 0 : root.size() + 1;
        while (at <= path.size()) {
            std::size_t slash = path.find('/', at);
            if (slash == std::string::npos) slash = path.size();
            const std::string part = path.substr(at, slash - at);
            at = slash + 1;
            if (part.empty() || part == ".") continue;
            walked += "/" + part;
            UniqueFd next(::openat(fd.Get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (!next) {
                *error = Why(walked, errno);
                return false;
            }
            struct stat st;
            if (!SameFileSystem(next.Get(), bound->device, &st)) {
                *error = walked + ": it leads off the Windows volume (to another file system); it is not followed";
                return false;
            }
            fd = std::move(next);
        }
    }
    folder->fd_ = std::move(fd);
    folder->path_ = path;
    return true;
}

bool Folder::ReadOnly() const {
    struct statvfs vfs;
    return ::fstatvfs(fd_.Get(), &vfs) == 0 && (vfs.f_flag & ST_RDONLY);
}

bool Folder::OpenFile(const std::string& name, int flags, UniqueFd* fd, std::string* error) const {
    UniqueFd file(::openat(fd_.Get(), name.c_str(), flags | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
    struct stat st;
    if (!file) {
        const int code = errno;
        if ((code == ELOOP || code == EMLINK) && Stat(name, &st) && S_ISLNK(st.st_mode)) {
            *error = PathOf(name) +
                     ": it is a symbolic link; Windows never makes one of its registry files, so it is not followed";
        } else {
            *error = Why(PathOf(name), code);
        }
        return false;
    }
    if (::fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        *error = PathOf(name) + ": not a regular file";
        return false;
    }
    *fd = std::move(file);
    return true;
}

bool Folder::Stat(const std::string& name, struct stat* st) const {
    return ::fstatat(fd_.Get(), name.c_str(), st, AT_SYMLINK_NOFOLLOW) == 0;
}

std::vector<std::string> Folder::Names() const {
    std::vector<std::string> names;
    const int copy = ::openat(fd_.Get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (copy < 0) return names;
    DIR* dir = ::fdopendir(copy);
    if (!dir) {
        ::close(copy);
        return names;
    }
    while (dirent* e = ::readdir(dir))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
    ::closedir(dir);
    return names;
}

bool Folder::CreateNew(const std::string& prefix, UniqueFd* fd, std::string* name, FileFault* fault) const {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        if (Injected(FileStep::Create)) return Fail(fault, FileStep::Create, kInjected);
        *name = prefix + TemporaryTail(NewFile::Process(), NewFile::Ticks());
        UniqueFd file(::openat(fd_.Get(), name->c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (file) {
            *fd = std::move(file);
            return true;
        }
        if (errno != EEXIST) break;
    }
    return StepFails(fault, FileStep::Create, "cannot create a file in " + path_);
}

bool Folder::Rename(const std::string& from, const std::string& to, FileFault* fault) const {
    if (Injected(FileStep::Replace)) return Fail(fault, FileStep::Replace, kInjected);
    if (::renameat(fd_.Get(), from.c_str(), fd_.Get(), to.c_str()) == 0) return true;
    return StepFails(fault, FileStep::Replace, "cannot rename " + from + " to " + to);
}

bool Folder::Link(int fd, const std::string& name) const {
    // Through /proc rather than AT_EMPTY_PATH, which needs a capability.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    return ::linkat(AT_FDCWD, self.c_str(), fd_.Get(), name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

void Folder::Remove(const std::string& name) const { ::unlinkat(fd_.Get(), name.c_str(), 0); }

bool Folder::Flush() const { return ::fsync(fd_.Get()) == 0; }

// Of the DOS attributes, those a file can be given: read-only, hidden,
// system, archive, temporary, offline, not content-indexed. The others
// (sparse, compressed, a reparse point, ...) tell how the file is stored,
// which the new file has of its own.
constexpr std::uint32_t kSettableAttributes = 0x1 | 0x2 | 0x4 | 0x20 | 0x100 | 0x1000 | 0x2000;

// The DOS attributes `value` as stored (4 bytes big-endian, or 1 byte)
// with the settable ones taken from `from`.
static std::string MergeAttributes(const std::string& value, const std::string& from) {
    if (value.size() != from.size() || (value.size() != 4 && value.size() != 1)) return from;
    std::string merged = value;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const unsigned shift = 8 * static_cast<unsigned>(value.size() - 1 - i);
        const auto settable = static_cast<unsigned char>(kSettableAttributes >> shift);
        merged[i] = static_cast<char>((value[i] & ~settable) | (from[i] & settable));
    }
    return merged;
}

bool CarryWindowsAttributes(int from, int to, FileFault* fault) {
    if (Injected(FileStep::Carry)) return Fail(fault, FileStep::Carry, kInjected);
    for (const WindowsAttribute& attribute : kWindowsAttributes) {
        const bool dos = &attribute == &kWindowsAttributes[1];
        for (const char* name : attribute.names) {
            std::string value, back, present;
            if (!name || !GetAttribute(from, name, &value)) continue;
            if (dos && GetAttribute(to, name, &present)) value = MergeAttributes(present, value);
            if (::fsetxattr(to, name, value.data(), value.size(), 0) != 0)
                return StepFails(fault, FileStep::Carry, std::string("cannot give the new file its ") + attribute.what);
            if (!GetAttribute(to, name, &back) || (dos ? MergeAttributes(back, value) != back : back != value))
                return Fail(fault, FileStep::Carry,
                            std::string("the new file's ") + attribute.what + " does not read back as it was set");
            break;
        }
    }
    return true;
}

bool WindowsReadOnly(int fd) {
    constexpr unsigned kReadOnly = 0x01;
    std::string value;
    if (GetAttribute(fd, "system.ntfs_attrib_be", &value) && value.size() == 4)
        return static_cast<unsigned char>(value[3]) & kReadOnly;
    if (GetAttribute(fd, "system.dos_attrib", &value) && value.size() == 1)
        return static_cast<unsigned char>(value[0]) & kReadOnly;
    return false;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size) {
        const ssize_t put = ::write(fd, data, size);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        data += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

namespace {

// Every byte of `from` from its start to `to` at its current position.
bool CopyBytes(int from, int to, FileFault* fault) {
    std::vector<char> buffer(1 << 16);
    const bool injectedWrite = Injected(FileStep::Write);
    for (off_t at = 0;;) {
        const ssize_t got = ::pread(from, buffer.data(), buffer.size(), at);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return StepFails(fault, FileStep::Write, "cannot read the file to copy");
        if (got == 0) break;
        if (!WriteAll(to, buffer.data(), static_cast<std::size_t>(injectedWrite ? got / 2 : got)))
            return StepFails(fault, FileStep::Write, "cannot write the copy");
        if (injectedWrite) return Fail(fault, FileStep::Write, kInjected);
        at += got;
    }
    if (Injected(FileStep::Flush)) return Fail(fault, FileStep::Flush, kInjected);
    if (::fsync(to) != 0) return StepFails(fault, FileStep::Flush, "cannot flush the copy");
    return true;
}

}  // namespace

bool CopyInto(int from, const Folder& folder, const std::string& name, FileFault* fault) {
    struct stat st;
    if (::fstat(from, &st) != 0) return StepFails(fault, FileStep::Create, "cannot read the file to copy");
    if (Injected(FileStep::Create)) return Fail(fault, FileStep::Create, kInjected);
    UniqueFd out(::openat(folder.Fd(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          st.st_mode & 07777));
    if (!out) return StepFails(fault, FileStep::Create, "cannot create " + folder.PathOf(name));
    const bool copied = CarryWindowsAttributes(from, out.Get(), fault) && CopyBytes(from, out.Get(), fault);
    if (!copied) {
        out.Reset();
        folder.Remove(name);
        fault->reason = folder.PathOf(name) + ": " + fault->reason;
    }
    return copied;
}

bool CopyOver(int from, int to, FileFault* fault) {
    if (::ftruncate(to, 0) != 0 || ::lseek(to, 0, SEEK_SET) != 0)
        return StepFails(fault, FileStep::Write, "cannot rewrite the file");
    return CopyBytes(from, to, fault);
}

bool ReadDescriptor(int fd, std::size_t limit, std::string* bytes, FileFault* fault) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return StepFails(fault, FileStep::Read, "cannot read it");
    if (static_cast<std::uint64_t>(st.st_size) > limit) return Fail(fault, FileStep::TooLarge, std::string());
    bytes->assign(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t done = 0;
    while (done < bytes->size()) {
        const ssize_t got = ::pread(fd, &(*bytes)[done], bytes->size() - done, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return StepFails(fault, FileStep::Read, "cannot read it");
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    bytes->resize(done);
    return true;
}

// ---------------------------------------------------------------- lock

namespace {

std::string HostName() {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || !host[0]) return "this machine";
    return host;
}

std::string Seconds(std::chrono::milliseconds wait) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(wait.count()) / 1000.0);
    return text;
}

std::string NowUtc() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
    return text;
}

}  // namespace

bool WriterLock::Acquire(const Folder& folder, const std::string& name, std::chrono::milliseconds wait,
                         std::string* error, bool* readOnly) {
    Release();
    *readOnly = false;
    const std::string lockName = LockName(name);
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        UniqueFd fd(::openat(folder.Fd(), lockName.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644));
        if (!fd) {
            *readOnly = errno == EROFS;
            *error = Why("cannot make the lock file " + folder.PathOf(lockName), errno);
            return false;
        }
        if (::flock(fd.Get(), LOCK_EX | LOCK_NB) == 0) {
            // The holder before removed the file after this open: the lock
            // is on a name no one else sees; take the one under the name.
            struct stat held, named;
            if (::fstat(fd.Get(), &held) != 0 || !folder.Stat(lockName, &named) || held.st_ino != named.st_ino ||
                held.st_dev != named.st_dev)
                continue;
            const std::string who = "process " + std::to_string(::getpid()) + " on " + HostName() + ", since " +
                                    NowUtc() + "\n";
            // Who holds it is for the message of the one who waits: best effort.
            if (::ftruncate(fd.Get(), 0) == 0 && ::pwrite(fd.Get(), who.data(), who.size(), 0) < 0) errno = 0;
            folder_ = &folder;
            lockName_ = lockName;
            fd_ = std::move(fd);
            return true;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            *error = Why("cannot lock " + folder.PathOf(lockName), errno);
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            std::string holder;
            FileFault ignored;
            ReadDescriptor(fd.Get(), 512, &holder, &ignored);
            while (!holder.empty() && (holder.back() == '\n' || holder.back() == '\r')) holder.pop_back();
            *error = "another kestroctl is writing it (" + (holder.empty() ? std::string("it has not said who") : holder) +
                     "); waited " + Seconds(wait) + " s. Run again when it has finished (its lock is " + folder.PathOf(lockName) + ")";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void WriterLock::Release() {
    if (!fd_) return;
    // Removed while still held, so that no one takes a lock on a name that
    // is about to go.
    folder_->Remove(lockName_);
    fd_.Reset();
    folder_ = nullptr;
    lockName_.clear();
}

#endif

}  // namespace kestro
