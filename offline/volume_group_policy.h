// The local Group Policy object of a Windows that is not running: the files
// below its WINDIR/system32/GroupPolicy, each name matched as NTFS matches
// it, treated as hostile like the hives: every folder is entered by its
// descriptor and stays on the Windows folder's file system, no symbolic
// link is followed, and a file is replaced by a new one renamed over it.
#pragma once

#include "offline/volume.h"
#include "registry/group_policy_files.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace kestro {

// The way back from a run's change of one Group Policy file, kept beside the
// hives (system32/config, so that the GroupPolicy folders hold only what
// Windows put there) as GroupPolicy-User-Registry.pol.kestro-bak.RUN,
// GroupPolicy-Machine-Registry.pol.kestro-bak.RUN or
// GroupPolicy-gpt.ini.kestro-bak.RUN: the file as it was before the run and
// as the run left it, so that restore puts it back only over what the run
// wrote.
struct GroupPolicyBackup {
    GroupPolicyFiles::File file = GroupPolicyFiles::File::GptIni;
    std::string path;      // the backup, for messages
    std::string filePath;  // the file it puts back
    std::string name;  // its name in the file's folder
    std::string run;
    bool beforePresent = false, afterPresent = false;
    std::vector<std::uint8_t> before, after;
    bool readable = true;     // the file as it is could be read (else nothing is put back, even forced)
    bool nowPresent = false;  // the file as it is when found
    std::vector<std::uint8_t> now;
    // Empty when the file is as the run left it; else how it differs.
    std::string changed;
};

class VolumeGroupPolicyFiles final : public GroupPolicyFiles {
public:
    // `windir` is the Windows folder as found on the volume; `bound` keeps
    // every folder on its file system.
    VolumeGroupPolicyFiles(std::string windir, VolumeBound bound) : windir_(std::move(windir)), bound_(std::move(bound)) {}

    Read ReadFile(File file, std::size_t limit, std::vector<std::uint8_t>* bytes, std::string* error) override;
    bool WriteFile(File file, const std::vector<std::uint8_t>& bytes, std::string* error) override;
    bool RemoveFile(File file, std::string* error) override;
    // The copy below the Windows folder on the volume (its first part is
    // the Windows folder's name), walked as the local object's files are.
    DomainCopy ReadDomainCopy(const std::string& fileSysPath, std::size_t limit) override;

    // After the run's hives were written: a backup beside each file this
    // run changed (and did not put back as it was), named by `run`.
    // *kept gets each backup's path; false, with *error, at the first that
    // cannot be written (those before it stay).
    bool KeepBackups(const std::string& run, std::vector<std::string>* kept, std::string* error);
    // The newest backup of each file, whose run is well formed; backups
    // that cannot be read or trusted are named in *notes and passed over.
    std::vector<GroupPolicyBackup> NewestBackups(std::vector<std::string>* notes);
    // Puts the file back as the backup has it from before its run, or (to
    // undo that) as it was found. Empty, or what failed.
    std::string PutBack(const GroupPolicyBackup& backup, bool asFound);
    // Once everything is put back: the backup renamed
    // NAME.kestro-put-back.RUN, so that restore does not find it again.
    std::string MarkPutBack(const GroupPolicyBackup& backup);

    // Called before each change of a file (a write or a removal): from the
    // first on, the volume holds part of the run, and the program may then
    // hold its signals until the run has finished or undone it.
    void BeforeEachChange(std::function<void()> hook) { beforeChange_ = std::move(hook); }

private:
    // The file's bytes before this run first changed it, and now.
    struct Change {
        bool beforePresent = false, afterPresent = false;
        std::vector<std::uint8_t> before, after;
    };
    // Keeps the file's state before its first change in this run.
    bool NoteBefore(File file, std::string* error);
    bool Replace(File file, const std::vector<std::uint8_t>& bytes, std::string* error);
    bool Delete(File file, std::string* error);
    bool ReadBackup(const Folder& folder, const std::string& name, GroupPolicyBackup* backup, std::string* error);

    // The folder that holds the file, opened, and the file's name in it as
    // the volume spells it (or as Windows would make it). Absent when a
    // folder on the way is missing and `make` is false.
    Read OpenParent(File file, bool make, Folder* folder, std::string* name, std::string* error) const;
    // The folder below the Windows folder by its parts, each matched as NTFS
    // matches names.
    Read OpenFolder(const std::vector<std::string>& parts, bool make, Folder* folder, std::string* error) const;

    std::string windir_;
    VolumeBound bound_;
    std::map<File, Change> changes_;
    std::function<void()> beforeChange_;
};

}  // namespace kestro
