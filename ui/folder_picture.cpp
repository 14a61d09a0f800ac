#include "ui/folder_picture.h"

#include "core/text.h"
#include "ui/shell_library.h"

#include <windows.h>

#include <string>
#include <vector>

namespace kestro {

namespace {

constexpr wchar_t kSection[] = L"{BE098140-A513-11D0-A3A4-00C04FD706EC}";
constexpr wchar_t kKey[] = L"IconArea_Image";

// Owns a file handle.
class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    ~FileHandle() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    HANDLE Get() const { return handle_; }
    explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

bool ReadAll(HANDLE file, std::string* bytes) {
    const DWORD size = GetFileSize(file, nullptr);
    if (size == INVALID_FILE_SIZE) return false;
    bytes->assign(size, '\0');
    DWORD read = 0;
    return size == 0 || (ReadFile(file, &(*bytes)[0], size, &read, nullptr) && read == size);
}

// The profile-string writer keeps a file in UTF-16 when it starts with a
// byte-order mark, and writes ANSI otherwise. A new file gets the mark; an
// ANSI file is converted, since all it holds came from the code page and
// converts without loss; a file with any byte-order mark is left alone.
// `created` tells whether the file is new.
bool MakeUnicodeFile(const std::wstring& file, bool* created) {
    FileHandle handle(CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle) return false;
    *created = GetLastError() != ERROR_ALREADY_EXISTS;
    std::string bytes;
    if (!ReadAll(handle.Get(), &bytes)) return false;
    const bool marked = (bytes.size() >= 2 && ((bytes[0] == '\xFF' && bytes[1] == '\xFE') ||
                                               (bytes[0] == '\xFE' && bytes[1] == '\xFF'))) ||
                        bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
    if (marked) return true;
    const std::wstring text = FromAnsi(bytes);
    if (!bytes.empty() && text.empty()) return false;
    // UTF-16LE with its byte-order mark: wchar_t is UTF-16 on Windows.
    const std::vector<std::uint8_t> utf16 = Utf16LeBytes(std::u16string(text.begin(), text.end()));
    std::string out("\xFF\xFE", 2);
    out.append(utf16.begin(), utf16.end());
    DWORD written = 0;
    return SetFilePointer(handle.Get(), 0, nullptr, FILE_BEGIN) == 0 &&
           WriteFile(handle.Get(), out.data(), static_cast<DWORD>(out.size()), &written, nullptr) &&
           written == out.size() && SetEndOfFile(handle.Get());
}

bool MakeSystemFolder(const std::wstring& folder) { return shell::PathMakeSystemFolderW(folder.c_str()) != FALSE; }

FolderMarker activeMarker = MakeSystemFolder;

// A folder that is already read-only or system keeps its attributes:
// PathMakeSystemFolder would replace them with its own choice, and a drive
// root's (hidden and system on NTFS) belong to the volume.
bool MarkFolder(const std::wstring& folder) {
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM)))
        return true;
    return activeMarker(folder);
}

}  // namespace

ScopedFolderMarker::ScopedFolderMarker(FolderMarker marker) : previous_(activeMarker) { activeMarker = marker; }

ScopedFolderMarker::~ScopedFolderMarker() { activeMarker = previous_; }

bool WriteFolderPicture(const std::wstring& folder, const std::wstring& picture) {
    const std::wstring file = folder + L"\\Desktop.ini";
    const bool existed = GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES;
    bool created = false;
    if (!(FitsAnsiCodePage(picture) || MakeUnicodeFile(file, &created)) ||
        !WritePrivateProfileStringW(kSection, kKey, picture.c_str(), file.c_str())) {
        if (created) DeleteFileW(file.c_str());  // no file with only a byte-order mark left behind
        return false;
    }
    // Only now that the entry is there: a marked folder without it would
    // be customised for nothing. The file's own attributes only keep it out
    // of sight, so failing to set them does not stop the picture.
    if (!existed) SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    return MarkFolder(folder);
}

}  // namespace kestro
