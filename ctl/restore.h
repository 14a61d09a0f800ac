// kestroctl --offline WINDIR [--user NAME] restore [--dry-run] [--force]:
// the way back from kestroctl's own writes, through the backups each commit
// keeps and the record beside each (offline/hive_backups.h).
#pragma once

#include "ctl/commands.h"
#include "offline/offline_windows.h"

#include <string>

namespace kestro {

// A name for this run's commits, that sorts by time: restore puts back the
// backups of the newest run only.
std::string NewRunName();

// Puts back, of SYSTEM, SOFTWARE and (when `user` names a profile, or one is
// the clear choice) the user's NTUSER.DAT, the newest backups that the last
// run of kestroctl made, logs included. Refuses, changing nothing, where a
// file changed since that run (Windows ran since), unless `force`. Exit 0
// done (or, with `dryRun`, said what it would do), 1 refused or failed, 2
// nothing to put back or no such user.
int RunRestore(const OfflineWindows& windows, const std::string& user, bool dryRun, bool force, Console& console);

}  // namespace kestro
