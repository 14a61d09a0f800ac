// A Windows installation's hive files on disk, for the offline tests.
#pragma once

#include "tests/support/hive_files.h"

#include <string>
#include <vector>

namespace kestro::test {

// A Windows folder tree under `root`: WINDOWS/system32/config/{software,
// system} (lower case, as XP writes them) filled from `systemReg` and
// `softwareReg`, and one NTUSER.DAT per user under "Documents and
// Settings", each filled from `userReg`. On an NTFS volume each hive gets
// a descriptor and attributes as Windows gives them. Returns the Windows
// folder.
std::string MakeOfflineWindows(const std::string& root, const std::string& systemReg,
                               const std::string& softwareReg, const std::vector<std::string>& users,
                               const std::string& userReg);

}  // namespace kestro::test
