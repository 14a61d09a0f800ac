#include "ctl/offline_store.h"
#include "ctl/messages.h"

#include "ctl/interrupt.h"
#include "ctl/offline_exit.h"
#include "ctl/restore.h"
#include "core/display_text.h"
#include "core/files.h"
#include "offline/hive_backups.h"
#include "offline/offline_windows.h"
#include "offline/volume_group_policy.h"
#include "core/text.h"

#include <CLI/CLI.hpp>

#include <algorithm>

namespace kestro {

void OfflineStoreProvider::AddOptions(CLI::App& app) {
    app.add_option("--offline", windir_,
                   Tr("the Windows folder of an installation that is not running, e.g. /mnt/windows/WINDOWS"));
    app.add_option("--user", user_,
                   Tr("with --offline: the profile for the user's settings (list-users shows them); "
                      "may be left out when there is only one"));
    app.add_flag("--no-backup", noBackup_, Tr("with --offline: keep no NAME.kestro-bak of a changed hive"));
    app.add_option("--keep-backups", keepBackups_,
                   Tr("with --offline: the runs whose backups each hive keeps besides its first (default 5); older "
                      "ones are removed"))
        ->check(CLI::Range(0, 10000).description(""))
        ->type_name("N");
}

namespace {

// What a Windows that resumes from a saved session would undo, and what to
// do about it (the README's "Windows 8 and later, hibernated ...").
constexpr const char* kSessionAdvice = N_(
    "Start that Windows and shut it down fully (hold Shift while choosing Shut down, or run shutdown /s /t 0), "
    "and to keep it so run powercfg /h off as an administrator, which turns hibernation and fast start-up off; "
    "kestroctl(1) tells the other ways");

// The profiles as a table, and what they were found from on the error
// stream.
int ListUsers(const OfflineWindows& windows, Console& console) {
    struct Line {
        std::string account, sid, hive, folder;
    };
    std::vector<Line> lines = {{Tr("ACCOUNT"), "SID", "NTUSER.DAT", Tr("FOLDER")}};
    for (const OfflineWindows::UserProfile& user : windows.Users()) {
        // Each field as one field: a name holding a line feed starts no row.
        std::string folder = user.folder.empty() ? Tr("%1 (no such folder on this volume)", ShownField(user.windowsPath))
                                                 : ShownField(user.folder);
        if (user.systemProfile) folder += std::string(" ") + Tr("(system profile)");
        if (!user.listed) folder += std::string(" ") + Tr("(not loaded by Windows: ProfileList does not name it)");
        lines.push_back({user.account.empty() ? "-" : ShownField(user.account), user.sid.empty() ? "-" : ShownField(user.sid),
                         user.hivePath.empty() ? Tr("no") : Tr("yes"), folder});
    }
    // Columns as wide as their longest entry, in characters: a Russian
    // account name is two bytes a letter.
    const auto width = [](const std::string& s) {
        return static_cast<std::size_t>(std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
    };
    std::size_t account = 0, sid = 0;
    for (const Line& line : lines) {
        account = std::max(account, width(line.account));
        sid = std::max(sid, width(line.sid));
    }
    const auto pad = [&width](const std::string& s, std::size_t to) { return s + std::string(to - width(s) + 2, ' '); };
    for (const Line& line : lines)
        console.Out(pad(line.account, account) + pad(line.sid, sid) + pad(line.hive, 10) + line.folder + "\n");
    if (!windows.ProfileListNote().empty()) console.Err("kestroctl: " + Tr("note: %1", windows.ProfileListNote()) + "\n");
    else if (!windows.AccountNote().empty()) console.Err("kestroctl: " + Tr("note: %1", windows.AccountNote()) + "\n");
    return kExitOk;
}

HiveRegistryStore::Slot SlotOf(KeyHandle root, const std::string& keyPath) {
    if (root == kHkeyCurrentUser) return HiveRegistryStore::Slot::User;
    if (root == kHkeyLocalMachine && SameAsciiNoCase(keyPath.substr(0, keyPath.find('\\')), "SYSTEM"))
        return HiveRegistryStore::Slot::System;
    return HiveRegistryStore::Slot::Software;  // HKEY_CLASSES_ROOT is SOFTWARE's Classes
}

}  // namespace

std::vector<OwnCommand> OfflineStoreProvider::OwnCommands() {
    OwnCommand listUsers{"list-users", Tr("with --offline: the user profiles, from ProfileList, and their folders"),
                         [this](Console& console) {
                             if (windir_.empty()) {
                                 console.Err("kestroctl: " + std::string(Tr("list-users needs --offline WINDIR")) + "\n");
                                 return kExitUsage;
                             }
                             try {
                                 return ListUsers(OfflineWindows(windir_), console);
                             } catch (const OfflineError& e) {
                                 console.Err(std::string("kestroctl: ") + e.what() + "\n");
                                 return ExitCodeFor(e.Fault());
                             }
                         }};
    OwnCommand restore{
        "restore",
        Tr("with --offline: puts back the newest backups of the hives the user's settings touch, logs included"),
        [this](Console& console) {
            if (windir_.empty()) {
                console.Err("kestroctl: " + std::string(Tr("restore needs --offline WINDIR")) + "\n");
                return kExitUsage;
            }
            try {
                OfflineWindows windows(windir_);
                const std::string session = windows.SavedSession();
                if (!session.empty() && !dryRun_) {
                    console.Err("kestroctl: " +
                                Tr("%1: %2, and would undo what is put back now, so nothing was. %3.",
                                   windows.Volume(), session, Tr(kSessionAdvice)) +
                                "\n");
                    return kExitFailed;
                }
                return RunRestore(windows, user_, dryRun_, force_, console);
            } catch (const OfflineError& e) {
                console.Err(std::string("kestroctl: ") + e.what() + "\n");
                return ExitCodeFor(e.Fault());
            }
        },
        [this](CLI::App& command) {
            command.add_flag("--dry-run", dryRun_, Tr("say what would be put back, change nothing"));
            command.add_flag("--force", force_,
                             Tr("put back even where the files changed since kestroctl wrote them (Windows ran since)"));
            command.footer(
                Tr("A backup is put back only with the record its run wrote beside it (NAME.kestro-bak.kestro-record),\n"
                   "which names a run kestroctl made and the backup's own size and hash; of those, the newest run's.\n"
                   "Each hive keeps its first backup (from before kestroctl changed it) and those of the last 5 runs\n"
                   "(--keep-backups N before the command changes the count); older ones are removed by each write."));
        }};
    return {listUsers, restore};
}

bool OfflineStoreProvider::CheckFilePath(std::wstring* path, std::string* error) {
    std::string utf8 = WideToUtf8(*path);
    if (!windows_) windows_ = std::make_unique<OfflineWindows>(windir_);
    const std::string onVolume = windows_->MapWindowsPath(utf8, error);
    if (onVolume.empty()) return false;
    if (!IsExistingFile(onVolume)) {
        *error = Tr("%1: not a file (%2)", utf8, onVolume);
        return false;
    }
    std::replace(utf8.begin(), utf8.end(), '/', '\\');
    *path = Utf8ToWide(utf8);
    return true;
}

bool OfflineStoreProvider::Kept(KeyHandle root, const std::string& keyPath) const {
    return committed_.count(SlotOf(root, keyPath)) > 0;
}

RegistryStore* OfflineStoreProvider::Open(const StoreUse& use, std::string* why, int* code) {
    if (windir_.empty()) {
        *why = Tr("this system has no Windows registry to work on; give --offline WINDIR, the Windows folder of a "
                  "mounted installation");
        *code = kExitUsage;
        return nullptr;
    }
    try {
        windows_ = std::make_unique<OfflineWindows>(windir_);
        // A Windows that resumes from its saved session puts back what it
        // held in memory, over anything written to its files meanwhile.
        const std::string session = windows_->SavedSession();
        if (!session.empty() && use.writes) {
            *why = Tr("%1: %2, and would undo what is written now, so nothing was written. %3.", windows_->Volume(),
                      session, Tr(kSessionAdvice));
            *code = kExitFailed;
            return nullptr;
        }
        if (!session.empty())
            console_.Err("kestroctl: " +
                         Tr("note: %1: %2; what is shown is what the files hold, and may not be what Windows "
                            "resumes with",
                            windows_->Volume(), session) +
                         "\n");
        store_ = windows_->OpenStore(use.writes ? HiveFile::Mode::Write : HiveFile::Mode::ReadOnly, user_,
                                     use.userKeys);
        // Its local Group Policy object, on the same volume as its hives.
        groupPolicy_ = std::make_unique<VolumeGroupPolicyFiles>(windows_->WindowsDir(), windows_->Bound());
        // Its files change before the hives are written: from the first
        // change, a signal waits until the run has finished or undone it.
        groupPolicy_->BeforeEachChange([this] { filesChanging_.Begin(); });
        store_->AttachLocalGroupPolicy(groupPolicy_.get());
    } catch (const OfflineError& e) {
        *why = e.what();
        *code = ExitCodeFor(e.Fault());
        return nullptr;
    }
    ReportHives(use.writes);
    return store_.get();
}

// One line for each hive Windows left dirty, and the notes of each hive,
// before anything is shown.
void OfflineStoreProvider::ReportHives(bool writes) {
    unrecovered_ = 0;
    for (HiveRegistryStore::Slot slot :
         {HiveRegistryStore::Slot::System, HiveRegistryStore::Slot::Software, HiveRegistryStore::Slot::User}) {
        const HiveFile* hive = store_->Mounted(slot);
        if (!hive) continue;
        for (const std::string& note : hive->Notes()) console_.Err("kestroctl: " + note + "\n");
        if (!hive->Dirty()) continue;
        if (hive->Recovered()) {
            std::string logs;
            for (const std::string& log : hive->LogsUsed()) logs += (logs.empty() ? "" : ", ") + log;
            console_.Err("kestroctl: " +
                         Tr("%1: the hive was dirty (Windows was not shut down cleanly); it was read as recovered "
                            "from its logs (%2)",
                            hive->Path(), logs) +
                         "\n");
        } else if (!writes) {
            ++unrecovered_;
            console_.Err("kestroctl: " +
                         Tr("warning: %1: the hive is dirty and its logs cannot be used (%2); what is shown is what "
                            "the file holds, which may be older than what Windows would load",
                            hive->Path(), hive->LogProblem()) +
                         "\n");
        }
    }
}

bool OfflineStoreProvider::Close(bool succeeded, std::string* why) {
    committed_.clear();
    if (!store_) return true;
    std::unique_ptr<HiveRegistryStore> store = std::move(store_);
    std::vector<std::string> refusals = store->Refusals();
    if (!refusals.empty()) {
        why->clear();
        for (const std::string& refusal : refusals) *why += (why->empty() ? "" : "\nkestroctl: ") + refusal;
        if (store->HasChanges()) *why += "\nkestroctl: " + std::string(Tr("nothing was written to the other hives either"));
        return false;
    }
    if (unrecovered_ > 0) {
        *why = unrecovered_ == 1 ? std::string(Tr("1 hive was read without the changes in its logs (see above)"))
                                 : Tr("%1 hives were read without the changes in their logs (see above)", unrecovered_);
        return false;
    }
    // One name for this run's backups, the hives' and the Group Policy files'.
    const std::string run = NewRunName();
    if (!store->HasChanges()) {
        if (succeeded) KeepGroupPolicyBackups(run);
        return true;
    }
    if (!succeeded) {
        // Half a command is not written: every file stays as it was.
        console_.Err("kestroctl: " + std::string(Tr("nothing was written to the hives")) + "\n");
        return true;
    }
    std::vector<HiveRegistryStore::Slot> changed;
    for (HiveRegistryStore::Slot slot :
         {HiveRegistryStore::Slot::System, HiveRegistryStore::Slot::Software, HiveRegistryStore::Slot::User})
        if (store->Mounted(slot) && store->Mounted(slot)->Changed()) changed.push_back(slot);
    std::vector<std::string> written, backups;
    // Beside each backup, what this run left in place, for restore: written
    // by each hive's commit while it holds the hive's lock.
    HiveFile::CommitOptions options{!noBackup_, run, keepBackups_};
    bool ok = false;
    {
        // A signal now waits for the commit: each hive's write is finished
        // or undone, and its temporary file gone, before the run stops.
        WriteUnderWay writing;
        ok = store->Commit(options, why, &written, &backups);
        if (!written.empty()) WriteUnderWay::Written();
    }
    ReportCommit(*store, changed, written, backups);
    if (ok) KeepGroupPolicyBackups(run);
    return ok;
}

// Beside each Group Policy file the run changed, the way back for restore,
// once the hives it goes with are written.
void OfflineStoreProvider::KeepGroupPolicyBackups(const std::string& run) {
    if (noBackup_ || !groupPolicy_) return;
    std::vector<std::string> kept;
    std::string error;
    const bool ok = groupPolicy_->KeepBackups(run, &kept, &error);
    for (const std::string& file : kept) console_.Err("kestroctl: " + Tr("the original is kept as %1", file) + "\n");
    if (!ok)
        console_.Err("kestroctl: " +
                     Tr("warning: %1; restore will not put this Group Policy file back", error) + "\n");
}

// What the commit of the hives `changed` wrote, kept, removed and emptied.
void OfflineStoreProvider::ReportCommit(const HiveRegistryStore& store,
                                        const std::vector<HiveRegistryStore::Slot>& changed,
                                        const std::vector<std::string>& written,
                                        const std::vector<std::string>& backups) {
    // A hive is written when its commit left nothing pending; Commit stops
    // at the first failure, and those after it keep their changes unwritten.
    for (HiveRegistryStore::Slot slot : changed) {
        const HiveFile* hive = store.Mounted(slot);
        if (hive->Changed()) continue;
        committed_.insert(slot);
        if (!hive->BackupPath().empty() && !hive->RecordProblem().empty())
            console_.Err("kestroctl: " +
                         Tr("warning: no record beside %1 (%2): restore will put it back only with --force",
                            hive->BackupPath(), hive->RecordProblem()) +
                         "\n");
    }
    for (const std::string& file : written) console_.Err("kestroctl: " + Tr("wrote %1", file) + "\n");
    for (const std::string& file : backups) console_.Err("kestroctl: " + Tr("the original is kept as %1", file) + "\n");
    for (HiveRegistryStore::Slot slot : changed)
        for (const std::string& file : store.Mounted(slot)->PrunedBackups())
            console_.Err("kestroctl: " + Tr("removed the older backup %1 (--keep-backups)", file) + "\n");
    for (HiveRegistryStore::Slot slot :
         {HiveRegistryStore::Slot::System, HiveRegistryStore::Slot::Software, HiveRegistryStore::Slot::User}) {
        const HiveFile* hive = store.Mounted(slot);
        if (!hive) continue;
        for (const std::string& log : hive->EmptiedLogs())
            console_.Err("kestroctl: " + Tr("emptied %1: what it held is in the new hive", log) + "\n");
    }
}

}  // namespace kestro
