#include "platform/offline_windows.h"

#include "platform/text.h"

#include <algorithm>
#include <cstdlib>
#include <set>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

namespace kestro {

namespace {

bool IsDir(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Follows `names` down from `dir`, each without regard to case; empty when
// one is missing.
std::string FindPathNoCase(std::string dir, std::initializer_list<const char*> names) {
    for (const char* name : names) {
        std::string found = FindEntryNoCase(dir, name);
        if (found.empty()) return std::string();
        dir = found;
    }
    return dir;
}

std::string Parent(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    std::size_t slash = p.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : p.substr(0, slash);
}

// Profiles that no person logs on to: the template for new users and the
// service accounts.
bool IsSystemProfile(const std::string& name) {
    for (const char* s : {"Default User", "Default", "LocalService", "NetworkService", "All Users", "Public",
                          "systemprofile"})
        if (SameAsciiNoCase(name, s)) return true;
    return false;
}

}  // namespace

std::string FindEntryNoCase(const std::string& dir, const std::string& name) {
    std::string exact = dir + "/" + name;
    struct stat st;
    if (::lstat(exact.c_str(), &st) == 0) return exact;
    DIR* d = ::opendir(dir.c_str());
    if (!d) return std::string();
    std::string found;
    while (dirent* e = ::readdir(d)) {
        if (SameAsciiNoCase(e->d_name, name)) {
            found = dir + "/" + e->d_name;
            break;
        }
    }
    ::closedir(d);
    return found;
}

OfflineWindows::OfflineWindows(const std::string& windir) : windir_(windir) {
    while (windir_.size() > 1 && windir_.back() == '/') windir_.pop_back();
    if (!IsDir(windir_))
        throw OfflineError(2, windir + ": no such folder; give the Windows folder of the mounted installation, "
                                       "for example /mnt/windows/WINDOWS");
    std::string config = FindPathNoCase(windir_, {"system32", "config"});
    if (config.empty() || !IsDir(config))
        throw OfflineError(2, windir_ + ": no system32/config folder here; is this the Windows folder?");
    software_ = FindEntryNoCase(config, "software");
    system_ = FindEntryNoCase(config, "system");
    if (software_.empty() || !IsFile(software_) || system_.empty() || !IsFile(system_))
        throw OfflineError(2, config + ": the SOFTWARE and SYSTEM hives are not both here");

    std::string volume = Parent(windir_);
    std::set<std::string> seen;
    for (const char* folder : {"Users", "Documents and Settings"}) {
        std::string profiles = FindEntryNoCase(volume, folder);
        if (profiles.empty() || !IsDir(profiles)) continue;
        DIR* d = ::opendir(profiles.c_str());
        if (!d) continue;
        while (dirent* e = ::readdir(d)) {
            std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            std::string dir = profiles + "/" + name;
            if (!IsDir(dir)) continue;
            std::string hive = FindEntryNoCase(dir, "NTUSER.DAT");
            if (hive.empty() || !IsFile(hive)) continue;
            // Vista's "Documents and Settings" is a junction to "Users":
            // one profile seen through both is one profile.
            char* real = ::realpath(hive.c_str(), nullptr);
            std::string identity = real ? real : hive;
            std::free(real);
            if (!seen.insert(identity).second) continue;
            users_.push_back(UserProfile{name, hive, IsSystemProfile(name)});
        }
        ::closedir(d);
    }
    std::sort(users_.begin(), users_.end(),
              [](const UserProfile& a, const UserProfile& b) { return CompareAsciiNoCase(a.name, b.name) < 0; });
}

const OfflineWindows::UserProfile& OfflineWindows::FindUser(const std::string& name) const {
    auto names = [this] {
        std::string list;
        for (const UserProfile& u : users_) list += (list.empty() ? "" : ", ") + u.name;
        return list.empty() ? std::string("none") : list;
    };
    if (!name.empty()) {
        for (const UserProfile& u : users_)
            if (u.name == name) return u;
        for (const UserProfile& u : users_)
            if (SameAsciiNoCase(u.name, name)) return u;
        throw OfflineError(2, "no user profile \"" + name + "\" with an NTUSER.DAT beside " + windir_ +
                                  " (profiles: " + names() + ")");
    }
    const UserProfile* only = nullptr;
    int people = 0;
    for (const UserProfile& u : users_)
        if (!u.systemProfile) {
            only = &u;
            ++people;
        }
    if (people == 1) return *only;
    throw OfflineError(2, std::string(people == 0 ? "no user profile" : "more than one user profile") +
                              " beside " + windir_ + "; choose one with --user NAME (profiles: " + names() + ")");
}

std::unique_ptr<HiveRegistryStore> OfflineWindows::OpenStore(HiveFile::Mode mode, const std::string& user,
                                                             bool requireUser) const {
    // Folders are followed only while they stay on the Windows volume.
    struct stat st;
    if (::stat(windir_.c_str(), &st) != 0) throw OfflineError(2, windir_ + ": " + std::strerror(errno));
    const VolumeBound volume{Parent(windir_), st.st_dev};
    auto open = [mode, &volume](const std::string& path) {
        std::string error;
        std::unique_ptr<HiveFile> hive = HiveFile::Open(path, mode, &error, &volume);
        if (!hive) throw OfflineError(1, error);
        return hive;
    };
    auto store = std::make_unique<HiveRegistryStore>();
    store->Mount(HiveRegistryStore::Slot::Software, open(software_));
    store->Mount(HiveRegistryStore::Slot::System, open(system_));
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
    if (profile) store->Mount(HiveRegistryStore::Slot::User, open(profile->hivePath));
    return store;
}

}  // namespace kestro
