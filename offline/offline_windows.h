// A Windows installation that is not running, seen from its Windows folder
// on a mounted volume: where its hives are, which user profiles it has and
// which of them Windows loads, where its own paths lead on the volume, and a
// registry store over its hives.
//
// Every name is matched as NTFS matches it (core/text.h, SameNtfsName):
// a mount may be case-sensitive, and Windows may have spelt a folder
// "WINDOWS", "Windows" or "windows". Two entries of one folder whose names
// NTFS would take for the same are refused, naming both: Windows would only
// ever see one of them, and which one is not ours to guess.
#pragma once

#include "offline/hive_registry.h"
#include "offline/offline_error.h"

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace kestro {

class OfflineWindows {
public:
    struct UserProfile {
        std::string name;      // the profile folder's name
        std::string account;   // the local account's name, from the SAM hive; empty when not known
        std::string sid;       // from ProfileList; empty for a folder it does not name
        std::string folder;    // the folder on this volume; empty when ProfileList's path is not on it
        std::string hivePath;  // its NTUSER.DAT; empty when there is none
        std::string windowsPath;  // ProfileImagePath as ProfileList holds it
        bool systemProfile = false;  // Default User, LocalService and the like
        bool listed = false;         // ProfileList names it: Windows loads this folder for it
    };

    // Finds system32/config/software and .../system below `windir`; `windir`
    // itself may be spelt in any case. Throws OfflineError(NotFound) when it or
    // either hive is missing, OfflineError(Unusable) when two names are taken for
    // one.
    explicit OfflineWindows(const std::string& windir);

    const std::string& WindowsDir() const { return windir_; }
    // The folder that holds WINDIR: the root of this Windows' system drive.
    const std::string& Volume() const { return volume_; }
    const std::string& SoftwareHive() const { return software_; }
    const std::string& SystemHive() const { return system_; }

    // The profiles: those SOFTWARE's ProfileList names (with their account
    // names where the SAM hive can be read), then the folders beside
    // WINDIR that hold an NTUSER.DAT and that ProfileList does not name,
    // which Windows does not load. Without a readable ProfileList, the
    // folders alone, each counted as listed, and ProfileListNote says why.
    const std::vector<UserProfile>& Users() const;
    // Empty, or why the profiles are the folders rather than ProfileList's.
    const std::string& ProfileListNote() const;
    // Empty, or why no account names are shown (the SAM hive).
    const std::string& AccountNote() const;

    // The profile `name` stands for: an account name, else a profile folder's
    // name, either as NTFS matches names. A folder that ProfileList does not
    // name is refused, as is a name that two profiles answer to. With an
    // empty name, the only profile Windows loads that is not a system one.
    // Throws OfflineError(NotFound), naming the profiles there are.
    const UserProfile& FindUser(const std::string& name) const;

    // The bound a hive's folder is opened within: folders are followed
    // only while they stay on the file system that holds WINDIR.
    VolumeBound Bound() const;

    // A store over the two machine hives and, when `user` names a profile or
    // one is the clear choice, that user's NTUSER.DAT. With `requireUser`
    // an unclear choice is an error; without it HKEY_CURRENT_USER is then
    // simply absent. Throws OfflineError(Unusable) for a hive that hivex cannot
    // read.
    std::unique_ptr<HiveRegistryStore> OpenStore(HiveFile::Mode mode, const std::string& user,
                                                 bool requireUser = true) const;

    // This Windows' system drive letter and Windows folder as it names them
    // (SOFTWARE's SystemRoot, "C:\WINDOWS"); "C:" and "C:\" plus WINDIR's
    // name when that cannot be read.
    const std::string& SystemDrive() const;
    const std::string& SystemRoot() const;

    // Where the Windows path `path` (C:\..., %SystemRoot%\..., %SystemDrive%\...
    // and %windir%\..., with \ or /) leads on this volume, each part matched
    // as NTFS matches names; empty, with *why, when it is not a full path
    // on this Windows' system drive, climbs with "..", names something that
    // is not there, or leads off the volume.
    std::string MapWindowsPath(const std::string& path, std::string* why) const;

    // Empty, or what hiberfil.sys at the volume's root says of a saved
    // session: Windows hibernated, or stopped with fast start-up, and will
    // resume from it, so what it held in memory is newer than the files.
    std::string SavedSession() const;

private:
    void LoadSoftware() const;
    void LoadProfiles() const;
    std::map<std::uint32_t, std::string> LoadAccounts() const;
    void AddListedProfiles(const std::map<std::uint32_t, std::string>& accounts, std::set<std::string>* seen) const;
    void AddProfileFolders(bool listed, std::set<std::string>* seen) const;
    bool ProfileFolderHive(const Folder& held, const std::string& dir, const std::string& name, std::string* hive,
                           std::string* identity) const;
    std::string Known() const;
    const UserProfile& NamedUser(const std::string& name) const;
    const UserProfile& OnlyUser() const;

    // The names of `dir` (a folder below the volume's) as NTFS matches
    // them, found through the volume's held folder (Folder::Open within
    // Bound()): no path below the volume is given to the kernel whole.
    std::string Entry(const std::string& dir, const std::string& name) const;
    // MapWindowsPath's walk of the names alone: the last one may still be a
    // link off the volume, which is refused when it is opened.
    std::string MapWindowsNames(const std::string& path, std::string* why) const;
    bool IsFolder(const std::string& path) const;
    bool IsFile(const std::string& path) const;
    // The folder `path` itself (device and inode), so that one reached
    // through a junction is one folder; `path` where it cannot be opened.
    std::string FolderIdentity(const std::string& path) const;

    std::string windir_;
    std::string volume_;
    Folder volumeFolder_;  // the folder that holds WINDIR, held from the start
    std::string config_;
    std::string software_;
    std::string system_;

    mutable bool softwareLoaded_ = false;
    mutable std::string systemDrive_;
    mutable std::string systemRoot_;
    mutable std::vector<std::pair<std::string, std::string>> profileList_;  // SID, ProfileImagePath
    mutable std::string profileListNote_;

    mutable bool profilesLoaded_ = false;
    mutable std::vector<UserProfile> users_;
    mutable std::string accountNote_;
};

// The entry of `dir` named `name` as NTFS matches names, or empty. Throws
// OfflineError(Unusable) when two entries match, naming both.
std::string FindEntryNoCase(const std::string& dir, const std::string& name);

// `path` with each part that is not there as spelt found as NTFS matches
// names (the parts above the volume are those of the rescue system, and
// taken as spelt where they exist).
std::string ResolvePathNoCase(const std::string& path);

// What the first bytes of a hiberfil.sys say (see OfflineWindows::
// SavedSession); empty for a file that holds no session.
std::string HibernationSignature(const std::string& firstBytes);

}  // namespace kestro
