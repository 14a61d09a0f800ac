#include "offline/volume_group_policy.h"

#include "core/localized.h"
#include "core/text.h"
#include "offline/hive_backups.h"
#include "offline/offline_windows.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <sstream>

namespace kestro {

namespace {

// The most a Group Policy file is read or kept as (the readers' own limit:
// these files are a few KiB).
constexpr std::size_t kFileLimit = 1u << 20;

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

GroupPolicyFiles::Read VolumeGroupPolicyFiles::OpenFolder(const std::vector<std::string>& parts, bool make,
                                                          Folder* folder, std::string* error) const {
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
    } catch (const OfflineError& e) {
        *error = e.what();
        return Read::Failed;
    }
    *folder = std::move(at);
    return Read::Ok;
}

GroupPolicyFiles::Read VolumeGroupPolicyFiles::OpenParent(File file, bool make, Folder* folder, std::string* name,
                                                          std::string* error) const {
    std::vector<std::string> parts = {"system32", "GroupPolicy"};
    if (file == File::UserPolicy) parts.push_back("User");
    if (file == File::MachinePolicy) parts.push_back("Machine");
    Folder at;
    const Read opened = OpenFolder(parts, make, &at, error);
    if (opened != Read::Ok) return opened;
    const std::string base = file == File::GptIni ? "gpt.ini" : "Registry.pol";
    try {
        *name = EntryOf(at, base);
    } catch (const OfflineError& e) {
        *error = e.what();
        return Read::Failed;
    }
    if (name->empty()) *name = base;
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

bool VolumeGroupPolicyFiles::Replace(File file, const std::vector<std::uint8_t>& bytes, std::string* error) {
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

bool VolumeGroupPolicyFiles::Delete(File file, std::string* error) {
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

GroupPolicyFiles::DomainCopy VolumeGroupPolicyFiles::ReadDomainCopy(const std::string& fileSysPath, std::size_t limit) {
    DomainCopy copy;
    std::vector<std::string> parts;
    // The drive's letter is not known here: a path is taken as this
    // volume's only where it starts with the Windows folder, found at the
    // volume's root.
    if (!LocalPathParts(fileSysPath, &parts) || parts.size() < 2 || DirName(windir_) != bound_.root ||
        !SameNtfsName(parts[0], BaseName(windir_)))
        return copy;
    parts.erase(parts.begin());
    Folder folder;
    const Read opened = OpenFolder(parts, false, &folder, &copy.error);
    if (opened != Read::Ok) {
        copy.kind = opened == Read::Absent ? DomainCopy::Kind::None : DomainCopy::Kind::Failed;
        return copy;
    }
    std::string name;
    try {
        name = EntryOf(folder, "Registry.pol");
    } catch (const OfflineError& e) {
        copy.error = e.what();
        copy.kind = DomainCopy::Kind::Failed;
        return copy;
    }
    if (name.empty()) {
        copy.kind = DomainCopy::Kind::NoRegistryPol;
        return copy;
    }
    UniqueFd fd;
    std::string content;
    FileFault fault;
    if (!folder.OpenFile(name, O_RDONLY, &fd, &copy.error) || !ReadDescriptor(fd.Get(), limit, &content, &fault)) {
        if (copy.error.empty())
            copy.error = folder.PathOf(name) + ": " + (fault.step == FileStep::TooLarge ? "too large" : fault.reason);
        copy.kind = DomainCopy::Kind::Failed;
        return copy;
    }
    copy.kind = DomainCopy::Kind::Read;
    copy.bytes.assign(content.begin(), content.end());
    return copy;
}

bool VolumeGroupPolicyFiles::NoteBefore(File file, std::string* error) {
    if (changes_.count(file)) return true;
    Change change;
    const Read read = ReadFile(file, kFileLimit, &change.before, error);
    if (read == Read::Failed) {
        *error = "cannot keep what it holds for restore: " + *error;
        return false;
    }
    change.beforePresent = change.afterPresent = read == Read::Ok;
    change.after = change.before;
    changes_[file] = std::move(change);
    return true;
}

bool VolumeGroupPolicyFiles::WriteFile(File file, const std::vector<std::uint8_t>& bytes, std::string* error) {
    if (!NoteBefore(file, error)) return false;
    if (beforeChange_) beforeChange_();
    if (!Replace(file, bytes, error)) return false;
    changes_[file].afterPresent = true;
    changes_[file].after = bytes;
    return true;
}

bool VolumeGroupPolicyFiles::RemoveFile(File file, std::string* error) {
    if (!NoteBefore(file, error)) return false;
    if (beforeChange_) beforeChange_();
    if (!Delete(file, error)) return false;
    changes_[file].afterPresent = false;
    changes_[file].after.clear();
    return true;
}

namespace {

constexpr const char kBackupHeader[] = "kestro group policy backup 1";
constexpr const char kBackupInfix[] = ".kestro-bak.";
constexpr const char kPutBackInfix[] = ".kestro-put-back.";

// The backup's name beside the hives, before its run.
std::string BackupBase(GroupPolicyFiles::File file) {
    switch (file) {
        case GroupPolicyFiles::File::UserPolicy: return "GroupPolicy-User-Registry.pol";
        case GroupPolicyFiles::File::MachinePolicy: return "GroupPolicy-Machine-Registry.pol";
        case GroupPolicyFiles::File::GptIni: return "GroupPolicy-gpt.ini";
    }
    return std::string();
}

const std::vector<std::string> kHiveFolder = {"system32", "config"};

std::string StateLine(const char* what, bool present, std::size_t size) {
    return std::string(what) + "\t" + (present ? "present" : "absent") + "\t" + std::to_string(size) + "\n";
}

// "before\tpresent\t12": false for anything else.
bool ParseStateLine(const std::string& line, const char* what, bool* present, std::size_t* size) {
    const std::string head = std::string(what) + "\t";
    if (line.compare(0, head.size(), head) != 0) return false;
    const std::string rest = line.substr(head.size());
    const std::size_t tab = rest.find('\t');
    if (tab == std::string::npos) return false;
    const std::string word = rest.substr(0, tab), number = rest.substr(tab + 1);
    if ((word != "present" && word != "absent") || number.empty() || number.size() > 8 ||
        number.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *present = word == "present";
    *size = std::stoul(number);
    return *size <= kFileLimit && (*present || *size == 0);
}

// The backup's text: its lines, then the file's bytes before and after.
bool ParseBackup(const std::string& content, GroupPolicyBackup* backup) {
    std::istringstream in(content);
    std::string header, run, before, after, blank;
    if (!std::getline(in, header) || !std::getline(in, run) || !std::getline(in, before) ||
        !std::getline(in, after) || !std::getline(in, blank))
        return false;
    std::size_t beforeSize = 0, afterSize = 0;
    if (header != kBackupHeader || run != "run\t" + backup->run || !blank.empty() ||
        !ParseStateLine(before, "before", &backup->beforePresent, &beforeSize) ||
        !ParseStateLine(after, "after", &backup->afterPresent, &afterSize))
        return false;
    const std::size_t at = header.size() + run.size() + before.size() + after.size() + 5;
    if (content.size() != at + beforeSize + afterSize) return false;
    backup->before.assign(content.begin() + static_cast<std::ptrdiff_t>(at),
                          content.begin() + static_cast<std::ptrdiff_t>(at + beforeSize));
    backup->after.assign(content.begin() + static_cast<std::ptrdiff_t>(at + beforeSize), content.end());
    return true;
}

}  // namespace

bool VolumeGroupPolicyFiles::KeepBackups(const std::string& run, std::vector<std::string>* kept, std::string* error) {
    Folder folder;
    bool opened = false;
    for (const auto& entry : changes_) {
        const Change& change = entry.second;
        if (change.beforePresent == change.afterPresent && change.before == change.after) continue;
        if (!opened && OpenFolder(kHiveFolder, false, &folder, error) != Read::Ok) {
            if (error->empty()) *error = windir_ + "/system32/config: not there";
            return false;
        }
        opened = true;
        std::string text = std::string(kBackupHeader) + "\nrun\t" + run + "\n" +
                           StateLine("before", change.beforePresent, change.before.size()) +
                           StateLine("after", change.afterPresent, change.after.size()) + "\n";
        text.append(change.before.begin(), change.before.end());
        text.append(change.after.begin(), change.after.end());
        const std::string backup = BackupBase(entry.first) + kBackupInfix + run;
        UniqueFd fd;
        std::string temporary;
        FileFault fault;
        if (!folder.CreateNew(backup + ".kestro-new", &fd, &temporary, &fault)) {
            *error = fault.reason;
            return false;
        }
        ::fchmod(fd.Get(), 0644);
        if (!WriteAll(fd.Get(), text.data(), text.size()) || ::fsync(fd.Get()) != 0 ||
            !folder.Rename(temporary, backup, &fault) || !folder.Flush()) {
            folder.Remove(temporary);
            *error = folder.PathOf(backup) + ": cannot be written";
            return false;
        }
        kept->push_back(folder.PathOf(backup));
    }
    return true;
}

bool VolumeGroupPolicyFiles::ReadBackup(const Folder& folder, const std::string& name, GroupPolicyBackup* backup,
                                        std::string* error) {
    UniqueFd fd;
    if (!folder.OpenFile(name, O_RDONLY, &fd, error)) return false;
    std::string content;
    FileFault fault;
    if (!ReadDescriptor(fd.Get(), 2 * kFileLimit + 4096, &content, &fault)) {
        *error = folder.PathOf(name) + ": " + (fault.step == FileStep::TooLarge ? "too large" : fault.reason);
        return false;
    }
    if (!ParseBackup(content, backup)) {
        *error = folder.PathOf(name) + ": not a backup kestroctl made; passed over";
        return false;
    }
    return true;
}

std::vector<GroupPolicyBackup> VolumeGroupPolicyFiles::NewestBackups(std::vector<std::string>* notes) {
    std::vector<GroupPolicyBackup> found;
    Folder folder;
    std::string error;
    const Read opened = OpenFolder(kHiveFolder, false, &folder, &error);
    if (opened == Read::Failed) notes->push_back(error);
    if (opened != Read::Ok) return found;
    const std::vector<std::string> names = folder.Names();
    for (File file : {File::UserPolicy, File::MachinePolicy, File::GptIni}) {
        const std::string prefix = BackupBase(file) + kBackupInfix;
        GroupPolicyBackup newest;
        for (const std::string& entry : names) {
            if (entry.size() <= prefix.size() || entry.compare(0, prefix.size(), prefix) != 0) continue;
            const std::string run = entry.substr(prefix.size());
            if (IssuedRunName(run, std::time(nullptr)) && run > newest.run) {
                newest.run = run;
                newest.name = entry;
            }
        }
        if (newest.run.empty()) continue;
        newest.file = file;
        newest.path = folder.PathOf(newest.name);
        newest.filePath = windir_ + "/system32/GroupPolicy/" + RelativePath(file);
        if (!ReadBackup(folder, newest.name, &newest, &error)) {
            notes->push_back(error);
            continue;
        }
        const Read read = ReadFile(file, kFileLimit, &newest.now, &error);
        newest.readable = read != Read::Failed;
        newest.nowPresent = read == Read::Ok;
        if (read == Read::Failed) newest.changed = error;
        else if (newest.nowPresent != newest.afterPresent || newest.now != newest.after)
            newest.changed = "changed since the run that made " + newest.name;
        found.push_back(std::move(newest));
    }
    return found;
}

std::string VolumeGroupPolicyFiles::PutBack(const GroupPolicyBackup& backup, bool asFound) {
    const bool present = asFound ? backup.nowPresent : backup.beforePresent;
    std::string error;
    if (present ? WriteFile(backup.file, asFound ? backup.now : backup.before, &error) : RemoveFile(backup.file, &error))
        return std::string();
    return error;
}

std::string VolumeGroupPolicyFiles::MarkPutBack(const GroupPolicyBackup& backup) {
    Folder folder;
    std::string error;
    FileFault fault;
    if (OpenFolder(kHiveFolder, false, &folder, &error) != Read::Ok ||
        !folder.Rename(backup.name, BackupBase(backup.file) + kPutBackInfix + backup.run, &fault) || !folder.Flush())
        return backup.path + ": cannot be renamed: " + (error.empty() ? fault.reason : error);
    return std::string();
}

}  // namespace kestro
