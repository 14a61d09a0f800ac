#include "ctl/restore.h"

#include "ctl/messages.h"
#include "ctl/interrupt.h"
#include "ctl/offline_exit.h"
#include "offline/hive_backups.h"
#include "offline/hive_file.h"
#include "offline/volume_group_policy.h"

#include <algorithm>
#include <ctime>
#include <map>
#include <memory>
#include <unistd.h>

namespace kestro {

namespace {

// A hive's folder, held open, and its writer lock, which refers to it.
struct HeldHive {
    Folder folder;
    WriterLock lock;
};

using HeldHives = std::map<std::string, std::unique_ptr<HeldHive>>;

// Each hive's folder held open within the Windows volume and, to change
// anything, the hive's writer lock, from before its backups are looked at
// to the end: no command writes it between the check that it is as
// kestroctl left it and the put back. Empty, or why not.
std::string HoldHives(const std::vector<std::string>& hives, const VolumeBound& bound, bool dryRun, HeldHives* held) {
    for (const std::string& hive : hives) {
        auto h = std::make_unique<HeldHive>();
        std::string why;
        if (!Folder::Open(DirName(hive), &bound, &h->folder, &why)) return hive + ": " + why;
        if (!dryRun) {
            why = LockHive(h->folder, BaseName(hive), &h->lock);
            if (!why.empty()) return Tr("%1; nothing was put back", why);
        }
        (*held)[hive] = std::move(h);
    }
    return std::string();
}

// The newest run's backups, which together undo it; backups without a
// record only when no backup has one. The others are named as left.
// `newest`: the newest run that left a record, of a hive or of a Group
// Policy file.
std::vector<HiveBackup> NewestRunsBackups(const std::vector<HiveBackup>& candidates, const std::string& newest,
                                          Console& console) {
    std::vector<HiveBackup> chosen;
    for (const HiveBackup& backup : candidates) {
        if (newest.empty() || backup.run == newest) chosen.push_back(backup);
        else
            console.Err("kestroctl: " +
                        (backup.when.empty()
                             ? Tr("note: %1 was made by an earlier run; restore again to put it back", backup.backup)
                             : Tr("note: %1 was made by an earlier run (%2); restore again to put it back",
                                  backup.backup, backup.when)) +
                        "\n");
    }
    return chosen;
}

// The Group Policy files' backups of the run `newest`; the others are
// named as left.
std::vector<GroupPolicyBackup> NewestRunsFiles(std::vector<GroupPolicyBackup> candidates, const std::string& newest,
                                               Console& console) {
    std::vector<GroupPolicyBackup> chosen;
    for (GroupPolicyBackup& backup : candidates) {
        if (backup.run == newest) chosen.push_back(std::move(backup));
        else
            console.Err("kestroctl: " +
                        Tr("note: %1 was made by an earlier run; restore again to put it back", backup.path) + "\n");
    }
    return chosen;
}

// How many Group Policy files are refused because they changed since the
// run (with `force`, only those that cannot be read), each named.
int RefuseChangedFiles(const std::vector<GroupPolicyBackup>& chosen, bool force, Console& console) {
    int refused = 0;
    for (const GroupPolicyBackup& backup : chosen) {
        if (backup.changed.empty()) continue;
        if (force && backup.readable) {
            console.Err("kestroctl: " +
                        Tr("warning: %1: %2; put back all the same (--force)", backup.filePath, backup.changed) + "\n");
            continue;
        }
        ++refused;
        console.Err("kestroctl: " + backup.filePath + ": " + backup.changed + "\n");
    }
    return refused;
}

// How many backups are refused because their hive changed since the run
// that made them, each named; with `force`, none, each warned of.
int RefuseChanged(const std::vector<HiveBackup>& chosen, bool force, Console& console) {
    int refused = 0;
    for (const HiveBackup& backup : chosen) {
        if (backup.changed.empty()) continue;
        if (force) {
            console.Err("kestroctl: " +
                        Tr("warning: %1: %2; put back all the same (--force)", backup.hive, backup.changed) + "\n");
            continue;
        }
        ++refused;
        console.Err("kestroctl: " + backup.hive + ": " + backup.changed +
                    (backup.recorded ? std::string(": ") + Tr("Windows has probably run since, and putting the "
                                                              "backup back would lose what it wrote")
                                     : std::string()) +
                    "\n");
    }
    return refused;
}

// Puts back (or, with `dryRun`, says it would) each backup; empty, or the
// first failure.
std::string PutBackAll(const std::vector<HiveBackup>& chosen, const HeldHives& held, bool dryRun, Console& console) {
    // A signal waits for the putting back to end (nothing in dry run).
    WriteUnderWay writing;
    for (const HiveBackup& backup : chosen) {
        std::string logs;
        for (const auto& log : backup.logs) logs += (logs.empty() ? "" : ", ") + log.first;
        if (dryRun) {
            console.Out((logs.empty() ? Tr("would put back %1 from %2", backup.hive, backup.backup)
                                      : Tr("would put back %1 from %2, with %3", backup.hive, backup.backup, logs)) +
                        "\n");
            continue;
        }
        std::string kept;
        const std::string error = PutBack(held.at(backup.hive)->folder, backup, &kept);
        if (!error.empty()) return error;
        WriteUnderWay::Written();
        console.Out((logs.empty() ? Tr("put back %1 from %2; what it replaced is kept as %3", backup.hive,
                                       backup.backup, kept)
                                  : Tr("put back %1 from %2, with %3; what it replaced is kept as %4", backup.hive,
                                       backup.backup, logs, kept)) +
                    "\n");
    }
    return std::string();
}

// Puts back (or, with `dryRun`, says it would) each Group Policy file;
// *done gets those put back, for an undo should a hive fail. Empty, or the
// first failure.
std::string PutBackFiles(VolumeGroupPolicyFiles& files, const std::vector<GroupPolicyBackup>& chosen, bool dryRun,
                         Console& console, std::vector<const GroupPolicyBackup*>* done) {
    for (const GroupPolicyBackup& backup : chosen) {
        if (dryRun) {
            console.Out(Tr("would put back %1 from %2", backup.filePath, backup.path) + "\n");
            continue;
        }
        const std::string error = files.PutBack(backup, false);
        if (!error.empty()) return error;
        done->push_back(&backup);
        console.Out((backup.beforePresent ? Tr("put back %1 from %2", backup.filePath, backup.path)
                                          : Tr("deleted %1: it was absent before the run that made %2",
                                               backup.filePath, backup.path)) +
                    "\n");
    }
    return std::string();
}

// The Group Policy files and the hives put back together: the files first,
// and as they were found again should a hive then fail.
std::string PutBackEverything(VolumeGroupPolicyFiles& files, const std::vector<GroupPolicyBackup>& chosenFiles,
                              const std::vector<HiveBackup>& chosen, const HeldHives& held, bool dryRun,
                              Console& console) {
    std::vector<const GroupPolicyBackup*> done;
    std::string error = PutBackFiles(files, chosenFiles, dryRun, console, &done);
    if (error.empty()) error = PutBackAll(chosen, held, dryRun, console);
    if (!error.empty()) {
        for (auto it = done.rbegin(); it != done.rend(); ++it) {
            const std::string undo = files.PutBack(**it, true);
            console.Err("kestroctl: " +
                        (undo.empty() ? Tr("%1 is again as it was found", (*it)->filePath)
                                      : Tr("warning: %1 cannot be made again as it was found: %2", (*it)->filePath,
                                           undo)) +
                        "\n");
        }
        return error;
    }
    for (const GroupPolicyBackup* backup : done) {
        const std::string unmarked = files.MarkPutBack(*backup);
        if (!unmarked.empty()) console.Err("kestroctl: " + Tr("warning: %1", unmarked) + "\n");
    }
    return std::string();
}

}  // namespace

std::string NewRunName() {
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    char name[64];
    std::snprintf(name, sizeof name, "%020lld.%09ld-%ld", static_cast<long long>(now.tv_sec), now.tv_nsec,
                  static_cast<long>(::getpid()));
    return name;
}

int RunRestore(const OfflineWindows& windows, const std::string& user, bool dryRun, bool force, Console& console) {
    auto fail = [&console](int code, const std::string& message) {
        console.Err("kestroctl: " + message + "\n");
        return code;
    };
    std::vector<std::string> hives = {windows.SystemHive(), windows.SoftwareHive()};
    try {
        hives.push_back(windows.FindUser(user).hivePath);
    } catch (const OfflineError& e) {
        if (!user.empty()) return fail(ExitCodeFor(e.Fault()), e.what());
        console.Err("kestroctl: " +
                    std::string(Tr("note: no --user, and no one profile is the clear choice: only the machine hives "
                                   "are put back")) +
                    "\n");
    }
    HeldHives held;
    const VolumeBound bound = windows.Bound();  // outlives the folders held within it
    std::string error = HoldHives(hives, bound, dryRun, &held);
    if (!error.empty()) return fail(kExitFailed, error);

    std::vector<HiveBackup> candidates;
    std::string newest;  // the newest run that left a record
    for (const std::string& hive : hives) {
        HiveBackup backup = FindNewestBackup(held.at(hive)->folder, hive);
        for (const std::string& note : backup.notes) console.Err("kestroctl: " + Tr("note: %1", note) + "\n");
        if (backup.recorded && backup.run > newest) newest = backup.run;
        if (!backup.backup.empty()) candidates.push_back(backup);
    }
    // The local Group Policy files the same run changed go back with the
    // hives. From the first one put back, a signal waits until the hives
    // are put back too, or the files made again as they were found.
    WriteUnderWayFromFirstChange filesChanging;
    VolumeGroupPolicyFiles files(windows.WindowsDir(), bound);
    files.BeforeEachChange([&filesChanging] { filesChanging.Begin(); });
    std::vector<std::string> notes;
    std::vector<GroupPolicyBackup> fileCandidates = files.NewestBackups(&notes);
    for (const std::string& note : notes) console.Err("kestroctl: " + Tr("note: %1", note) + "\n");
    for (const GroupPolicyBackup& backup : fileCandidates) newest = std::max(newest, backup.run);
    if (candidates.empty() && fileCandidates.empty())
        return fail(kExitUsage, Tr("no kestroctl backup (NAME.kestro-bak) beside these hives"));
    const std::vector<HiveBackup> chosen = NewestRunsBackups(candidates, newest, console);
    const std::vector<GroupPolicyBackup> chosenFiles = NewestRunsFiles(std::move(fileCandidates), newest, console);
    if (RefuseChanged(chosen, force, console) + RefuseChangedFiles(chosenFiles, force, console) > 0)
        return fail(kExitFailed, Tr("nothing was put back; --force puts the backups back all the same, and the "
                                    "files they replace are kept"));
    error = PutBackEverything(files, chosenFiles, chosen, held, dryRun, console);
    if (!error.empty()) return fail(kExitFailed, error);
    if (dryRun) console.Out(std::string(Tr("nothing was changed (--dry-run)")) + "\n");
    return kExitOk;
}

}  // namespace kestro
