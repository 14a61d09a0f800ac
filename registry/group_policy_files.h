// The files of the computer's local Group Policy object, as the store of a
// registry reaches them: %SystemRoot%\System32\GroupPolicy\gpt.ini and its
// User\Registry.pol and Machine\Registry.pol. Group Policy copies each
// Registry.pol into the registry at every logon and refresh, so a value in
// one comes back however often the registry's own copy is changed.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kestro {

class GroupPolicyFiles {
public:
    enum class File { UserPolicy, MachinePolicy, GptIni };
    enum class Read { Ok, Absent, Failed };

    virtual ~GroupPolicyFiles() = default;
    // The whole file, never more than `limit` bytes; Absent when it is not
    // there (nor its folder), Failed with *error otherwise.
    virtual Read ReadFile(File file, std::size_t limit, std::vector<std::uint8_t>* bytes, std::string* error) = 0;
    // Replaces the file whole and durably, or leaves it as it was; the
    // folders are made when missing.
    virtual bool WriteFile(File file, const std::vector<std::uint8_t>& bytes, std::string* error) = 0;
    // Deletes the file; true when it is gone (or was never there).
    virtual bool RemoveFile(File file, std::string* error) = 0;
    // A domain's Group Policy object as Windows (Vista and later) keeps a
    // copy of it on the computer, below
    // %SystemRoot%\System32\GroupPolicy\DataStore\0\sysvol\DOMAIN\Policies\{GUID}:
    // the Registry.pol of the folder `fileSysPath` names (the FileSysPath
    // of the registry extension's history, such as
    // "C:\Windows\system32\GroupPolicy\DataStore\0\sysvol\corp.example\Policies\{...}\Machine").
    // None where there is no copy to read: a path on the domain
    // controller's share (XP keeps no copy: "\\corp.example\SysVol\..."),
    // one outside the Windows folder, or a folder that is not there.
    struct DomainCopy {
        enum class Kind { None, NoRegistryPol, Read, Failed };
        Kind kind = Kind::None;
        std::vector<std::uint8_t> bytes;  // Read
        std::string error;                // Failed
    };
    virtual DomainCopy ReadDomainCopy(const std::string& fileSysPath, std::size_t limit);
    // The folders of a local Windows path ("C:\a\b" gives "a", "b"), or
    // false for anything else: a share, a relative path, a part that is
    // empty, "." or "..", or one that holds a character a name cannot.
    static bool LocalPathParts(const std::string& path, std::vector<std::string>* parts);

    // The file as its Windows names it, for messages:
    // "%SystemRoot%\System32\GroupPolicy\User\Registry.pol".
    static std::string WindowsName(File file);
    // Its place below the GroupPolicy folder: "User/Registry.pol".
    static const char* RelativePath(File file);
};

// The files below a GroupPolicy folder given by its path, through the
// program's own whole-file reads and durable writes (core/files.h): the
// running Windows' own, or any folder a test names.
class PathGroupPolicyFiles final : public GroupPolicyFiles {
public:
    explicit PathGroupPolicyFiles(std::string folder) : folder_(std::move(folder)) {}
    Read ReadFile(File file, std::size_t limit, std::vector<std::uint8_t>* bytes, std::string* error) override;
    bool WriteFile(File file, const std::vector<std::uint8_t>& bytes, std::string* error) override;
    bool RemoveFile(File file, std::string* error) override;
    // The running Windows' own copy, by its local path (never a share).
    DomainCopy ReadDomainCopy(const std::string& fileSysPath, std::size_t limit) override;
    const std::string& Folder() const { return folder_; }

private:
    std::string PathOf(File file) const;
    std::string folder_;
};

// Kept in memory, for tests and the native engine: a file is there once
// written.
class MemoryGroupPolicyFiles final : public GroupPolicyFiles {
public:
    Read ReadFile(File file, std::size_t limit, std::vector<std::uint8_t>* bytes, std::string* error) override;
    bool WriteFile(File file, const std::vector<std::uint8_t>& bytes, std::string* error) override;
    bool RemoveFile(File file, std::string* error) override;
    // For tests: a file that cannot be read or written.
    bool failReads[3] = {false, false, false};
    bool failWrites[3] = {false, false, false};
    bool present[3] = {false, false, false};
    std::vector<std::uint8_t> bytes[3];
    // The domain's copies by their FileSysPath, as given.
    std::map<std::string, DomainCopy> domainCopies;
    DomainCopy ReadDomainCopy(const std::string& fileSysPath, std::size_t limit) override;
};

}  // namespace kestro
