#include "offline/offline_windows.h"

#include "core/localized.h"
#include "core/text.h"

#include <hivex.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace kestro {

namespace {

// WINDIR as given, before the volume's folder is held.
bool IsDir(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Parent(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    std::size_t slash = p.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : p.substr(0, slash);
}

// The parts of a Windows or POSIX path, without empty ones and ".".
std::vector<std::string> SplitPath(const std::string& path, const char* separators) {
    std::vector<std::string> parts;
    std::size_t at = 0;
    while (at <= path.size()) {
        std::size_t end = path.find_first_of(separators, at);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(at, end - at);
        if (!part.empty() && part != ".") parts.push_back(part);
        at = end + 1;
    }
    return parts;
}

// The well-known profiles of the system's own accounts.
bool IsSystemSid(const std::string& sid) { return sid == "S-1-5-18" || sid == "S-1-5-19" || sid == "S-1-5-20"; }

// Profiles that no person logs on to: the template for new users and the
// service accounts.
bool IsSystemProfile(const std::string& name) {
    for (const char* s : {"Default User", "Default", "LocalService", "NetworkService", "All Users", "Public",
                          "systemprofile"})
        if (SameNtfsName(name, s)) return true;
    return false;
}

// A hive opened read-only for a look at a few keys; null with *why when it
// cannot be read.
std::unique_ptr<HiveFile> Peek(const std::string& path, const VolumeBound& bound, std::string* why) {
    if (path.empty()) {
        *why = Localized("it is not there");
        return nullptr;
    }
    return HiveFile::Open(path, HiveFile::Mode::ReadOnly, why, &bound);
}

// Throws OfflineError(Unusable) where the entry `name` of the folder `dir`
// (within `bound`) is there but is no file Windows would have made: a link,
// a FIFO, a device, a second name of another file. Such a file is planted,
// and the run stops naming it rather than read around it.
void RefusePlanted(const std::string& dir, const std::string& name, const VolumeBound& bound) {
    Folder folder;
    std::string why;
    UniqueFd fd;
    if (!Folder::Open(dir, &bound, &folder, &why)) throw OfflineError(OfflineFault::Unusable, why);
    if (!folder.OpenFile(name, O_RDONLY, &fd, &why) && errno == EPERM) throw OfflineError(OfflineFault::Unusable, why);
}

// The key at `path` ("A\\B") below the hive's root, or 0.
hive_node_h Child(hive_h* h, const std::string& path) {
    hive_node_h node = hivex_root(h);
    for (const std::string& part : SplitPath(path, "\\")) {
        if (!node) return 0;
        errno = 0;
        node = hivex_node_get_child(h, node, part.c_str());
    }
    return node;
}

// A text value (REG_SZ or REG_EXPAND_SZ) of `node`, or empty.
std::string TextValue(hive_h* h, hive_node_h node, const char* name) {
    if (!node) return std::string();
    errno = 0;
    hive_value_h value = hivex_node_get_value(h, node, name);
    if (!value) return std::string();
    std::uint32_t type = 0;
    std::size_t len = 0;
    char* data = HiveValueData(h, value, &type, &len);
    std::string text;
    if (data && (type == 1 || type == 2)) {
        std::u16string units = Utf16FromLeBytes(reinterpret_cast<const std::uint8_t*>(data), len);
        while (!units.empty() && units.back() == u'\0') units.pop_back();
        text = Utf16ToUtf8(units);
    }
    std::free(data);
    return text;
}

// The type field of a value, which the SAM uses to hold a number: taken as
// the number stored, whatever hivex's enum says.
bool ValueTypeNumber(hive_h* h, hive_value_h value, std::uint32_t* number) {
    static_assert(sizeof(hive_type) == sizeof(std::uint32_t), "hive_type is a 32-bit field");
    hive_type raw;
    std::size_t len = 0;
    if (hivex_value_type(h, value, &raw, &len) != 0) return false;
    std::memcpy(number, &raw, sizeof raw);
    return true;
}

// The relative identifier: a SID's last part.
bool RidOf(const std::string& sid, std::uint32_t* rid) {
    std::size_t dash = sid.rfind('-');
    if (dash == std::string::npos || dash + 1 >= sid.size()) return false;
    std::uint64_t n = 0;
    for (std::size_t i = dash + 1; i < sid.size(); ++i) {
        if (sid[i] < '0' || sid[i] > '9') return false;
        n = n * 10 + static_cast<std::uint64_t>(sid[i] - '0');
        if (n > 0xFFFFFFFFu) return false;
    }
    *rid = static_cast<std::uint32_t>(n);
    return true;
}

// The entry of `names` (those of the folder `dir`) named `name` as NTFS
// matches names, as a path below `dir`; empty when none; two throw.
std::string MatchEntry(const std::vector<std::string>& names, const std::string& dir, const std::string& name) {
    std::vector<std::string> found;
    for (const std::string& entry : names)
        if (SameNtfsName(entry, name)) found.push_back(entry);
    if (found.empty()) return std::string();
    if (found.size() > 1) {
        std::sort(found.begin(), found.end());
        std::string names;
        for (const std::string& f : found)
            names = names.empty() ? "\"" + f + "\"" : Localized("%1 and \"%2\"", names, f);
        throw OfflineError(OfflineFault::Unusable,
                           Localized("%1 holds both %2, which Windows takes for one name; it would see only one of "
                                     "them. Rename or remove the one that does not belong there",
                                     dir, names));
    }
    return dir + "/" + found[0];
}

}  // namespace

std::string FindEntryNoCase(const std::string& dir, const std::string& name) {
    DIR* d = ::opendir(dir.c_str());
    if (!d) return std::string();
    std::vector<std::string> names;
    while (dirent* e = ::readdir(d))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
    ::closedir(d);
    return MatchEntry(names, dir, name);
}

std::string OfflineWindows::Entry(const std::string& dir, const std::string& name) const {
    Folder folder;
    std::string why;
    const VolumeBound bound = Bound();
    if (!Folder::Open(dir, &bound, &folder, &why)) return std::string();
    return MatchEntry(folder.Names(), dir, name);
}

bool OfflineWindows::IsFolder(const std::string& path) const {
    Folder folder;
    std::string why;
    const VolumeBound bound = Bound();
    return !path.empty() && Folder::Open(path, &bound, &folder, &why);
}

bool OfflineWindows::IsFile(const std::string& path) const {
    // Any entry but a folder: a link, a FIFO or a device in a hive's place
    // is refused by name when it is opened (Folder::OpenFile), not passed
    // over as if there were no hive.
    Folder folder;
    std::string why;
    const VolumeBound bound = Bound();
    struct stat st;
    return !path.empty() && Folder::Open(DirName(path), &bound, &folder, &why) && folder.Stat(BaseName(path), &st) &&
           !S_ISDIR(st.st_mode);
}

std::string OfflineWindows::FolderIdentity(const std::string& path) const {
    Folder folder;
    std::string why;
    const VolumeBound bound = Bound();
    struct stat st;
    if (!Folder::Open(path, &bound, &folder, &why) || ::fstat(folder.Fd(), &st) != 0) return path;
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

std::string ResolvePathNoCase(const std::string& path) {
    struct stat st;
    if (path.empty() || ::lstat(path.c_str(), &st) == 0) return path;
    const bool absolute = path[0] == '/';
    std::string at = absolute ? "" : ".";
    for (const std::string& part : SplitPath(path, "/")) {
        std::string exact = at + "/" + part;
        std::string next = part == ".." || ::lstat(exact.c_str(), &st) == 0 ? exact
                                                                           : FindEntryNoCase(at.empty() ? "/" : at, part);
        if (next.empty()) return path;  // not there in any case: the caller says so
        if (next.compare(0, 2, "//") == 0) next.erase(0, 1);
        at = next;
    }
    if (!absolute && at.compare(0, 2, "./") == 0) at.erase(0, 2);
    return at.empty() ? path : at;
}

std::string HibernationSignature(const std::string& firstBytes) {
    if (firstBytes.size() < 4) return std::string();
    const std::string signature = firstBytes.substr(0, 4);
    // The first four bytes of the memory image's header, PO_MEMORY_IMAGE:
    // "hibr" (XP to 7) or "HIBR" (8 and later, hibernation and fast
    // start-up alike): a saved session that the next start resumes.
    if (signature == "hibr" || signature == "HIBR")
        return Localized("Windows was hibernated or stopped with fast start-up (hiberfil.sys holds a saved session)");
    // "wake"/"WAKE": a resume began and did not finish; Windows offers to try
    // it again, so the session is still there to be resumed. "RSTR"/"rstr":
    // 8 and later, a resume under way that was cut off.
    if (signature == "wake" || signature == "WAKE" || signature == "RSTR" || signature == "rstr")
        return Localized(
            "Windows was hibernated, and its resume did not finish (hiberfil.sys still holds the saved session)");
    // After a resume, or a full shut-down, Windows zeroes the header (8 and
    // later the whole file): nothing is saved.
    return std::string();
}

OfflineWindows::OfflineWindows(const std::string& windir) {
    // "/mnt/windows/WINDOWS/." and ".../WINDOWS/" are the folder itself: its
    // name, and the volume above it, come from the last real part.
    std::string given = windir;
    for (;;) {
        if (given.size() > 1 && given.back() == '/') given.pop_back();
        else if (given.size() > 2 && given.compare(given.size() - 2, 2, "/.") == 0) given.resize(given.size() - 2);
        else break;
    }
    windir_ = ResolvePathNoCase(given);
    if (!IsDir(windir_))
        throw OfflineError(OfflineFault::NotFound,
                           Localized("%1: no such folder; give the Windows folder of the mounted installation, "
                                     "for example /mnt/windows/WINDOWS",
                                     windir));
    // From here on the folder that holds WINDIR is held, and every name
    // below it is found from that descriptor.
    volume_ = Parent(windir_);
    std::string why;
    if (!Folder::Open(volume_, nullptr, &volumeFolder_, &why)) throw OfflineError(OfflineFault::NotFound, why);
    // WINDIR itself as every folder below it is entered: from its parent,
    // on the parent's file system, a link followed only while it stays
    // below the parent. A Windows folder that leads off the volume is
    // refused here, before any of its files is read.
    Folder held;
    const VolumeBound bound = Bound();
    if (!Folder::Open(windir_, &bound, &held, &why)) throw OfflineError(OfflineFault::Unusable, why);
    // Two folders that Windows takes for one, "WINDOWS" beside "Windows".
    MatchEntry(volumeFolder_.Names(), volume_, BaseName(windir_));
    const std::string system32 = Entry(windir_, "system32");
    config_ = system32.empty() ? std::string() : Entry(system32, "config");
    if (config_.empty() || !IsFolder(config_))
        throw OfflineError(OfflineFault::NotFound,
                           Localized("%1: no system32/config folder here; is this the Windows folder?", windir_));
    software_ = Entry(config_, "software");
    system_ = Entry(config_, "system");
    if (software_.empty() || !IsFile(software_) || system_.empty() || !IsFile(system_))
        throw OfflineError(OfflineFault::NotFound,
                           Localized("%1: the SOFTWARE and SYSTEM hives are not both here", config_));
}

void OfflineWindows::LoadSoftware() const {
    if (softwareLoaded_) return;
    softwareLoaded_ = true;
    systemDrive_ = "C:";
    systemRoot_ = "C:\\" + BaseName(windir_);
    std::string why;
    std::unique_ptr<HiveFile> hive = Peek(software_, Bound(), &why);
    if (!hive) {
        profileListNote_ = Localized("SOFTWARE cannot be read (%1)", why);
        return;
    }
    hive_h* h = hive->Handle();
    const std::string root = TextValue(h, Child(h, "Microsoft\\Windows NT\\CurrentVersion"), "SystemRoot");
    if (root.size() >= 3 && root[1] == ':' && (root[2] == '\\' || root[2] == '/')) {
        systemDrive_ = AsciiUpper(root.substr(0, 2));
        systemRoot_ = root;
    }
    hive_node_h list = Child(h, "Microsoft\\Windows NT\\CurrentVersion\\ProfileList");
    hive_node_h* children = list ? hivex_node_children(h, list) : nullptr;
    if (!children) {
        profileListNote_ =
            Localized("SOFTWARE has no ProfileList (Microsoft\\Windows NT\\CurrentVersion\\ProfileList)");
        return;
    }
    for (hive_node_h* c = children; *c; ++c) {
        char* name = hivex_node_name(h, *c);
        if (!name) continue;
        profileList_.emplace_back(name, TextValue(h, *c, "ProfileImagePath"));
        std::free(name);
    }
    std::free(children);
    if (profileList_.empty()) profileListNote_ = Localized("SOFTWARE's ProfileList names no profile");
}

const std::string& OfflineWindows::SystemDrive() const {
    LoadSoftware();
    return systemDrive_;
}

const std::string& OfflineWindows::SystemRoot() const {
    LoadSoftware();
    return systemRoot_;
}

std::string OfflineWindows::MapWindowsPath(const std::string& path, std::string* why) const {
    const std::string at = MapWindowsNames(path, why);
    if (at.empty()) return at;
    // A link or junction on the way may lead anywhere: each step was taken
    // within the volume (Entry), and the last one must be a folder entered
    // the same way, or a file that is no link.
    struct stat st;
    Folder last;
    std::string refused;
    const VolumeBound bound = Bound();
    if (!Folder::Open(at, &bound, &last, &refused) &&
        (!Folder::Open(DirName(at), &bound, &last, &refused) || !last.Stat(BaseName(at), &st) ||
         S_ISLNK(st.st_mode))) {
        *why = refused.empty()
                   ? Localized("%1: leads off the volume that holds %2 (through a symbolic link)", path, windir_)
                   : Localized("%1: leads off the volume that holds %2 (%3)", path, windir_, refused);
        return std::string();
    }
    return at;
}

std::string OfflineWindows::MapWindowsNames(const std::string& path, std::string* why) const {
    LoadSoftware();
    // The variables a Windows path of this kind may start with, as every
    // Windows sets them for every process.
    std::string full = path;
    if (!full.empty() && full[0] == '%') {
        std::size_t end = full.find('%', 1);
        const std::string name = end == std::string::npos ? std::string() : full.substr(1, end - 1);
        std::string value;
        if (SameAsciiNoCase(name, "SystemRoot") || SameAsciiNoCase(name, "windir")) value = systemRoot_;
        else if (SameAsciiNoCase(name, "SystemDrive")) value = systemDrive_;
        if (value.empty()) {
            *why = Localized("%1: only a running Windows knows what %2 stands for; give the full path, %3\\...", path,
                             name.empty() ? full : "%" + name + "%", systemDrive_);
            return std::string();
        }
        full = value + full.substr(end + 1);
    }
    if (full.size() < 3 || full[1] != ':' || (full[2] != '\\' && full[2] != '/')) {
        *why = Localized("%1: not a full Windows path; give it as Windows sees it, %2\\... or %3\\...", path,
                         systemDrive_, "%SystemRoot%");
        return std::string();
    }
    if (!SameAsciiNoCase(full.substr(0, 2), systemDrive_)) {
        *why = Localized("%1: on drive %2, but only the system drive %3 (%4) can be checked here", path,
                         AsciiUpper(full.substr(0, 2)), systemDrive_, volume_);
        return std::string();
    }
    std::string at = volume_;
    for (const std::string& part : SplitPath(full.substr(3), "\\/")) {
        if (part == "..") {
            *why = Localized("%1: a path that climbs with \"..\" is not taken", path);
            return std::string();
        }
        std::string next = Entry(at, part);
        if (next.empty()) {
            *why = Localized("%1: no such file or folder on the volume (%2 has no \"%3\")", path, at, part);
            return std::string();
        }
        at = next;
    }
    return at;
}

void OfflineWindows::LoadProfiles() const {
    if (profilesLoaded_) return;
    profilesLoaded_ = true;
    LoadSoftware();
    std::set<std::string> seen;  // the folders ProfileList names
    AddListedProfiles(LoadAccounts(), &seen);
    const bool fromFolders = profileList_.empty();
    AddProfileFolders(fromFolders, &seen);
    std::stable_sort(users_.begin(), users_.end(), [](const UserProfile& a, const UserProfile& b) {
        if (a.listed != b.listed) return a.listed;
        return CompareAsciiNoCase(a.name, b.name) < 0;
    });
    if (fromFolders && !users_.empty())
        profileListNote_ += Localized("; the profiles are the folders that hold an NTUSER.DAT");
}

// The local accounts: SAM\Domains\Account\Users\Names\NAME, whose default
// value's type is the account's relative identifier.
std::map<std::uint32_t, std::string> OfflineWindows::LoadAccounts() const {
    std::map<std::uint32_t, std::string> accounts;
    std::string why;
    const std::string samPath = Entry(config_, "SAM");
    if (!samPath.empty()) RefusePlanted(config_, BaseName(samPath), Bound());
    std::unique_ptr<HiveFile> sam = Peek(samPath, Bound(), &why);
    hive_node_h names = sam ? Child(sam->Handle(), "SAM\\Domains\\Account\\Users\\Names") : 0;
    hive_node_h* children = names ? hivex_node_children(sam->Handle(), names) : nullptr;
    if (!children) {
        accountNote_ = sam ? Localized("no account names: the SAM hive holds no user names")
                           : Localized("no account names: the SAM hive cannot be read (%1)", why);
        return accounts;
    }
    hive_h* h = sam->Handle();
    for (hive_node_h* c = children; *c; ++c) {
        char* name = hivex_node_name(h, *c);
        errno = 0;
        hive_value_h value = hivex_node_get_value(h, *c, "");
        std::uint32_t rid = 0;
        if (name && value && ValueTypeNumber(h, value, &rid)) accounts[rid] = name;
        std::free(name);
    }
    std::free(children);
    return accounts;
}

// A profile for each entry of ProfileList, named by its local account where
// SAM knows it; the folders they name into *seen.
void OfflineWindows::AddListedProfiles(const std::map<std::uint32_t, std::string>& accounts,
                                       std::set<std::string>* seen) const {
    for (const auto& entry : profileList_) {
        UserProfile user;
        user.sid = entry.first;
        user.windowsPath = entry.second;
        user.listed = true;
        std::uint32_t rid = 0;
        if (user.sid.compare(0, 9, "S-1-5-21-") == 0 && RidOf(user.sid, &rid) && accounts.count(rid))
            user.account = accounts.at(rid);
        std::string why;
        user.folder = entry.second.empty() ? std::string() : MapWindowsNames(entry.second, &why);
        std::vector<std::string> parts = SplitPath(entry.second, "\\/");
        user.name = parts.empty() ? user.sid : parts.back();
        if (!user.folder.empty()) {
            seen->insert(FolderIdentity(user.folder));
            if (IsFolder(user.folder)) {
                user.hivePath = Entry(user.folder, "NTUSER.DAT");
                if (!IsFile(user.hivePath)) user.hivePath.clear();
            } else {
                // A folder that cannot be entered within the volume (a link
                // off it): its hive is refused, with the reason, when opened.
                user.hivePath = user.folder + "/NTUSER.DAT";
            }
        }
        user.systemProfile = IsSystemSid(user.sid) || IsSystemProfile(user.name);
        users_.push_back(user);
    }
}

// The folders beside WINDIR that hold a user's hive and ProfileList does not
// name; listed as Windows' own when there is no ProfileList.
void OfflineWindows::AddProfileFolders(bool listed, std::set<std::string>* seen) const {
    for (const char* folder : {"Users", "Documents and Settings"}) {
        std::string profiles = Entry(volume_, folder);
        Folder held;
        std::string why;
        const VolumeBound bound = Bound();
        if (profiles.empty() || !Folder::Open(profiles, &bound, &held, &why)) continue;
        for (const std::string& name : held.Names()) {
            std::string dir = profiles + "/" + name;
            std::string hive, identity;
            if (!ProfileFolderHive(held, dir, name, &hive, &identity)) continue;
            // Vista's "Documents and Settings" is a junction to "Users": one
            // profile seen through both is one profile.
            if (!seen->insert(identity).second) continue;
            UserProfile user;
            user.name = name;
            user.folder = dir;
            user.hivePath = hive;
            user.systemProfile = IsSystemProfile(name);
            user.listed = listed;
            users_.push_back(user);
        }
    }
}

// The hive of the entry `name` of the profiles' folder `held` (at `dir`)
// and the folder's identity; false where it is no profile. A link that
// cannot be entered within the volume is named, and its hive refused with
// the reason when opened.
bool OfflineWindows::ProfileFolderHive(const Folder& held, const std::string& dir, const std::string& name,
                                       std::string* hive, std::string* identity) const {
    struct stat st;
    if (IsFolder(dir)) {
        *identity = FolderIdentity(dir);
        *hive = Entry(dir, "NTUSER.DAT");
        return !hive->empty() && IsFile(*hive);
    }
    if (held.Stat(name, &st) && S_ISLNK(st.st_mode)) {
        *hive = dir + "/NTUSER.DAT";
        *identity = "link " + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
        return true;
    }
    return false;
}

const std::vector<OfflineWindows::UserProfile>& OfflineWindows::Users() const {
    LoadProfiles();
    return users_;
}

const std::string& OfflineWindows::ProfileListNote() const {
    LoadProfiles();
    return profileListNote_;
}

const std::string& OfflineWindows::AccountNote() const {
    LoadProfiles();
    return accountNote_;
}

std::string OfflineWindows::Known() const {
    std::string list;
    for (const UserProfile& u : users_) {
        if (!u.listed) continue;
        std::string label = u.account.empty() || SameNtfsName(u.account, u.name) ? u.name : u.account + " (" + u.name + ")";
        list += (list.empty() ? "" : ", ") + label;
    }
    return list.empty() ? Localized("none") : list;
}

const OfflineWindows::UserProfile& OfflineWindows::FindUser(const std::string& name) const {
    LoadProfiles();
    return name.empty() ? OnlyUser() : NamedUser(name);
}

// An account name first, then a folder's; each profile once.
const OfflineWindows::UserProfile& OfflineWindows::NamedUser(const std::string& name) const {
    std::vector<const UserProfile*> matches;
    for (const UserProfile& u : users_)
        if (u.listed && !u.account.empty() && SameNtfsName(u.account, name)) matches.push_back(&u);
    for (const UserProfile& u : users_)
        if (u.listed && SameNtfsName(u.name, name) &&
            std::find(matches.begin(), matches.end(), &u) == matches.end())
            matches.push_back(&u);
    const auto where = [](const UserProfile* u) {
        std::string at = u->folder.empty() ? u->windowsPath : u->folder;
        return u->sid.empty() ? at : Localized("%1 in %2", u->sid, at);
    };
    if (matches.size() > 1)
        throw OfflineError(OfflineFault::NotFound,
                           SameNtfsName(matches[0]->name, matches[1]->name)
                               ? Localized("\"%1\" names more than one profile (%2, %3); Windows takes their "
                                           "folders' names for one: rename or remove the one that does not "
                                           "belong there",
                                           name, where(matches[0]), where(matches[1]))
                               : Localized("\"%1\" names more than one profile (%2, %3); give the profile "
                                           "folder's name instead",
                                           name, where(matches[0]), where(matches[1])));
    if (matches.size() == 1) {
        const UserProfile& u = *matches[0];
        if (u.hivePath.empty())
            throw OfflineError(OfflineFault::NotFound,
                               u.folder.empty()
                                   ? Localized("the profile of \"%1\" (%2) has no NTUSER.DAT on this volume", name,
                                               u.windowsPath)
                                   : Localized("the profile of \"%1\" (%2) has no NTUSER.DAT in %3", name,
                                               u.windowsPath, u.folder));
        return u;
    }
    for (const UserProfile& u : users_)
        if (!u.listed && SameNtfsName(u.name, name))
            throw OfflineError(OfflineFault::NotFound,
                               Localized("%1 is not a profile Windows loads: SOFTWARE's ProfileList names no "
                                         "account whose profile it is (profiles: %2)",
                                         u.folder, Known()));
    throw OfflineError(OfflineFault::NotFound,
                       Localized("no user profile \"%1\" beside %2 (profiles: %3)", name, windir_, Known()));
}

// Without --user: the one person's profile there is.
const OfflineWindows::UserProfile& OfflineWindows::OnlyUser() const {
    const UserProfile* only = nullptr;
    int people = 0;
    for (const UserProfile& u : users_)
        if (u.listed && !u.systemProfile && !u.hivePath.empty()) {
            only = &u;
            ++people;
        }
    if (people == 1) return *only;
    throw OfflineError(OfflineFault::NotFound,
                       people == 0
                           ? Localized("no user profile beside %1; choose one with --user NAME (profiles: %2)", windir_,
                                       Known())
                           : Localized("more than one user profile beside %1; choose one with --user NAME "
                                       "(profiles: %2)",
                                       windir_, Known()));
}

VolumeBound OfflineWindows::Bound() const {
    // The volume is the file system of the folder that holds WINDIR (not
    // of what WINDIR may link to).
    struct stat st;
    if (::fstat(volumeFolder_.Fd(), &st) != 0)
        throw OfflineError(OfflineFault::NotFound, volume_ + ": " + std::strerror(errno));
    return VolumeBound{volume_, st.st_dev, volumeFolder_.Fd()};
}

std::unique_ptr<HiveRegistryStore> OfflineWindows::OpenStore(HiveFile::Mode mode, const std::string& user,
                                                             bool requireUser) const {
    const VolumeBound volume = Bound();
    auto open = [mode, &volume](const std::string& path) {
        std::string error;
        std::unique_ptr<HiveFile> hive = HiveFile::Open(path, mode, &error, &volume);
        if (!hive) throw OfflineError(OfflineFault::Unusable, error);
        return hive;
    };
    // The user is chosen before any hive is loaded: a wrong name costs no
    // reading of SOFTWARE for writing.
    const UserProfile* profile = nullptr;
    if (!user.empty() || requireUser) {
        profile = &FindUser(user);
    } else {
        try {
            profile = &FindUser(user);
        } catch (const OfflineError&) {
            profile = nullptr;  // HKEY_CURRENT_USER stays absent
        }
    }
    auto store = std::make_unique<HiveRegistryStore>();
    store->Mount(HiveRegistryStore::Slot::Software, open(software_));
    store->Mount(HiveRegistryStore::Slot::System, open(system_));
    if (profile) store->Mount(HiveRegistryStore::Slot::User, open(profile->hivePath));
    return store;
}

std::string OfflineWindows::SavedSession() const {
    std::string file = MatchEntry(volumeFolder_.Names(), volume_, "hiberfil.sys");
    if (file.empty()) return std::string();
    // By the volume's rule: a FIFO there would hang every command, and a
    // device's open alone may act.
    std::string why;
    UniqueFd fd;
    if (!volumeFolder_.OpenFile(BaseName(file), O_RDONLY, &fd, &why)) {
        if (errno == EPERM) throw OfflineError(OfflineFault::Unusable, why);
        return std::string();
    }
    char bytes[4];
    ssize_t got = ::pread(fd.Get(), bytes, sizeof bytes, 0);
    if (got != static_cast<ssize_t>(sizeof bytes)) return std::string();
    return HibernationSignature(std::string(bytes, sizeof bytes));
}

}  // namespace kestro
