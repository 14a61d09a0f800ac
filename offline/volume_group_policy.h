// The local Group Policy object of a Windows that is not running: the files
// below its WINDIR/system32/GroupPolicy, each name matched as NTFS matches
// it, treated as hostile like the hives: every folder is entered by its
// descriptor and stays on the Windows folder's file system, no symbolic
// link is followed, and a file is replaced by a new one renamed over it.
#pragma once

#include "offline/volume.h"
#include "registry/group_policy_files.h"

#include <string>

namespace kestro {

class VolumeGroupPolicyFiles final : public GroupPolicyFiles {
public:
    // `windir` is the Windows folder as found on the volume; `bound` keeps
    // every folder on its file system.
    VolumeGroupPolicyFiles(std::string windir, VolumeBound bound) : windir_(std::move(windir)), bound_(std::move(bound)) {}

    Read ReadFile(File file, std::size_t limit, std::vector<std::uint8_t>* bytes, std::string* error) override;
    bool WriteFile(File file, const std::vector<std::uint8_t>& bytes, std::string* error) override;
    bool RemoveFile(File file, std::string* error) override;

private:
    // The folder that holds the file, opened, and the file's name in it as
    // the volume spells it (or as Windows would make it). Absent when a
    // folder on the way is missing and `make` is false.
    Read OpenParent(File file, bool make, Folder* folder, std::string* name, std::string* error) const;

    std::string windir_;
    VolumeBound bound_;
};

}  // namespace kestro
