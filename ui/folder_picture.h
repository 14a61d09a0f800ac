// The folder background picture's entry in the folder's Desktop.ini.
#pragma once

#include <string>

namespace kestro {

// Writes "IconArea_Image" into `folder`\Desktop.ini through the system's
// profile-string writer, which keeps whatever else the file holds. A picture
// path the ANSI code page cannot hold makes the file UTF-16LE first, so that
// it is stored as typed.
//
// Explorer reads a folder's Desktop.ini only when the folder is read-only
// or system, so after the entry is written the folder is marked as
// Explorer's own "Customize this folder" marks it, and a Desktop.ini made
// here is hidden and system. False when the entry could not be written or
// the folder could not be marked: either way the picture would not show.
bool WriteFolderPicture(const std::wstring& folder, const std::wstring& picture);

// Marks a folder as one whose Desktop.ini Explorer reads: PathMakeSystemFolderW,
// unless a test installs another for the life of a ScopedFolderMarker.
using FolderMarker = bool (*)(const std::wstring& folder);
class ScopedFolderMarker {
public:
    explicit ScopedFolderMarker(FolderMarker marker);
    ~ScopedFolderMarker();
    ScopedFolderMarker(const ScopedFolderMarker&) = delete;
    ScopedFolderMarker& operator=(const ScopedFolderMarker&) = delete;

private:
    FolderMarker previous_;
};

}  // namespace kestro
