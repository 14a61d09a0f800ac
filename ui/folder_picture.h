// The folder background picture's entry in the folder's Desktop.ini.
#pragma once

#include <string>

namespace kestro {

// Writes "IconArea_Image" into `folder`\Desktop.ini through the system's
// profile-string writer, which keeps whatever else the file holds. A picture
// path the ANSI code page cannot hold makes the file UTF-16LE first, so that
// it is stored as typed. False when the file could not be written.
bool WriteFolderPicture(const std::wstring& folder, const std::wstring& picture);

// Whether `text` survives the ANSI code page unchanged.
bool FitsAnsiCodePage(const std::wstring& text);

}  // namespace kestro
