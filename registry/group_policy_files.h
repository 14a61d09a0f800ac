// The files of the computer's local Group Policy object, as the store of a
// registry reaches them: %SystemRoot%\System32\GroupPolicy\gpt.ini and its
// User\Registry.pol and Machine\Registry.pol. Group Policy copies each
// Registry.pol into the registry at every logon and refresh, so a value in
// one comes back however often the registry's own copy is changed.
#pragma once

#include <cstdint>
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
};

}  // namespace kestro
