#include "settings/catalogue.h"

#include <cstring>

namespace kestro {

namespace {

constexpr const char* kExplorerPolicies = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr const char* kSystemPolicies = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
constexpr const char* kUninstallPolicies = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Uninstall";
constexpr const char* kDesktop = "Control Panel\\Desktop";
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
constexpr Setting Plain(const char* control, const char* handler, const char* writer, const char* path,
                        const char* value) {
    return {control, handler, writer, HKCU, path, {value, nullptr, nullptr}, 1, 0, {1, 0, 0}, {0, 0, 0},
            kHkcuDword, kAsGiven, ReadRule::PlainToggle};
}

// A removable-device driver: its handler passes the service start type,
// 4 (disabled) down and 3 (on demand) up.
constexpr Setting Device(const char* control, const char* handler, const char* writer, const char* path) {
    return {control, handler, writer, HKLM, path, {"start", nullptr, nullptr}, 4, 3, {4, 0, 0}, {3, 0, 0},
            kRootedDword, kAsGiven, ReadRule::EqualsDown};
}

// A setting that is not a toggle.
constexpr Setting Other(const char* control, const char* handler, const char* writer, KeyHandle root,
                        const char* path, const char* value, WriteShape shape, ReadRule rule) {
    return {control, handler, writer, root, path, {value, nullptr, nullptr}, 0, 0, {0, 0, 0}, {0, 0, 0},
            shape, kAsGiven, rule};
}

}  // namespace

// clang-format off
const Setting kCatalogue[kSettingCount] = {
    Other("bbSetNumRemDocuments", "bbSetNumRemDocumentsClick", "SetMaxRecentDocs", HKCU, kExplorerPolicies,
          "MaxRecentDocs", kHkcuDword, ReadRule::IntoCount),

    Plain("sbDelLANConnection", "sbDelLANConnectionClick", "SetNoNetworkConnections", kExplorerPolicies, "NoNetworkConnections"),
    Plain("sbDelChangeUser", "sbDelChangeUserClick", "SetStartmenuLogoff", kExplorerPolicies, "StartmenuLogoff"),
    Plain("sbDelFavorites", "sbDelFavoritesClick", "SetNoFavoritesMenu", kExplorerPolicies, "NoFavoritesMenu"),
    Plain("sbDelDocuments", "sbDelDocumentsClick", "SetNoRecentDocsMenu", kExplorerPolicies, "NoRecentDocsMenu"),
    Plain("sbClearResentWhenShoutDownSystem", "sbClearResentWhenShoutDownSystemClick", "SetClearRecentDocsOnExit", kExplorerPolicies, "ClearRecentDocsOnExit"),
    Plain("sbNotRecent", "sbNotRecentClick", "SetNoRecentDocsHistory", kExplorerPolicies, "NoRecentDocsHistory"),
    Plain("sbDelMyPictures", "sbDelMyPicturesClick", "SetNoSMMyPictures", kExplorerPolicies, "NoSMMyPictures"),
    Plain("sbDelTaskBar", "sbDelTaskBarClick", "SetNoSetTaskbar", kExplorerPolicies, "NoSetTaskbar"),
    Plain("sbBanSetupPrinters", "sbBanSetupPrintersClick", "SetNoAddPrinter", kExplorerPolicies, "NoAddPrinter"),
    Plain("sbDelFind", "sbDelFindClick", "SetNoFind", kExplorerPolicies, "NoFind"),
    Plain("sbDelHelp", "sbDelHelpClick", "SetNoSMHelp", kExplorerPolicies, "NoSMHelp"),
    Plain("sbDelDoing", "sbDelDoingClick", "SetNoRun", kExplorerPolicies, "NoRun"),
    Plain("sbDelAllProgramm", "sbDelAllProgrammClick", "SetNoStartMenuMorePrograms", kExplorerPolicies, "NoStartMenuMorePrograms"),
    Plain("sbDelPubmenuInStart", "sbDelPubmenuInStartClick", "SetNoChangeStartMenu", kExplorerPolicies, "NoChangeStartMenu"),
    Plain("sbPrintVerWindows", "sbPrintVerWindowsClick", "SetPaintDesktopVersion", kDesktop, "PaintDesktopVersion"),
    Plain("sbBanInstallUninstallSoft", "sbBanInstallUninstallSoftClick", "SetNoAddRemovePrograms", kUninstallPolicies, "NoAddRemovePrograms"),
    Plain("sbBanMonitor", "sbBanMonitorClick", "SetNoDispCPL", kSystemPolicies, "NoDispCPL"),
    Plain("sbBanTheams", "sbBanTheamsClick", "SetNoThemesTab", kExplorerPolicies, "NoThemesTab"),
    Plain("sbBanFon", "sbBanFonClick", "SetNoDispBackgroundPage", kSystemPolicies, "NoDispBackgroundPage"),
    Plain("sbBanZastavka", "sbBanZastavkaClick", "SetNoDispScrSavPage", kSystemPolicies, "NoDispScrSavPage"),
    Plain("sbBanOformlenie", "sbBanOformlenieClick", "SetNoDispAppearancePage", kSystemPolicies, "NoDispAppearancePage"),
    Plain("sbDelTaskMGR", "sbDelTaskMGRClick", "SetDisableTaskMgr", kSystemPolicies, "DisableTaskMgr"),
    Plain("sbBanRegEdit", "sbBanRegEditClick", "SetDisableRegistryTools", kSystemPolicies, "DisableRegistryTools"),

    // Down turns autorun off: the stored value is the opposite of the state.
    {"sbDelAutorunCDROM", "sbDelAutorunCDROMClick", "SetCdromAutoRun", HKLM,
     "SYSTEM\\CurrentControlSet\\Services\\CDRom", {"AutoRun", nullptr, nullptr},
     1, 0, {0, 0, 0}, {1, 0, 0}, kRootedDword, kByState, ReadRule::DiffersFromUp},
    {"sbFastOpenDir", "sbFastOpenDirClick", "SetNtfsDisableLastAccessUpdate", HKLM,
     "SYSTEM\\CurrentControlSet\\Control\\FileSystem", {"NtfsDisableLastAccessUpdate", nullptr, nullptr},
     1, 0, {1, 0, 0}, {0, 0, 0}, kRootedDword, kAsGiven, ReadRule::DiffersFromUp},
    // A key "DEFAULT" directly below HKEY_CURRENT_USER, not HKEY_USERS\.DEFAULT.
    {"sbClearTypeStyle", "sbClearTypeStyleClick", "SetFontSmoothing", HKCU,
     "DEFAULT\\Control Panel\\Desktop", {"FontSmoothing", "FontSmoothingType", "FontSmoothingOrientation"},
     1, 0, {2, 2, 1}, {0, 0, 0}, kHkcuDword, kByState, ReadRule::EqualsDown},

    // The CD-ROM key is spelt in two ways; key names ignore case, so both
    // rows address one key.
    Device("sbBanCDROM", "sbBanCDROMClick", "SetCdromStart", "system\\currentcontrolset\\services\\cdrom"),
    Device("sbBanFDD", "sbBanFDDClick", "SetFlpydiskStart", "system\\currentcontrolset\\services\\flpydisk"),
    Device("sbBanParallesPort", "sbBanParallesPortClick", "SetParportStart", "system\\currentcontrolset\\services\\parport"),
    Device("sbBanUSB", "sbBanUSBClick", "SetUsbstorStart", "system\\currentcontrolset\\services\\usbstor"),

    Other("bbSetTrashName", "bbSetTrashNameClick", "SetRecycleBinName", HKCR, kRecycleBinClass,
          "LocalizedString", kRootedText, ReadRule::None),
    Other("bbSetTrashTipText", "bbSetTrashTipTextClick", "SetRecycleBinInfoTip", HKCR, kRecycleBinClass,
          "InfoTip", kRootedText, ReadRule::None),
    Other("sbSetWallpaper", "sbSetWallpaperClick", "SetWallpaper", HKCU, kDesktop,
          "Wallpaper", kRootedText, ReadRule::None),
    Other("sbClearSearch", "sbClearSearchClick", "ClearSearchHistory", HKCU, "Software\\Microsoft\\Search Assistant",
          "ACMru", WriteShape::RemoveSubkey, ReadRule::None),
};
// clang-format on

const Setting* FindSettingByControl(const char* control) {
    for (const Setting& row : kCatalogue)
        if (std::strcmp(row.control, control) == 0) return &row;
    return nullptr;
}

}  // namespace kestro
