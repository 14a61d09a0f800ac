#include "ctl/offline_store.h"

#include "platform/offline_windows.h"

#include <CLI/CLI.hpp>

namespace kestro {

void OfflineStoreProvider::AddOptions(CLI::App& app) {
    app.add_option("--offline", windir_,
                   "the Windows folder of an installation that is not running, e.g. /mnt/windows/WINDOWS");
    app.add_option("--user", user_,
                   "with --offline: the profile for the user's settings (list-users shows them); "
                   "may be left out when there is only one");
    app.add_flag("--no-backup", noBackup_, "with --offline: keep no NAME.kestro-bak of a changed hive");
}

std::vector<OwnCommand> OfflineStoreProvider::OwnCommands() {
    return {{"list-users", "with --offline: the user profiles that have an NTUSER.DAT", [this](Console& console) {
                 if (windir_.empty()) {
                     console.Err("kestroctl: list-users needs --offline WINDIR\n");
                     return kExitUsage;
                 }
                 try {
                     OfflineWindows windows(windir_);
                     for (const OfflineWindows::UserProfile& user : windows.Users())
                         console.Out(user.name + (user.systemProfile ? "  (system profile)" : "") + "  " +
                                     user.hivePath + "\n");
                 } catch (const OfflineError& e) {
                     console.Err(std::string("kestroctl: ") + e.what() + "\n");
                     return e.ExitCode();
                 }
                 return kExitOk;
             }}};
}

RegistryStore* OfflineStoreProvider::Open(const StoreUse& use, std::string* why, int* code) {
    if (windir_.empty()) {
        *why = "this system has no Windows registry to work on; give --offline WINDIR, the Windows folder of a "
               "mounted installation";
        *code = kExitUsage;
        return nullptr;
    }
    try {
        store_ = OfflineWindows(windir_).OpenStore(use.writes ? HiveFile::Mode::Write : HiveFile::Mode::ReadOnly,
                                                   user_, use.userKeys);
    } catch (const OfflineError& e) {
        *why = e.what();
        *code = e.ExitCode();
        return nullptr;
    }
    // One line for each hive Windows left dirty, before anything is shown.
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
            console_.Err("kestroctl: " + hive->Path() +
                         ": the hive was dirty (Windows was not shut down cleanly); it was read as recovered "
                         "from its logs (" + logs + ")\n");
        } else if (!use.writes) {
            ++unrecovered_;
            console_.Err("kestroctl: warning: " + hive->Path() + ": the hive is dirty and its logs cannot be used (" +
                         hive->LogProblem() +
                         "); what is shown is what the file holds, which may be older than what Windows would "
                         "load\n");
        }
    }
    return store_.get();
}

bool OfflineStoreProvider::Close(bool succeeded, std::string* why) {
    if (!store_) return true;
    std::unique_ptr<HiveRegistryStore> store = std::move(store_);
    std::vector<std::string> refusals = store->Refusals();
    if (!refusals.empty()) {
        why->clear();
        for (const std::string& refusal : refusals) *why += (why->empty() ? "" : "\nkestroctl: ") + refusal;
        if (store->HasChanges()) *why += "\nkestroctl: nothing was written to the other hives either";
        return false;
    }
    if (unrecovered_ > 0) {
        *why = std::to_string(unrecovered_) + (unrecovered_ == 1 ? " hive was" : " hives were") +
               " read without the changes in its logs (see above)";
        return false;
    }
    if (!store->HasChanges()) return true;
    if (!succeeded) {
        // Half a command is not written: every file stays as it was.
        console_.Err("kestroctl: nothing was written to the hives\n");
        return true;
    }
    std::vector<std::string> written, backups;
    bool ok = store->Commit(HiveFile::CommitOptions{!noBackup_}, why, &written, &backups);
    for (const std::string& file : written) console_.Err("kestroctl: wrote " + file + "\n");
    for (const std::string& file : backups) console_.Err("kestroctl: the original is kept as " + file + "\n");
    for (HiveRegistryStore::Slot slot :
         {HiveRegistryStore::Slot::System, HiveRegistryStore::Slot::Software, HiveRegistryStore::Slot::User}) {
        const HiveFile* hive = store->Mounted(slot);
        if (!hive) continue;
        for (const std::string& log : hive->EmptiedLogs())
            console_.Err("kestroctl: emptied " + log + ": what it held is in the new hive\n");
    }
    return ok;
}

}  // namespace kestro
