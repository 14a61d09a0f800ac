#include "offline/volume_group_policy.h"

#include "core/localized.h"
#include "core/text.h"
#include "offline/offline_windows.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kestro {

namespace {

// The entry of `folder` that NTFS would take for `name`, or empty.
std::string EntryOf(const Folder& folder, const std::string& name) {
    std::string found;
    for (const std::string& entry : folder.Names()) {
        if (!SameNtfsName(entry, name)) continue;
        if (!found.empty())
            throw OfflineError(OfflineFault::Unusable,
                               Localized("%1 holds both %2, which Windows takes for one name", folder.Path(),
                                         Localized("%1 and \"%2\"", "\"" + found + "\"", entry)));
        found = entry;
    }
    return found;
}

}  // namespace

GroupPolicyFiles::Read VolumeGroupPolicyFiles::OpenParent(File file, bool make, Folder* folder, std::string* name,
                                                          std::string* error) const {
    std::vector<std::string> parts = {"system32", "GroupPolicy"};
    if (file == File::UserPolicy) parts.push_back("User");
    if (file == File::MachinePolicy) parts.push_back("Machine");
    Folder at;
    if (!Folder::Open(windir_, &bound_, &at, error)) return Read::Failed;
    try {
        for (const std::string& part : parts) {
            std::string entry = EntryOf(at, part);
            if (entry.empty()) {
                if (!make) return Read::Absent;
                if (::mkdirat(at.Fd(), part.c_str(), 0755) != 0 && errno != EEXIST) {
                    *error = at.PathOf(part) + ": " + std::strerror(errno);
                    return Read::Failed;
                }
                entry = part;
            }
            struct stat st;
            if (!at.Stat(entry, &st) || !S_ISDIR(st.st_mode)) {
                *error = Localized("%1: not a folder (a link is not followed)", at.PathOf(entry));
                return Read::Failed;
            }
            Folder next;
            if (!Folder::Open(at.PathOf(entry), &bound_, &next, error)) return Read::Failed;
            at = std::move(next);
        }
        const std::string base = file == File::GptIni ? "gpt.ini" : "Registry.pol";
        *name = EntryOf(at, base);
        if (name->empty()) *name = base;
    } catch (const OfflineError& e) {
        *error = e.what();
        return Read::Failed;
    }
    *folder = std::move(at);
    return Read::Ok;
}

GroupPolicyFiles::Read VolumeGroupPolicyFiles::ReadFile(File file, std::size_t limit, std::vector<std::uint8_t>* bytes,
                                                        std::string* error) {
    Folder folder;
    std::string name;
    const Read parent = OpenParent(file, false, &folder, &name, error);
    if (parent != Read::Ok) return parent;
    struct stat st;
    if (!folder.Stat(name, &st)) return Read::Absent;
    UniqueFd fd;
    if (!folder.OpenFile(name, O_RDONLY, &fd, error)) return Read::Failed;
    std::string content;
    FileFault fault;
    if (!ReadDescriptor(fd.Get(), limit, &content, &fault)) {
        *error = fault.step == FileStep::TooLarge ? Localized("%1: larger than %2 bytes", folder.PathOf(name), limit)
                                                  : folder.PathOf(name) + ": " + fault.reason;
        return Read::Failed;
    }
    bytes->assign(content.begin(), content.end());
    return Read::Ok;
}

bool VolumeGroupPolicyFiles::WriteFile(File file, const std::vector<std::uint8_t>& bytes, std::string* error) {
    Folder folder;
    std::string name;
    if (OpenParent(file, true, &folder, &name, error) != Read::Ok) return false;
    UniqueFd old;
    struct stat st;
    const bool existed = folder.Stat(name, &st);
    if (existed && !folder.OpenFile(name, O_RDONLY, &old, error)) return false;
    UniqueFd fd;
    std::string temporary;
    FileFault fault;
    if (!folder.CreateNew(name + ".kestro-new", &fd, &temporary, &fault)) {
        *error = fault.reason;
        return false;
    }
    const auto fail = [&](const std::string& why) {
        folder.Remove(temporary);
        *error = folder.PathOf(name) + ": " + why;
        return false;
    };
    if (!WriteAll(fd.Get(), reinterpret_cast<const char*>(bytes.data()), bytes.size()))
        return fail(Localized("cannot write"));
    if (existed) {
        ::fchmod(fd.Get(), st.st_mode & 07777);
        if (!CarryWindowsAttributes(old.Get(), fd.Get(), &fault)) return fail(fault.reason);
    } else {
        ::fchmod(fd.Get(), 0644);
    }
    if (::fsync(fd.Get()) != 0) return fail(Localized("cannot flush"));
    if (!folder.Rename(temporary, name, &fault)) return fail(fault.reason);
    if (!folder.Flush()) {
        *error = Localized("%1: cannot flush the folder", folder.Path());
        return false;
    }
    return true;
}

bool VolumeGroupPolicyFiles::RemoveFile(File file, std::string* error) {
    Folder folder;
    std::string name;
    const Read parent = OpenParent(file, false, &folder, &name, error);
    if (parent == Read::Absent) return true;
    if (parent == Read::Failed) return false;
    struct stat st;
    if (!folder.Stat(name, &st)) return true;
    if (::unlinkat(folder.Fd(), name.c_str(), 0) != 0) {
        *error = folder.PathOf(name) + ": " + std::strerror(errno);
        return false;
    }
    return folder.Flush();
}

}  // namespace kestro
