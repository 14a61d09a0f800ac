#include "offline/hive_names.h"

#include "core/localized.h"
#include "core/text.h"
#include "offline/offline_error.h"

#include <sys/stat.h>

#include <algorithm>

namespace kestro {

bool LogNames(const std::vector<std::string>& entries, const std::string& folder, const std::string& name,
              std::vector<std::string>* logs, std::string* error) {
    logs->clear();
    for (const char* suffix : {".LOG1", ".LOG2", ".LOG"}) {
        const std::string wanted = name + suffix;
        std::vector<std::string> found;
        for (const std::string& entry : entries)
            if (SameNtfsName(entry, wanted)) found.push_back(entry);
        if (found.size() > 1) {
            std::sort(found.begin(), found.end());
            *error = Localized("%1 holds both %2, which Windows takes for one name; it would see only one of "
                               "them. Rename or remove the one that does not belong there",
                               folder, Localized("%1 and \"%2\"", "\"" + found[0] + "\"", found[1]));
            return false;
        }
        if (!found.empty()) logs->push_back(found[0]);
    }
    return true;
}

bool IsNotFolder(const Folder& folder, const std::string& name) {
    struct stat st;
    return folder.Stat(name, &st) && !S_ISDIR(st.st_mode);
}

std::vector<std::string> FindHiveLogs(const Folder& folder, const std::string& hive) {
    std::vector<std::string> names, logs;
    std::string error;
    if (!LogNames(folder.Names(), folder.Path(), hive, &names, &error))
        throw OfflineError(OfflineFault::Unusable, error);
    for (const std::string& name : names)
        if (IsNotFolder(folder, name)) logs.push_back(name);
    return logs;
}

std::vector<std::string> FindHiveLogs(const std::string& path) {
    std::vector<std::string> logs;
    Folder folder;
    std::string error;
    if (!Folder::Open(DirName(path), nullptr, &folder, &error)) return logs;
    for (const std::string& name : FindHiveLogs(folder, BaseName(path))) logs.push_back(folder.PathOf(name));
    return logs;
}

}  // namespace kestro
