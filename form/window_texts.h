// The texts the program's windows show beyond their controls' own captions
// and tooltips (those are in the control table, main_controls.def): what the
// start-up writes into the window, the handlers' message boxes and file
// dialogs, and the folder chooser's. One named text each, so that a text is
// changed, or translated, here and nowhere else.
#pragma once

namespace kestro {

// The start-up's lines in "mmSystemInfo", each followed by a folder.
extern const wchar_t kWindowsFolderLine[];
extern const wchar_t kTempFolderLine[];
// The start-up's caption of "lbInfa".
extern const wchar_t kRestartNotice[];

// File dialogs' filters: pairs of a name and its patterns, each ended by a
// null character, the list by one more.
extern const wchar_t kWallpaperFilter[];
extern const wchar_t kPictureFilter[];

// "bbSetPictureBackgroundFolder" with no folder chosen.
extern const wchar_t kChooseFolderText[];
extern const wchar_t kChooseFolderCaption[];
// "bbSetPictureBackgroundFolder" when Desktop.ini cannot be written.
extern const wchar_t kDesktopIniFailedText[];
extern const wchar_t kDesktopIniFailedCaption[];

// A control's tooltip adds, on a Windows that does not read its setting,
// this line: %1 that Windows ("10"), %2 those that read it ("XP–7").
extern const wchar_t kIgnoredSettingNote[];
// "bbSetPictureBackgroundFolder"'s tooltip on Vista and later, whose
// Explorer no longer shows a folder's background picture.
extern const wchar_t kFolderBackgroundNote[];

// The folder chooser.
extern const wchar_t kChooserCaption[];
extern const wchar_t kChooserOkCaption[];
extern const wchar_t kChooserCancelCaption[];

// A setting Windows takes from the machine's copy or the local Group Policy
// rather than from the user's own value: the line its tooltip gains, by
// where its state comes from.
extern const wchar_t kFromMachineLine[];
extern const wchar_t kFromLocalGpoLine[];
extern const wchar_t kFromDomainLine[];
// Asked before a click changes such a setting (Yes/No).
extern const wchar_t kAskPolicyLiftText[];
// A click against a domain's Group Policy: not changed here.
extern const wchar_t kPolicyDomainText[];
// When the rights to change it are missing.
extern const wchar_t kPolicyNoRightsText[];
// When a file of the local Group Policy cannot be read or changed; the
// error follows on the next line.
extern const wchar_t kPolicyCannotLiftText[];

}  // namespace kestro
