// The logs beside a hive, found by the names Windows gives them and
// matched as NTFS matches names.
#pragma once

#include "offline/volume.h"

#include <string>
#include <vector>

namespace kestro {

// The logs of the hive `name` among `entries`, matched as Windows matches
// names (NTFS's case rule), in the order LOG1, LOG2, LOG. Two entries that
// fold to one log's name are refused, naming both: Windows would see only
// one of them, and which is not ours to guess.
bool LogNames(const std::vector<std::string>& entries, const std::string& folder, const std::string& name,
              std::vector<std::string>* logs, std::string* error);

// Whether the folder's entry is anything but a folder: a log name that is a
// link, a FIFO or a device is then refused by name when it is opened
// (Folder::OpenFile), not skipped.
bool IsNotFolder(const Folder& folder, const std::string& name);

// NAME.LOG1, NAME.LOG2 and NAME.LOG beside the hive `path`, without regard to
// case (NTFS's rule): every such entry but a folder (anything but a regular
// file with one name is refused when opened). Two names Windows takes for
// one throw OfflineError(Unusable), naming both.
std::vector<std::string> FindHiveLogs(const std::string& path);
// The same among the entries of the held `folder`, by name.
std::vector<std::string> FindHiveLogs(const Folder& folder, const std::string& hive);

}  // namespace kestro
