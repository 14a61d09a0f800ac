// A Windows installation that is not running, seen from its Windows folder
// on a mounted volume: where its hives are, which user profiles it has, and
// a registry store over them.
#pragma once

#include "platform/hive_registry.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestro {

// What went wrong, with the exit code a command-line tool gives for it:
// 2 for a path, hive or user that cannot be found, 1 for a hive that is
// there but cannot be used.
class OfflineError : public std::runtime_error {
public:
    OfflineError(int exitCode, const std::string& message) : std::runtime_error(message), exitCode_(exitCode) {}
    int ExitCode() const { return exitCode_; }

private:
    int exitCode_;
};

class OfflineWindows {
public:
    struct UserProfile {
        std::string name;        // the profile folder's name
        std::string hivePath;    // its NTUSER.DAT
        bool systemProfile;      // Default User, LocalService and the like
    };

    // Finds system32/config/software and .../system below `windir`, and the
    // profiles in "Documents and Settings" or "Users" beside it; every name
    // without regard to case. Throws OfflineError(2) when `windir` or either
    // hive is missing.
    explicit OfflineWindows(const std::string& windir);

    const std::string& WindowsDir() const { return windir_; }
    const std::string& SoftwareHive() const { return software_; }
    const std::string& SystemHive() const { return system_; }
    // Every profile folder that holds an NTUSER.DAT, sorted by name.
    const std::vector<UserProfile>& Users() const { return users_; }

    // The profile named `name` (without regard to case). With an empty name,
    // the only profile that is not a system one. Throws OfflineError(2)
    // when there is no such profile or the choice is not clear.
    const UserProfile& FindUser(const std::string& name) const;

    // A store over the two machine hives and, when `user` names a profile or
    // one is the clear choice, that user's NTUSER.DAT. With `requireUser`
    // an unclear choice is an error; without it HKEY_CURRENT_USER is then
    // simply absent. Throws OfflineError(1) for a hive that hivex cannot
    // read.
    std::unique_ptr<HiveRegistryStore> OpenStore(HiveFile::Mode mode, const std::string& user,
                                                 bool requireUser = true) const;

private:
    std::string windir_;
    std::string software_;
    std::string system_;
    std::vector<UserProfile> users_;
};

// The entry of `dir` named `name` without regard to case (an exact match
// first), or empty.
std::string FindEntryNoCase(const std::string& dir, const std::string& name);

}  // namespace kestro
