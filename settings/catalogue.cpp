#include "settings/catalogue.h"

#include "registry/system_parameters.h"
#include "core/text.h"

#include <cstring>

namespace kestro {

namespace {

constexpr const char* kExplorerPolicies = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr const char* kSystemPolicies = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
constexpr const char* kUninstallPolicies = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Uninstall";
constexpr const char* kDesktop = kDesktopKeyPath;
constexpr const char* kRecycleBinClass = "CLSID\\{645FF040-5081-101B-9F08-00AA002F954E}";

constexpr KeyHandle HKCU = kHkeyCurrentUser;
constexpr KeyHandle HKLM = kHkeyLocalMachine;
constexpr KeyHandle HKCR = kHkeyClassesRoot;

constexpr WriteShape kHkcuDword = WriteShape::CurrentUserDword;
constexpr WriteShape kRootedDword = WriteShape::RootedDword;
constexpr WriteShape kRootedText = WriteShape::RootedText;

constexpr ValueMapping kAsGiven = ValueMapping::AsGiven;
constexpr ValueMapping kByState = ValueMapping::ByState;

// A plain toggle: one REG_DWORD under HKEY_CURRENT_USER, 1 down, 0 up.
constexpr Setting Plain(const char* control, const char* handler, const char* writer,
                        const char* path, const char* value) {
    return {control, handler, writer, HKCU, path, {value, nullptr, nullptr}, 1, 0, {1, 0, 0}, {0, 0, 0},
            kHkcuDword, kAsGiven, ReadRule::PlainToggle, value};
}

// A removable-device driver: its handler passes the service start type,
// 4 (disabled) down and 3 (on demand) up.
constexpr Setting Device(const char* control, const char* handler, const char* writer,
                         const char* path, const char* name) {
    return {control, handler, writer, HKLM, path, {"start", nullptr, nullptr}, 4, 3, {4, 0, 0}, {3, 0, 0},
            kRootedDword, kAsGiven, ReadRule::EqualsDown, name, Effect::Restart};
}

// A row with its stable name, when it takes effect, and the control whose
// caption names it.
constexpr Setting Named(Setting row, const char* name, Effect effect, const char* captionControl = nullptr) {
    row.name = name;
    row.effect = effect;
    row.captionControl = captionControl;
    return row;
}

// A text setting whose value names a file.
constexpr Setting NamesFile(Setting row) {
    row.namesFile = true;
    return row;
}

// Where Windows reads a shell restriction from. Explorer and the shell's
// dialogs ask SHRestricted, which reads each restriction's value under
// HKEY_LOCAL_MACHINE\<key> first and under HKEY_CURRENT_USER\<key> only
// where the machine has none:
// - ReactOS's API test modules/rostests/apitests/shlwapi/SHGetRestriction.c,
//   written to pass on Windows, sets Policies\Explorer\NoRun in both and
//   expects the machine's whenever it is there (user 0 with machine 1 gives
//   1; user 1 with machine 0 gives 0);
// - ReactOS's dll/win32/shell32/wine/PolicyData.h, the table of SHRestricted
//   (after Microsoft's RESTRICTIONS list and Geoff Chappell's study of
//   shell32), names every row marked here: the Explorer values, the
//   Uninstall key's NoAddRemovePrograms (REST_ARP_NOARP), the System key's
//   NoDispCPL, NoDispBackgroundPage, NoDispScrSavPage and
//   NoDispAppearancePage (REST_NODISPLAYCPL ...), and MaxRecentDocs.
// Task Manager and the registry editor read DisableTaskMgr and
// DisableRegistryTools themselves, not through SHRestricted. No public
// source we could check states their order; lock-out tools and malware
// write both copies (HKEY_LOCAL_MACHINE's as well as the user's), so a
// rescue that showed or lifted only the user's would leave a lock it
// cannot see. They are read machine first like the rest, the cautious
// reading for showing and lifting a lock.
// Group Policy (Microsoft's "Group Policy History Stored in Registry",
// KB 201453, and the Registry.pol format) writes either copy again from its
// User and Machine Registry.pol at every logon and refresh: a value in one
// of them is in force on that side.
constexpr Setting MachineFirst(Setting row) {
    row.sources = SourceOrder::MachineThenUser;
    return row;
}

constexpr Setting TakesEffect(Setting row, Effect effect) {
    row.effect = effect;
    return row;
}

// A setting that is not a toggle.
constexpr Setting Other(const char* control, const char* handler, const char* writer,
                        KeyHandle root, const char* path, const char* value, WriteShape shape, ReadRule rule) {
    return {control, handler, writer, root, path, {value, nullptr, nullptr}, 0, 0, {0, 0, 0}, {0, 0, 0},
            shape, kAsGiven, rule};
}

}  // namespace

// Rows outside the Policies keys (the desktop, the services, the Recycle
// Bin's class, the search history) keep their one source: nothing else
// reads those values in their stead.
// clang-format off
constexpr Setting kCatalogue[kSettingCount] = {
    MachineFirst(Named(Other("bbSetNumRemDocuments", "bbSetNumRemDocumentsClick", "SetMaxRecentDocs", HKCU, kExplorerPolicies,
                             "MaxRecentDocs", kHkcuDword, ReadRule::IntoCount),
                       "MaxRecentDocs", Effect::NextLogon, "lbNumRemDocuments")),

    MachineFirst(Plain("sbDelLANConnection", "sbDelLANConnectionClick", "SetNoNetworkConnections", kExplorerPolicies, "NoNetworkConnections")),
    MachineFirst(Plain("sbDelChangeUser", "sbDelChangeUserClick", "SetStartmenuLogoff", kExplorerPolicies, "StartmenuLogoff")),
    MachineFirst(Plain("sbDelFavorites", "sbDelFavoritesClick", "SetNoFavoritesMenu", kExplorerPolicies, "NoFavoritesMenu")),
    MachineFirst(Plain("sbDelDocuments", "sbDelDocumentsClick", "SetNoRecentDocsMenu", kExplorerPolicies, "NoRecentDocsMenu")),
    MachineFirst(Plain("sbClearResentWhenShoutDownSystem", "sbClearResentWhenShoutDownSystemClick", "SetClearRecentDocsOnExit", kExplorerPolicies, "ClearRecentDocsOnExit")),
    MachineFirst(Plain("sbNotRecent", "sbNotRecentClick", "SetNoRecentDocsHistory", kExplorerPolicies, "NoRecentDocsHistory")),
    MachineFirst(Plain("sbDelMyPictures", "sbDelMyPicturesClick", "SetNoSMMyPictures", kExplorerPolicies, "NoSMMyPictures")),
    MachineFirst(Plain("sbDelTaskBar", "sbDelTaskBarClick", "SetNoSetTaskbar", kExplorerPolicies, "NoSetTaskbar")),
    MachineFirst(Plain("sbBanSetupPrinters", "sbBanSetupPrintersClick", "SetNoAddPrinter", kExplorerPolicies, "NoAddPrinter")),
    MachineFirst(Plain("sbDelFind", "sbDelFindClick", "SetNoFind", kExplorerPolicies, "NoFind")),
    MachineFirst(Plain("sbDelHelp", "sbDelHelpClick", "SetNoSMHelp", kExplorerPolicies, "NoSMHelp")),
    MachineFirst(Plain("sbDelDoing", "sbDelDoingClick", "SetNoRun", kExplorerPolicies, "NoRun")),
    MachineFirst(Plain("sbDelAllProgramm", "sbDelAllProgrammClick", "SetNoStartMenuMorePrograms", kExplorerPolicies, "NoStartMenuMorePrograms")),
    MachineFirst(Plain("sbDelPubmenuInStart", "sbDelPubmenuInStartClick", "SetNoChangeStartMenu", kExplorerPolicies, "NoChangeStartMenu")),
    Plain("sbPrintVerWindows", "sbPrintVerWindowsClick", "SetPaintDesktopVersion", kDesktop, "PaintDesktopVersion"),
    MachineFirst(TakesEffect(Plain("sbBanInstallUninstallSoft", "sbBanInstallUninstallSoftClick", "SetNoAddRemovePrograms", kUninstallPolicies, "NoAddRemovePrograms"), Effect::ProgramStart)),
    MachineFirst(TakesEffect(Plain("sbBanMonitor", "sbBanMonitorClick", "SetNoDispCPL", kSystemPolicies, "NoDispCPL"), Effect::ProgramStart)),
    MachineFirst(TakesEffect(Plain("sbBanTheams", "sbBanTheamsClick", "SetNoThemesTab", kExplorerPolicies, "NoThemesTab"), Effect::ProgramStart)),
    MachineFirst(TakesEffect(Plain("sbBanFon", "sbBanFonClick", "SetNoDispBackgroundPage", kSystemPolicies, "NoDispBackgroundPage"), Effect::ProgramStart)),
    MachineFirst(TakesEffect(Plain("sbBanZastavka", "sbBanZastavkaClick", "SetNoDispScrSavPage", kSystemPolicies, "NoDispScrSavPage"), Effect::ProgramStart)),
    MachineFirst(TakesEffect(Plain("sbBanOformlenie", "sbBanOformlenieClick", "SetNoDispAppearancePage", kSystemPolicies, "NoDispAppearancePage"), Effect::ProgramStart)),
    MachineFirst(TakesEffect(Plain("sbDelTaskMGR", "sbDelTaskMGRClick", "SetDisableTaskMgr", kSystemPolicies, "DisableTaskMgr"), Effect::ProgramStart)),
    MachineFirst(TakesEffect(Plain("sbBanRegEdit", "sbBanRegEditClick", "SetDisableRegistryTools", kSystemPolicies, "DisableRegistryTools"), Effect::ProgramStart)),

    // Down turns autorun off: the stored value is the opposite of the state.
    {"sbDelAutorunCDROM", "sbDelAutorunCDROMClick", "SetCdromAutoRun", HKLM,
     "SYSTEM\\CurrentControlSet\\Services\\CDRom", {"AutoRun", nullptr, nullptr},
     1, 0, {0, 0, 0}, {1, 0, 0}, kRootedDword, kByState, ReadRule::DiffersFromUp, "CdAutorunOff", Effect::Restart},
    {"sbFastOpenDir", "sbFastOpenDirClick", "SetNtfsDisableLastAccessUpdate", HKLM,
     "SYSTEM\\CurrentControlSet\\Control\\FileSystem", {"NtfsDisableLastAccessUpdate", nullptr, nullptr},
     1, 0, {1, 0, 0}, {0, 0, 0}, kRootedDword, kAsGiven, ReadRule::DiffersFromUp, "LastAccessUpdateOff", Effect::Restart},
    // Where and as SystemParametersInfo keeps it: "2" or "0" as text, and
    // when on, ClearType in RGB order.
    {"sbClearTypeStyle", "sbClearTypeStyleClick", "SetFontSmoothing", HKCU,
     kDesktopKeyPath, {kFontSmoothingValue, kFontSmoothingTypeValue, kFontSmoothingOrientationValue},
     1, 0, {2, kFontSmoothingClearType, kFontSmoothingOrientationRgb}, {0, 0, 0}, WriteShape::SystemParameters,
     kByState, ReadRule::FontSmoothing, "FontSmoothing", Effect::AtOnceWhenRunning},

    // The CD-ROM key is spelt in two ways; key names ignore case, so both
    // rows address one key.
    Device("sbBanCDROM", "sbBanCDROMClick", "SetCdromStart", "system\\currentcontrolset\\services\\cdrom", "CdromOff"),
    Device("sbBanFDD", "sbBanFDDClick", "SetFlpydiskStart", "system\\currentcontrolset\\services\\flpydisk", "FloppyOff"),
    Device("sbBanParallesPort", "sbBanParallesPortClick", "SetParportStart", "system\\currentcontrolset\\services\\parport", "ParallelPortOff"),
    Device("sbBanUSB", "sbBanUSBClick", "SetUsbstorStart", "system\\currentcontrolset\\services\\usbstor", "UsbStorageOff"),

    Named(Other("bbSetTrashName", "bbSetTrashNameClick", "SetRecycleBinName", HKCR, kRecycleBinClass,
                "LocalizedString", kRootedText, ReadRule::None),
          "RecycleBinName", Effect::NextLogon, "leTrashName"),
    Named(Other("bbSetTrashTipText", "bbSetTrashTipTextClick", "SetRecycleBinInfoTip", HKCR, kRecycleBinClass,
                "InfoTip", kRootedText, ReadRule::None),
          "RecycleBinInfoTip", Effect::NextLogon, "leTrashTipText"),
    NamesFile(Named(Other("sbSetWallpaper", "sbSetWallpaperClick", "SetWallpaper", HKCU, kDesktop,
                          "Wallpaper", kRootedText, ReadRule::None),
                    "Wallpaper", Effect::NextLogon)),
    Named(Other("sbClearSearch", "sbClearSearchClick", "ClearSearchHistory", HKCU, "Software\\Microsoft\\Search Assistant",
                "ACMru", WriteShape::RemoveSubkey, ReadRule::None),
          "SearchHistory", Effect::AtOnce),
};
// clang-format on

namespace {

// A row left out leaves an empty one at the end, and SettingId then points
// past the row it names.
constexpr bool EveryRowFilled() {
    for (const Setting& row : kCatalogue)
        if (!row.control || !row.name || !row.valueNames[0]) return false;
    return true;
}
static_assert(EveryRowFilled(), "one catalogue row for every SettingId");

}  // namespace

namespace {

using V = WindowsVersion;
constexpr WindowsRange kXpTo11{V::XP, V::Eleven};
constexpr WindowsRange kXpTo7{V::XP, V::Seven};
constexpr WindowsRange kXpTo81{V::XP, V::EightOne};
constexpr WindowsRange kXpOnly{V::XP, V::XP};

// Which Windows reads each row, in SettingId's order. The policies are
// those of Microsoft's Group Policy Settings Reference for Windows and its
// ADMX files (the file and the policy named; "supportedOn" is the oldest
// Windows); where the Start menu of a later Windows has no such item, the
// policy has nothing left to act on there, and the range ends before it
// (Windows 8 and 8.1 have a Start screen, 10 and 11 a Start menu without
// XP's items). The Windows 10 and 11 facts also follow Microsoft's "Policy
// CSP - ADMX_StartMenu" (the Start menu policies Windows 10 and 11 still
// apply), and Microsoft's "Changes to Group Policy settings for Windows 10
// Start" (windows-itpro-docs), whose table names the Start policies that no
// longer work and the Windows that dropped them ("deprecated in Windows 8":
// the range ends at 7).
constexpr WindowsRange kHonouredBy[kSettingCount] = {
    kXpTo11,  // MaxRecentDocs: WindowsExplorer.admx MaxRecentDocs, supportedOn Windows 2000; the Recent Items count
    kXpTo7,   // NoNetworkConnections: StartMenu.admx NoNetworkConnections, Windows 2000; an item of XP-7's Start menu
    kXpTo11,  // StartmenuLogoff: StartMenu.admx StartMenuLogOff, Windows 2000; Sign out on 10 and 11 too (Policy CSP)
    kXpTo7,   // NoFavoritesMenu: StartMenu.admx NoFavoritesMenu, Windows 2000; deprecated in Windows 8 (Changes to...)
    kXpTo7,   // NoRecentDocsMenu: StartMenu.admx NoRecentDocsMenu, Windows 2000; "Remove Recent Items menu from
              // Start Menu" deprecated in Windows 8 (Changes to Group Policy settings for Windows 10 Start)
    kXpTo11,  // ClearRecentDocsOnExit: StartMenu.admx ClearRecentDocsOnExit, Windows 2000; Policy CSP on 10, 11
    kXpTo11,  // NoRecentDocsHistory: StartMenu.admx NoRecentDocsHistory, Windows 2000; the jump lists of 7-11 too
    kXpTo7,   // NoSMMyPictures: StartMenu.admx NoSMMyPictures, supportedOn SUPPORTED_Windows7ToXP; "Remove Pictures
              // icon from Start Menu" deprecated in Windows 8 (Changes to Group Policy settings for Windows 10 Start)
    kXpTo11,  // NoSetTaskbar: StartMenu.admx NoSetTaskbar, Windows 2000; the taskbar settings of every later Windows
    kXpTo11,  // NoAddPrinter: Printing.admx NoAddPrinter, Windows 2000
    kXpTo7,   // NoFind: StartMenu.admx NoFind, Windows 2000; the Search item of XP-7's Start menu
    kXpTo7,   // NoSMHelp: StartMenu.admx NoSMHelp, Windows 2000; "Remove Help menu" deprecated in Windows 8 (same)
    kXpTo81,  // NoRun: StartMenu.admx NoRun, Windows 2000; "Remove Run menu from Start Menu" deprecated in Windows 10
              // (Changes to Group Policy settings for Windows 10 Start)
    kXpTo11,  // NoStartMenuMorePrograms: StartMenu.admx NoMoreProgramsList, supportedOn Windows XP; All apps on 10, 11
    kXpTo7,   // NoChangeStartMenu: StartMenu.admx NoChangeStartMenu, Windows 2000; drag and drop in XP-7's Start menu
    kXpTo11,  // PaintDesktopVersion: Control Panel\Desktop, read by every Windows' desktop (no policy)
    kXpTo11,  // NoAddRemovePrograms: Programs.admx NoAddRemovePrograms (Add or Remove Programs, Programs and Features)
    kXpTo11,  // NoDispCPL: ControlPanelDisplay.admx CPL_Display_Disable, Windows 2000
    kXpTo11,  // NoThemesTab: ControlPanelDisplay.admx CPL_Personalization_NoChangingTheme, supportedOn Windows XP
    kXpTo11,  // NoDispBackgroundPage: ControlPanelDisplay.admx CPL_Personalization_NoDesktopBackgroundUI, Windows 2000
    kXpTo11,  // NoDispScrSavPage: ControlPanelDisplay.admx CPL_Personalization_NoScreenSaverUI, Windows 2000
    kXpTo11,  // NoDispAppearancePage: ControlPanelDisplay.admx CPL_Personalization_NoColorAppearanceUI, Windows 2000
    kXpTo11,  // DisableTaskMgr: CtrlAltDel.admx DisableTaskMgr, Windows 2000
    kXpTo11,  // DisableRegistryTools: System.admx DisableRegedit, Windows 2000
    kXpTo11,  // CdAutorunOff: the CD-ROM class driver's AutoRun value (media change notification), every NT
    kXpTo11,  // LastAccessUpdateOff: NtfsDisableLastAccessUpdate, read by NTFS (fsutil behavior) on every NT
    kXpTo11,  // FontSmoothing: SPI_SETFONTSMOOTHING's values in Control Panel\Desktop, every Windows since XP
    kXpTo11,  // CdromOff: the cdrom service's Start value, every NT
    kXpTo11,  // FloppyOff: the flpydisk service's Start value, every NT
    kXpTo11,  // ParallelPortOff: the parport service's Start value, every NT
    kXpTo11,  // UsbStorageOff: the USBSTOR service's Start value (Microsoft's "disable USB storage" advice), every NT
    kXpTo11,  // RecycleBinName: the Recycle Bin class's LocalizedString, read by every shell since XP
    kXpTo11,  // RecycleBinInfoTip: the class's InfoTip, read by every shell since XP
    kXpTo11,  // Wallpaper: Control Panel\Desktop Wallpaper, read at logon by every Windows
    kXpOnly,  // SearchHistory: XP's Search Assistant keeps ACMru; Vista replaced the assistant
};

// Where Windows' templates cover a row, in SettingId's order: the policy
// that writes the same value (the Wallpaper policy writes its own value
// under Policies\System, which Windows reads before the user's).
constexpr const char* kBuiltInPolicy[kSettingCount] = {
    "WindowsExplorer.admx MaxRecentDocs", "StartMenu.admx NoNetworkConnections", "StartMenu.admx StartMenuLogOff",
    "StartMenu.admx NoFavoritesMenu", "StartMenu.admx NoRecentDocsMenu", "StartMenu.admx ClearRecentDocsOnExit",
    "StartMenu.admx NoRecentDocsHistory", "StartMenu.admx NoSMMyPictures", "StartMenu.admx NoSetTaskbar",
    "Printing.admx NoAddPrinter", "StartMenu.admx NoFind", "StartMenu.admx NoSMHelp", "StartMenu.admx NoRun",
    "StartMenu.admx NoMoreProgramsList", "StartMenu.admx NoChangeStartMenu",
    nullptr,  // PaintDesktopVersion
    "Programs.admx NoAddRemovePrograms", "ControlPanelDisplay.admx CPL_Display_Disable",
    "ControlPanelDisplay.admx CPL_Personalization_NoChangingTheme",
    "ControlPanelDisplay.admx CPL_Personalization_NoDesktopBackgroundUI",
    "ControlPanelDisplay.admx CPL_Personalization_NoScreenSaverUI",
    "ControlPanelDisplay.admx CPL_Personalization_NoColorAppearanceUI", "CtrlAltDel.admx DisableTaskMgr",
    "System.admx DisableRegedit",
    nullptr, nullptr, nullptr,            // CdAutorunOff, LastAccessUpdateOff, FontSmoothing
    nullptr, nullptr, nullptr, nullptr,   // CdromOff, FloppyOff, ParallelPortOff, UsbStorageOff
    nullptr, nullptr,                     // RecycleBinName, RecycleBinInfoTip
    "Desktop.admx Wallpaper",
    nullptr,  // SearchHistory: an action, not a setting
};

}  // namespace

const char* BuiltInPolicy(const Setting& row) { return kBuiltInPolicy[static_cast<std::size_t>(&row - kCatalogue)]; }

WindowsRange HonouredBy(const Setting& row) { return kHonouredBy[static_cast<std::size_t>(&row - kCatalogue)]; }

const char* WindowsVersionName(WindowsVersion version) {
    switch (version) {
        case WindowsVersion::XP: return "XP";
        case WindowsVersion::Vista: return "Vista";
        case WindowsVersion::Seven: return "7";
        case WindowsVersion::EightOne: return "8.1";
        case WindowsVersion::Ten: return "10";
        case WindowsVersion::Eleven: return "11";
    }
    return "";
}

std::string WindowsRangeText(WindowsRange range) {
    if (range.first == range.last) return WindowsVersionName(range.first);
    return std::string(WindowsVersionName(range.first)) + "\u2013" + WindowsVersionName(range.last);
}

const Setting* FindSettingByName(const std::string& name) {
    for (const Setting& row : kCatalogue)
        if (SameAsciiNoCase(row.name, name)) return &row;
    return nullptr;
}

const Setting* FindSettingByControl(const char* control) {
    for (const Setting& row : kCatalogue)
        if (std::strcmp(row.control, control) == 0) return &row;
    return nullptr;
}

}  // namespace kestro
