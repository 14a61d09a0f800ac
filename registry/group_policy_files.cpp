#include "registry/group_policy_files.h"

#include "core/files.h"
#include "core/localized.h"

#include <algorithm>
#include <cstdio>

namespace kestro {

namespace {

std::size_t Index(GroupPolicyFiles::File file) { return static_cast<std::size_t>(file); }

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

}  // namespace

const char* GroupPolicyFiles::RelativePath(File file) {
    switch (file) {
        case File::UserPolicy: return "User/Registry.pol";
        case File::MachinePolicy: return "Machine/Registry.pol";
        case File::GptIni: return "gpt.ini";
    }
    return "";
}

std::string GroupPolicyFiles::WindowsName(File file) {
    std::string name = std::string("%SystemRoot%\\System32\\GroupPolicy\\") + RelativePath(file);
    for (char& c : name)
        if (c == '/') c = '\\';
    return name;
}

GroupPolicyFiles::DomainCopy GroupPolicyFiles::ReadDomainCopy(const std::string&, std::size_t) {
    return DomainCopy();
}

bool GroupPolicyFiles::LocalPathParts(const std::string& path, std::vector<std::string>* parts) {
    parts->clear();
    // A drive letter is ASCII whatever the C locale says is a letter.
    const char letter = static_cast<char>(path.empty() ? 0 : path[0] | 0x20);
    const bool drive = path.size() >= 3 && letter >= 'a' && letter <= 'z' && path[1] == ':' && path[2] == '\\';
    if (!drive || path.size() > 260) return false;
    std::size_t at = 3;
    while (at <= path.size()) {
        std::size_t end = path.find('\\', at);
        if (end == std::string::npos) end = path.size();
        const std::string part = path.substr(at, end - at);
        if (part.empty() && end == path.size() && !parts->empty()) break;  // a trailing backslash
        if (part.empty() || part == "." || part == ".." || part.find_first_of("/:*?\"<>|") != std::string::npos ||
            std::any_of(part.begin(), part.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
            return false;
        parts->push_back(part);
        at = end + 1;
    }
    return !parts->empty() && parts->size() <= 32;
}

GroupPolicyFiles::DomainCopy PathGroupPolicyFiles::ReadDomainCopy(const std::string& fileSysPath, std::size_t limit) {
    DomainCopy copy;
    std::vector<std::string> parts;
#ifdef _WIN32
    // Only this computer's own disk: a share would reach the network.
    if (!LocalPathParts(fileSysPath, &parts) || !PathExists(fileSysPath)) return copy;
    const std::string file = fileSysPath + (fileSysPath.back() == '\\' ? "" : "\\") + "Registry.pol";
    if (!PathExists(file)) {
        copy.kind = DomainCopy::Kind::NoRegistryPol;
        return copy;
    }
    std::string content;
    if (!ReadWholeFile(file, limit, &content, &copy.error)) {
        copy.kind = DomainCopy::Kind::Failed;
        return copy;
    }
    copy.kind = DomainCopy::Kind::Read;
    copy.bytes.assign(content.begin(), content.end());
#else
    (void)fileSysPath;
    (void)limit;
#endif
    return copy;
}

GroupPolicyFiles::DomainCopy MemoryGroupPolicyFiles::ReadDomainCopy(const std::string& fileSysPath, std::size_t) {
    const auto found = domainCopies.find(fileSysPath);
    return found == domainCopies.end() ? DomainCopy() : found->second;
}

std::string PathGroupPolicyFiles::PathOf(File file) const {
    std::string path = folder_ + kSeparator + RelativePath(file);
    for (char& c : path)
        if (c == '/' || c == '\\') c = kSeparator;
    return path;
}

GroupPolicyFiles::Read PathGroupPolicyFiles::ReadFile(File file, std::size_t limit, std::vector<std::uint8_t>* bytes,
                                                      std::string* error) {
    const std::string path = PathOf(file);
    if (!PathExists(path)) return Read::Absent;
    std::string content;
    if (!ReadWholeFile(path, limit, &content, error)) return Read::Failed;
    bytes->assign(content.begin(), content.end());
    return Read::Ok;
}

bool PathGroupPolicyFiles::WriteFile(File file, const std::vector<std::uint8_t>& bytes, std::string* error) {
    // The side's folder may not exist yet when only the other side had a file.
    MakeFolder(folder_);
    if (file != File::GptIni) MakeFolder(folder_ + kSeparator + (file == File::UserPolicy ? "User" : "Machine"));
    return WriteFileAtomically(PathOf(file), std::string(bytes.begin(), bytes.end()), error);
}

bool PathGroupPolicyFiles::RemoveFile(File file, std::string* error) {
    const std::string path = PathOf(file);
    if (!PathExists(path)) return true;
    if (std::remove(path.c_str()) == 0) return true;
    *error = Localized("cannot delete %1", path);
    return false;
}

GroupPolicyFiles::Read MemoryGroupPolicyFiles::ReadFile(File file, std::size_t limit, std::vector<std::uint8_t>* out,
                                                        std::string* error) {
    const std::size_t i = Index(file);
    if (failReads[i]) {
        *error = Localized("access denied");
        return Read::Failed;
    }
    if (!present[i]) return Read::Absent;
    if (bytes[i].size() > limit) {
        *error = Localized("the file is larger than %1 bytes", limit);
        return Read::Failed;
    }
    *out = bytes[i];
    return Read::Ok;
}

bool MemoryGroupPolicyFiles::WriteFile(File file, const std::vector<std::uint8_t>& data, std::string* error) {
    const std::size_t i = Index(file);
    if (failWrites[i]) {
        *error = Localized("access denied");
        return false;
    }
    present[i] = true;
    bytes[i] = data;
    return true;
}

bool MemoryGroupPolicyFiles::RemoveFile(File file, std::string* error) {
    const std::size_t i = Index(file);
    if (failWrites[i]) {
        *error = Localized("access denied");
        return false;
    }
    present[i] = false;
    bytes[i].clear();
    return true;
}

}  // namespace kestro
