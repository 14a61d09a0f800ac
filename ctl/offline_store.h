// kestroctl on a Windows that is not running: the store is the hive files of
// the installation whose Windows folder --offline names.
#pragma once

#include "ctl/commands.h"
#include "ctl/interrupt.h"
#include "offline/hive_backups.h"
#include "offline/hive_registry.h"
#include "offline/offline_windows.h"
#include "offline/volume_group_policy.h"

#include <memory>
#include <set>
#include <string>

namespace kestro {

class OfflineStoreProvider final : public StoreProvider {
public:
    // Notes on what was written go to `console`'s error stream.
    explicit OfflineStoreProvider(Console& console) : console_(console) {}

    // --offline WINDIR, --user NAME, --no-backup.
    void AddOptions(CLI::App& app) override;
    // list-users: the profiles, as ProfileList and the folders tell them.
    // restore: the newest backups put back (ctl/restore.h).
    std::vector<OwnCommand> OwnCommands() override;
    // The hives, read-only unless the command writes; exit 2 for what cannot
    // be found, 1 for a hive that cannot be read, or for a write to a
    // Windows that is hibernated. A hive Windows left dirty is read as
    // recovered from its logs, and says so on the error stream; where its
    // logs cannot be used, a reading command shows what the file holds, with
    // a warning, and exits 1.
    RegistryStore* Open(const StoreUse& use, std::string* why, int* code) override;
    // Writes what a successful command changed, every hive safely; after a
    // failed command, or when a hive refused a change, nothing at all.
    bool Close(bool succeeded, std::string* why) override;

    // A Windows path of a file on the volume (C:\..., %SystemRoot%\...),
    // stored as given, with backslashes.
    bool CheckFilePath(std::wstring* path, std::string* error) override;
    bool WritesAtClose() const override { return true; }
    bool Kept(KeyHandle root, const std::string& keyPath) const override;

private:
    void ReportCommit(const HiveRegistryStore& store, const std::vector<HiveRegistryStore::Slot>& changed,
                      const std::vector<std::string>& written, const std::vector<std::string>& backups);
    void ReportHives(bool writes);
    void KeepGroupPolicyBackups(const std::string& run);
    Console& console_;
    std::string windir_;
    std::string user_;
    bool noBackup_ = false;
    int keepBackups_ = kKeptRuns;  // --keep-backups
    bool dryRun_ = false;  // restore
    bool force_ = false;   // restore
    int unrecovered_ = 0;  // dirty hives read as the file holds them
    std::unique_ptr<OfflineWindows> windows_;
    // Held from the first change of a Group Policy file until this object
    // goes, after the run has finished or undone all it wrote.
    WriteUnderWayFromFirstChange filesChanging_;
    std::unique_ptr<VolumeGroupPolicyFiles> groupPolicy_;  // declared first: the store points to it
    std::unique_ptr<HiveRegistryStore> store_;
    std::set<HiveRegistryStore::Slot> committed_;  // the hives the last Close wrote
};

}  // namespace kestro
