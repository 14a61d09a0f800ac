// The fixed list of settings the program switches: one row per setting,
// in the order the start-up read-back goes through them.
#pragma once

#include "registry/registry_store.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestro {

// How the writer stores its argument.
enum class WriteShape {
    CurrentUserDword,  // WriteDwordValue under HKEY_CURRENT_USER, one call per value
    RootedDword,       // own cursor, explicit root, PutDword
    RootedText,        // own cursor, explicit root, PutText
    RemoveSubkey,      // own cursor, RemoveKeyTree of the value name
    // Through the store's system parameters (SystemParametersInfo on a
    // running Windows): font smoothing, on or off; the value names say
    // where Windows keeps it.
    SystemParameters,
};

// What the writer makes of its argument.
enum class ValueMapping {
    AsGiven,  // stored unchanged
    ByState,  // 1 stores the "down" values, anything else the "up" values
};

// When the start-up read-back shows the control down.
enum class ReadRule {
    None,           // not read back
    IntoCount,      // the number goes into the recent-documents spin edit
    PlainToggle,    // down exactly when the value is 1 (SyncButtonFromDwordValue)
    EqualsDown,     // down when every value equals its "down" value; stops at the first that differs
    DiffersFromUp,  // down when the value is not its "up" value
    FontSmoothing,  // down when the system parameters say on and ClearType
};

// When Windows acts on a stored value.
enum class Effect {
    AtOnce,        // the next time anything looks
    ProgramStart,  // at the next start of the program concerned
    NextLogon,     // at the next logon
    Restart,       // after a restart of Windows
    AtOnceWhenRunning,  // at once on a running Windows; at the next logon when written to its files
};

// Where Windows reads a setting from, in its order (settings/catalogue.cpp
// gives the public source of each row's).
enum class SourceOrder {
    Own,              // the row's own value, and nothing else
    MachineThenUser,  // the same value under HKEY_LOCAL_MACHINE when it is there, else the user's;
                      // Group Policy's Registry.pol files write either copy again at every refresh
};

struct Setting {
    const char* control;   // main-window control whose click stores it
    const char* handler;   // the control's click handler
    const char* writer;    // the Zfunctions operation that stores it
    KeyHandle root;
    const char* keyPath;
    const char* valueNames[3];  // unused entries are null
    std::int32_t argDown;       // what the handler passes for a toggle put down...
    std::int32_t argUp;         // ...and put up
    std::int32_t down[3];       // what is stored when down...
    std::int32_t up[3];         // ...and when up
    WriteShape shape;
    ValueMapping mapping;
    ReadRule readBack;
    // The stable English name the console tool and its profiles use: for a
    // toggle it says what "on" (the toggle down) means.
    const char* name = nullptr;
    Effect effect = Effect::NextLogon;
    // The control whose caption names the setting in the window, when that
    // is not `control` (a "Установить" button says nothing by itself).
    const char* captionControl = nullptr;
    // A text that names a file (the wallpaper): it must name an existing
    // file of the Windows it is written to, and is stored as a full path.
    bool namesFile = false;
    // Where Windows reads it from besides the row's own value.
    SourceOrder sources = SourceOrder::Own;

    // Keys outside HKEY_CURRENT_USER belong to the machine and need an
    // administrator.
    bool IsMachineWide() const { return root != kHkeyCurrentUser; }
    // Windows reads a copy of it under HKEY_LOCAL_MACHINE first.
    bool HasMachineCopy() const { return sources == SourceOrder::MachineThenUser; }
    const char* CaptionControl() const { return captionControl ? captionControl : control; }
    // Settings that hold a value rather than an action.
    bool HasState() const { return shape != WriteShape::RemoveSubkey; }

    std::size_t ValueCount() const {
        std::size_t n = 0;
        while (n < 3 && valueNames[n]) ++n;
        return n;
    }
    bool IsToggle() const { return readBack != ReadRule::None && readBack != ReadRule::IntoCount; }
    // What the toggle's click handler passes to the writer.
    std::int32_t HandlerArgument(bool down) const { return down ? argDown : argUp; }
};

enum class SettingId : std::size_t {
    MaxRecentDocs,
    NoNetworkConnections, StartmenuLogoff, NoFavoritesMenu, NoRecentDocsMenu, ClearRecentDocsOnExit,
    NoRecentDocsHistory, NoSMMyPictures, NoSetTaskbar, NoAddPrinter, NoFind, NoSMHelp, NoRun,
    NoStartMenuMorePrograms, NoChangeStartMenu, PaintDesktopVersion, NoAddRemovePrograms, NoDispCPL,
    NoThemesTab, NoDispBackgroundPage, NoDispScrSavPage, NoDispAppearancePage, DisableTaskMgr,
    DisableRegistryTools,
    CdromAutoRun, NtfsDisableLastAccessUpdate, FontSmoothing,
    CdromStart, FlpydiskStart, ParportStart, UsbstorStart,
    RecycleBinName, RecycleBinInfoTip, Wallpaper, SearchHistory,
    Count
};

constexpr std::size_t kSettingCount = static_cast<std::size_t>(SettingId::Count);

extern const Setting kCatalogue[kSettingCount];

inline const Setting& CatalogueRow(SettingId id) { return kCatalogue[static_cast<std::size_t>(id)]; }

// The Windows versions a setting can concern, oldest first (Windows 8 is
// taken with 8.1: its shell reads what 8.1's does).
enum class WindowsVersion : std::uint8_t { XP, Vista, Seven, EightOne, Ten, Eleven };

// The versions, from first to last, whose shell or system reads a setting.
struct WindowsRange {
    WindowsVersion first;
    WindowsVersion last;
    bool Includes(WindowsVersion version) const { return first <= version && version <= last; }
};

// Which Windows honours the row (settings/catalogue.cpp says where each
// fact is published).
WindowsRange HonouredBy(const Setting& row);

// "XP", "Vista", "7", "8.1", "10", "11".
const char* WindowsVersionName(WindowsVersion version);

// A range as the WINDOWS column shows it: "XP", "XP–7", "XP–11".
std::string WindowsRangeText(WindowsRange range);

// The policy of Windows' own administrative templates for the row
// ("StartMenu.admx NoRun"), or null when they have none: those rows are in
// Kestro's own template (kestroctl export admx).
const char* BuiltInPolicy(const Setting& row);

// The row whose control has this name, or null.
const Setting* FindSettingByControl(const char* control);

// The row of this stable name, in any letter case, or null.
const Setting* FindSettingByName(const std::string& name);

// The toggle state that stored values give, by the row's read-back rule:
// `read(i)` gives the row's i-th value (0 when absent), and is not called
// for values after the first that decides.
template <typename Read>
bool IsDownFromValues(const Setting& row, Read&& read) {
    if (row.readBack == ReadRule::DiffersFromUp) return read(std::size_t{0}) != row.up[0];
    for (std::size_t i = 0; i < row.ValueCount(); ++i)
        if (read(i) != row.down[i]) return false;
    return true;
}

}  // namespace kestro
