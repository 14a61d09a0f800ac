// Where the offline tests make their files, and what Windows keeps on a
// file there that Linux does not show as mode bits: its security descriptor
// and DOS attributes, which an NTFS mount exposes as extended attributes.
// The same suites run on a plain folder and on a real NTFS volume
// (tests/offline/on_ntfs.sh); on the volume their hives carry what Windows
// would have given them, so that a commit that drops it is caught.
#pragma once

#include <string>

namespace kestro::test {

// KESTRO_SCRATCH_ROOT when set (the NTFS suite points it at its mount),
// else TMPDIR, else /tmp. Every TempDir is made here.
std::string ScratchRoot();

// What Windows keeps on one file, as the mount gives it: the raw bytes of
// each extended attribute, empty where the file system has none.
struct WindowsMetadata {
    std::string descriptor;  // a self-relative SECURITY_DESCRIPTOR
    std::string attributes;  // the DOS attributes, 4 bytes big-endian
    std::string created;     // the creation time, where the mount gives it

    bool operator==(const WindowsMetadata& o) const {
        return descriptor == o.descriptor && attributes == o.attributes && created == o.created;
    }
    bool operator!=(const WindowsMetadata& o) const { return !(*this == o); }
};
WindowsMetadata ReadWindowsMetadata(const std::string& path);

// Whether the file system under `path` keeps Windows descriptors (an
// ntfs-3g or ntfs3 mount).
bool HasWindowsMetadata(const std::string& path);

// A descriptor as Windows gives a profile's NTUSER.DAT: owned by the user,
// full control for SYSTEM, Administrators and the user only, inherited;
// unlike the one ntfs-3g gives a new file (Everyone: full control). `rid`
// tells users apart.
std::string WindowsLikeDescriptor(unsigned rid = 1003);
// Hidden, system and archive, as Windows marks a hive: 0x26.
constexpr unsigned kHiveAttributes = 0x26;

// Gives `path` that descriptor and those attributes where the file system
// keeps them; false when it does and they could not be set. Nothing
// happens on a plain folder.
bool GiveWindowsMetadata(const std::string& path, unsigned rid = 1003);

// Marks `path` read-only (or writable again) as the file system keeps it:
// the mode bits, and on NTFS the DOS read-only attribute, which is all an
// ntfs-3g mount without the permissions option has of it.
void SetReadOnly(const std::string& path, bool readOnly);

}  // namespace kestro::test
