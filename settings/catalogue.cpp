#include "settings/catalogue.h"

#include "settings/uFunctions.h"

#include <cctype>
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
constexpr Setting Plain(const char* control, const char* handler, const char* writer, void (*write)(std::int32_t),
                        const char* path, const char* value) {
    return {control, handler, writer, write, HKCU, path, {value, nullptr, nullptr}, 1, 0, {1, 0, 0}, {0, 0, 0},
            kHkcuDword, kAsGiven, ReadRule::PlainToggle, value};
}

// A removable-device driver: its handler passes the service start type,
// 4 (disabled) down and 3 (on demand) up.
constexpr Setting Device(const char* control, const char* handler, const char* writer, void (*write)(std::int32_t),
                         const char* path, const char* name) {
    return {control, handler, writer, write, HKLM, path, {"start", nullptr, nullptr}, 4, 3, {4, 0, 0}, {3, 0, 0},
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

constexpr Setting TakesEffect(Setting row, Effect effect) {
    row.effect = effect;
    return row;
}

// A setting that is not a toggle.
constexpr Setting Other(const char* control, const char* handler, const char* writer, void (*write)(std::int32_t),
                        KeyHandle root, const char* path, const char* value, WriteShape shape, ReadRule rule) {
    return {control, handler, writer, write, root, path, {value, nullptr, nullptr}, 0, 0, {0, 0, 0}, {0, 0, 0},
            shape, kAsGiven, rule};
}

}  // namespace

// clang-format off
const Setting kCatalogue[kSettingCount] = {
    Named(Other("bbSetNumRemDocuments", "bbSetNumRemDocumentsClick", "SetMaxRecentDocs", Zfunctions::SetMaxRecentDocs, HKCU, kExplorerPolicies,
                "MaxRecentDocs", kHkcuDword, ReadRule::IntoCount),
          "MaxRecentDocs", Effect::NextLogon, "lbNumRemDocuments"),

    Plain("sbDelLANConnection", "sbDelLANConnectionClick", "SetNoNetworkConnections", Zfunctions::SetNoNetworkConnections, kExplorerPolicies, "NoNetworkConnections"),
    Plain("sbDelChangeUser", "sbDelChangeUserClick", "SetStartmenuLogoff", Zfunctions::SetStartmenuLogoff, kExplorerPolicies, "StartmenuLogoff"),
    Plain("sbDelFavorites", "sbDelFavoritesClick", "SetNoFavoritesMenu", Zfunctions::SetNoFavoritesMenu, kExplorerPolicies, "NoFavoritesMenu"),
    Plain("sbDelDocuments", "sbDelDocumentsClick", "SetNoRecentDocsMenu", Zfunctions::SetNoRecentDocsMenu, kExplorerPolicies, "NoRecentDocsMenu"),
    Plain("sbClearResentWhenShoutDownSystem", "sbClearResentWhenShoutDownSystemClick", "SetClearRecentDocsOnExit", Zfunctions::SetClearRecentDocsOnExit, kExplorerPolicies, "ClearRecentDocsOnExit"),
    Plain("sbNotRecent", "sbNotRecentClick", "SetNoRecentDocsHistory", Zfunctions::SetNoRecentDocsHistory, kExplorerPolicies, "NoRecentDocsHistory"),
    Plain("sbDelMyPictures", "sbDelMyPicturesClick", "SetNoSMMyPictures", Zfunctions::SetNoSMMyPictures, kExplorerPolicies, "NoSMMyPictures"),
    Plain("sbDelTaskBar", "sbDelTaskBarClick", "SetNoSetTaskbar", Zfunctions::SetNoSetTaskbar, kExplorerPolicies, "NoSetTaskbar"),
    Plain("sbBanSetupPrinters", "sbBanSetupPrintersClick", "SetNoAddPrinter", Zfunctions::SetNoAddPrinter, kExplorerPolicies, "NoAddPrinter"),
    Plain("sbDelFind", "sbDelFindClick", "SetNoFind", Zfunctions::SetNoFind, kExplorerPolicies, "NoFind"),
    Plain("sbDelHelp", "sbDelHelpClick", "SetNoSMHelp", Zfunctions::SetNoSMHelp, kExplorerPolicies, "NoSMHelp"),
    Plain("sbDelDoing", "sbDelDoingClick", "SetNoRun", Zfunctions::SetNoRun, kExplorerPolicies, "NoRun"),
    Plain("sbDelAllProgramm", "sbDelAllProgrammClick", "SetNoStartMenuMorePrograms", Zfunctions::SetNoStartMenuMorePrograms, kExplorerPolicies, "NoStartMenuMorePrograms"),
    Plain("sbDelPubmenuInStart", "sbDelPubmenuInStartClick", "SetNoChangeStartMenu", Zfunctions::SetNoChangeStartMenu, kExplorerPolicies, "NoChangeStartMenu"),
    Plain("sbPrintVerWindows", "sbPrintVerWindowsClick", "SetPaintDesktopVersion", Zfunctions::SetPaintDesktopVersion, kDesktop, "PaintDesktopVersion"),
    TakesEffect(Plain("sbBanInstallUninstallSoft", "sbBanInstallUninstallSoftClick", "SetNoAddRemovePrograms", Zfunctions::SetNoAddRemovePrograms, kUninstallPolicies, "NoAddRemovePrograms"), Effect::ProgramStart),
    TakesEffect(Plain("sbBanMonitor", "sbBanMonitorClick", "SetNoDispCPL", Zfunctions::SetNoDispCPL, kSystemPolicies, "NoDispCPL"), Effect::ProgramStart),
    TakesEffect(Plain("sbBanTheams", "sbBanTheamsClick", "SetNoThemesTab", Zfunctions::SetNoThemesTab, kExplorerPolicies, "NoThemesTab"), Effect::ProgramStart),
    TakesEffect(Plain("sbBanFon", "sbBanFonClick", "SetNoDispBackgroundPage", Zfunctions::SetNoDispBackgroundPage, kSystemPolicies, "NoDispBackgroundPage"), Effect::ProgramStart),
    TakesEffect(Plain("sbBanZastavka", "sbBanZastavkaClick", "SetNoDispScrSavPage", Zfunctions::SetNoDispScrSavPage, kSystemPolicies, "NoDispScrSavPage"), Effect::ProgramStart),
    TakesEffect(Plain("sbBanOformlenie", "sbBanOformlenieClick", "SetNoDispAppearancePage", Zfunctions::SetNoDispAppearancePage, kSystemPolicies, "NoDispAppearancePage"), Effect::ProgramStart),
    TakesEffect(Plain("sbDelTaskMGR", "sbDelTaskMGRClick", "SetDisableTaskMgr", Zfunctions::SetDisableTaskMgr, kSystemPolicies, "DisableTaskMgr"), Effect::ProgramStart),
    TakesEffect(Plain("sbBanRegEdit", "sbBanRegEditClick", "SetDisableRegistryTools", Zfunctions::SetDisableRegistryTools, kSystemPolicies, "DisableRegistryTools"), Effect::ProgramStart),

    // Down turns autorun off: the stored value is the opposite of the state.
    {"sbDelAutorunCDROM", "sbDelAutorunCDROMClick", "SetCdromAutoRun", Zfunctions::SetCdromAutoRun, HKLM,
     "SYSTEM\\CurrentControlSet\\Services\\CDRom", {"AutoRun", nullptr, nullptr},
     1, 0, {0, 0, 0}, {1, 0, 0}, kRootedDword, kByState, ReadRule::DiffersFromUp, "CdAutorunOff", Effect::Restart},
    {"sbFastOpenDir", "sbFastOpenDirClick", "SetNtfsDisableLastAccessUpdate", Zfunctions::SetNtfsDisableLastAccessUpdate, HKLM,
     "SYSTEM\\CurrentControlSet\\Control\\FileSystem", {"NtfsDisableLastAccessUpdate", nullptr, nullptr},
     1, 0, {1, 0, 0}, {0, 0, 0}, kRootedDword, kAsGiven, ReadRule::DiffersFromUp, "LastAccessUpdateOff", Effect::Restart},
    // A key "DEFAULT" directly below HKEY_CURRENT_USER, not HKEY_USERS\.DEFAULT.
    {"sbClearTypeStyle", "sbClearTypeStyleClick", "SetFontSmoothing", Zfunctions::SetFontSmoothing, HKCU,
     "DEFAULT\\Control Panel\\Desktop", {"FontSmoothing", "FontSmoothingType", "FontSmoothingOrientation"},
     1, 0, {2, 2, 1}, {0, 0, 0}, kHkcuDword, kByState, ReadRule::EqualsDown, "FontSmoothing", Effect::NextLogon},

    // The CD-ROM key is spelt in two ways; key names ignore case, so both
    // rows address one key.
    Device("sbBanCDROM", "sbBanCDROMClick", "SetCdromStart", Zfunctions::SetCdromStart, "system\\currentcontrolset\\services\\cdrom", "CdromOff"),
    Device("sbBanFDD", "sbBanFDDClick", "SetFlpydiskStart", Zfunctions::SetFlpydiskStart, "system\\currentcontrolset\\services\\flpydisk", "FloppyOff"),
    Device("sbBanParallesPort", "sbBanParallesPortClick", "SetParportStart", Zfunctions::SetParportStart, "system\\currentcontrolset\\services\\parport", "ParallelPortOff"),
    Device("sbBanUSB", "sbBanUSBClick", "SetUsbstorStart", Zfunctions::SetUsbstorStart, "system\\currentcontrolset\\services\\usbstor", "UsbStorageOff"),

    Named(Other("bbSetTrashName", "bbSetTrashNameClick", "SetRecycleBinName", nullptr, HKCR, kRecycleBinClass,
                "LocalizedString", kRootedText, ReadRule::None),
          "RecycleBinName", Effect::NextLogon, "leTrashName"),
    Named(Other("bbSetTrashTipText", "bbSetTrashTipTextClick", "SetRecycleBinInfoTip", nullptr, HKCR, kRecycleBinClass,
                "InfoTip", kRootedText, ReadRule::None),
          "RecycleBinInfoTip", Effect::NextLogon, "leTrashTipText"),
    Named(Other("sbSetWallpaper", "sbSetWallpaperClick", "SetWallpaper", nullptr, HKCU, kDesktop,
                "Wallpaper", kRootedText, ReadRule::None),
          "Wallpaper", Effect::NextLogon),
    Named(Other("sbClearSearch", "sbClearSearchClick", "ClearSearchHistory", nullptr, HKCU, "Software\\Microsoft\\Search Assistant",
                "ACMru", WriteShape::RemoveSubkey, ReadRule::None),
          "SearchHistory", Effect::AtOnce),
};
// clang-format on

const Setting* FindSettingByName(const std::string& name) {
    for (const Setting& row : kCatalogue) {
        const std::size_t length = std::strlen(row.name);
        if (length != name.size()) continue;
        std::size_t i = 0;
        while (i < length && std::tolower(static_cast<unsigned char>(row.name[i])) ==
                                 std::tolower(static_cast<unsigned char>(name[i])))
            ++i;
        if (i == length) return &row;
    }
    return nullptr;
}

const Setting* FindSettingByControl(const char* control) {
    for (const Setting& row : kCatalogue)
        if (std::strcmp(row.control, control) == 0) return &row;
    return nullptr;
}

}  // namespace kestro
