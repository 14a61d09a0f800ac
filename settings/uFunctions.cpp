#include "settings/uFunctions.h"

#include "core/bytes.h"
#include "core/environment.h"
#include "core/localized.h"
#include "core/text.h"
#include "settings/catalogue.h"

#include <memory>
#include <vector>

namespace kestro {

// ---------------------------------------------------------------- cursor

std::string FailedToGetMessage(const std::string& valueName) {
    return Localized("Failed to get data for '%1'", valueName);
}
std::string InvalidDataTypeMessage(const std::string& valueName) {
    return Localized("Invalid data type for '%1'", valueName);
}
std::string FailedToSetMessage(const std::string& valueName) {
    return Localized("Failed to set data for '%1'", valueName);
}

RegistryCursor::RegistryCursor() : RegistryCursor(ActiveRegistryStore()) {}

RegistryCursor::RegistryCursor(RegistryStore& store) : store_(store) {}

RegistryCursor::~RegistryCursor() { LeaveKey(); }

void RegistryCursor::SelectRoot(KeyHandle root) {
    if (root == root_) return;
    LeaveKey();
    root_ = root;
    stranded_ = false;
}

void RegistryCursor::Strand() {
    LeaveKey();
    stranded_ = true;
}

bool RegistryCursor::EnterKey(const std::string& name) { return Enter(name, false); }

bool RegistryCursor::EnterKeyForReading(const std::string& name) { return Enter(name, true); }

bool RegistryCursor::Enter(const std::string& name, bool readOnlyFallback) {
    if (stranded_) return false;
    KeyHandle key = 0;
    // An empty name cannot be created; opening it gives a new handle on the
    // base itself, so the walk stays where it is.
    RegResult rc = name.empty() ? store_.OpenKey(Base(), name, kWriteAccess, &key)
                                : store_.CreateKey(Base(), name, kWriteAccess, &key);
    if (rc != kErrorSuccess && readOnlyFallback) rc = store_.OpenKey(Base(), name, kReadAccess, &key);
    if (rc != kErrorSuccess) return false;
    // The new key was opened through the old handle: close that only now.
    openKey_ = UniqueKey(store_, key);
    return true;
}

bool RegistryCursor::HasValue(const std::string& name) {
    if (!openKey_) return false;
    std::uint32_t type = 0, size = 0;
    return store_.QueryValue(openKey_.Get(), name, &type, nullptr, &size) == kErrorSuccess;
}

std::int32_t RegistryCursor::GetDword(const std::string& name) {
    std::uint8_t data[4] = {};
    std::uint32_t type = 0;
    std::uint32_t size = sizeof data;
    if (!openKey_ || store_.QueryValue(openKey_.Get(), name, &type, data, &size) != kErrorSuccess)
        throw ERegistryException(FailedToGetMessage(name));
    if (type != kRegDword) throw ERegistryException(InvalidDataTypeMessage(name));
    return static_cast<std::int32_t>(LoadLe32(data));
}

void RegistryCursor::PutDword(const std::string& name, std::int32_t value) {
    std::uint8_t data[4];
    StoreLe32(data, static_cast<std::uint32_t>(value));
    if (!openKey_ || store_.SetValue(openKey_.Get(), name, kRegDword, data, sizeof data) != kErrorSuccess)
        throw ERegistryException(FailedToSetMessage(name));
}

void RegistryCursor::PutText(const std::string& name, const std::string& text) {
    // The text and its terminating zero, as UTF-16LE.
    const std::u16string wide = Utf8ToUtf16(text);
    std::vector<std::uint8_t> data((wide.size() + 1) * 2, 0);
    for (std::size_t i = 0; i < wide.size(); ++i) StoreLe16(&data[2 * i], wide[i]);
    if (!openKey_ || store_.SetValueW(openKey_.Get(), name, kRegSz, data.data(),
                                      static_cast<std::uint32_t>(data.size())) != kErrorSuccess)
        throw ERegistryException(FailedToSetMessage(name));
}

// The window's own delete, not registry/key_tree's: it goes as far as it
// can (a sub-key that cannot go does not keep the others), with the cursor
// standing on each key in turn, and answers only whether the named key
// went; DeleteKeyTree reads the whole tree first and stops at the first
// failure, as putting it back needs.
bool RegistryCursor::RemoveKeyTree(const std::string& name) {
    if (stranded_) return false;
    KeyHandle key = 0;
    if (store_.OpenKey(Base(), name, kWriteAccess, &key) == kErrorSuccess) {
        // Stand on the named key while its sub-keys go; the previous key
        // comes back, and the named key's handle is closed, on every path.
        struct Restore {
            UniqueKey& slot;
            UniqueKey saved;
            ~Restore() { slot = std::move(saved); }
        } restore{openKey_, std::move(openKey_)};
        openKey_ = UniqueKey(store_, key);

        std::uint32_t count = 0, longest = 0;
        if (store_.QueryInfoKey(openKey_.Get(), &count, &longest) == kErrorSuccess) {
            std::vector<char> buffer(static_cast<std::size_t>(longest) + 1);
            for (std::uint32_t i = count; i-- > 0;) {
                std::uint32_t length = static_cast<std::uint32_t>(buffer.size());
                if (store_.EnumKey(openKey_.Get(), i, buffer.data(), &length) == kErrorSuccess)
                    RemoveKeyTree(std::string(buffer.data(), length));
            }
        }
    }
    return store_.DeleteKey(Base(), name) == kErrorSuccess;
}

void RegistryCursor::LeaveKey() { openKey_.Reset(); }

// ---------------------------------------------------------------- helpers

namespace {

void WalkKeyPath(RegistryCursor& cursor, const std::string& keyPath, bool forReading) {
    // Every backslash separates two names, so a leading, trailing or doubled
    // one gives an empty name, which stays on the current key. A level that
    // cannot be opened or created ends the walk with the cursor stranded:
    // the operation that follows must not act on the key above it.
    std::size_t start = 0;
    for (;;) {
        std::size_t end = keyPath.find('\\', start);
        std::string name = keyPath.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!(forReading ? cursor.EnterKeyForReading(name) : cursor.EnterKey(name))) {
            cursor.Strand();
            return;
        }
        if (end == std::string::npos) return;
        start = end + 1;
    }
}

}  // namespace

void Zfunctions::OpenKeyPath(RegistryCursor& cursor, const std::string& keyPath) {
    WalkKeyPath(cursor, keyPath, false);
}

void Zfunctions::OpenKeyPathForReading(RegistryCursor& cursor, const std::string& keyPath) {
    WalkKeyPath(cursor, keyPath, true);
}

std::int32_t Zfunctions::ReadDwordValueAt(const std::string& keyPath, const std::string& valueName,
                                          KeyHandle root) {
    RegistryCursor cursor;
    cursor.SelectRoot(root);
    OpenKeyPathForReading(cursor, keyPath);
    return cursor.HasValue(valueName) ? cursor.GetDword(valueName) : 0;
}

std::int32_t Zfunctions::ReadDwordValue(const std::string& keyPath, const std::string& valueName) {
    return ReadDwordValueAt(keyPath, valueName, kHkeyCurrentUser);
}

void Zfunctions::WriteDwordValue(const std::string& keyPath, const std::string& valueName, std::int32_t value) {
    RegistryCursor cursor;
    OpenKeyPath(cursor, keyPath);
    cursor.PutDword(valueName, value);
}

void Zfunctions::SyncButtonFromDwordValue(const std::string& keyPath, const std::string& valueName,
                                          IToggle& toggle) {
    toggle.SetDown(ReadDwordValue(keyPath, valueName) == 1);
}

// ---------------------------------------------------------------- writers

namespace {

std::int32_t StoredValue(const Setting& row, std::size_t i, std::int32_t argument) {
    if (row.mapping == ValueMapping::AsGiven) return argument;
    return argument == 1 ? row.down[i] : row.up[i];
}

void WriteFontSmoothing(const Setting& row, std::int32_t argument) {
    const std::unique_ptr<SystemParameters> parameters = ActiveRegistryStore().OpenSystemParameters();
    const bool on = argument == 1;
    if (!parameters->SetFontSmoothing(on)) throw ERegistryException(FailedToSetMessage(row.valueNames[0]));
    if (!on) return;
    if (!parameters->SetFontSmoothingType(kFontSmoothingClearType))
        throw ERegistryException(FailedToSetMessage(row.valueNames[1]));
    // Windows XP before Service Pack 2 knows no orientation, and draws
    // ClearType in RGB order without it.
    parameters->SetFontSmoothingOrientation(kFontSmoothingOrientationRgb);
}

}  // namespace

SystemParameters::Read Zfunctions::ReadFontSmoothing(SystemParameters& parameters, bool* down, const char** value) {
    *down = false;
    bool on = false;
    *value = kFontSmoothingValue;
    SystemParameters::Read read = parameters.GetFontSmoothing(&on);
    if (read != SystemParameters::Read::Ok || !on) return read;
    std::uint32_t type = 0;
    *value = kFontSmoothingTypeValue;
    read = parameters.GetFontSmoothingType(&type);
    *down = read == SystemParameters::Read::Ok && type == kFontSmoothingClearType;
    return read;
}

void Zfunctions::WriteSetting(const Setting& row, const SettingArgument& argument) {
    if (row.shape == WriteShape::SystemParameters) {
        WriteFontSmoothing(row, argument.number);
        return;
    }
    if (row.shape == WriteShape::CurrentUserDword) {
        // One cursor per value: a failure stops the writes after it.
        for (std::size_t i = 0; i < row.ValueCount(); ++i)
            WriteDwordValue(row.keyPath, row.valueNames[i], StoredValue(row, i, argument.number));
        return;
    }
    RegistryCursor cursor;
    cursor.SelectRoot(row.root);
    OpenKeyPath(cursor, row.keyPath);
    switch (row.shape) {
        case WriteShape::CurrentUserDword:
        case WriteShape::SystemParameters:
            break;
        case WriteShape::RootedDword:
            cursor.PutDword(row.valueNames[0], StoredValue(row, 0, argument.number));
            break;
        case WriteShape::RootedText:
            cursor.PutText(row.valueNames[0], argument.text);
            break;
        case WriteShape::RemoveSubkey:
            // An absent history and a failed deletion are both silent.
            cursor.RemoveKeyTree(row.valueNames[0]);
            break;
    }
}

// The named writers: each hands its argument to the one writer with its row.
namespace {

void Write(SettingId id, std::int32_t argument) {
    Zfunctions::WriteSetting(CatalogueRow(id), SettingArgument::Number(argument));
}

void Write(SettingId id, const std::string& text) {
    Zfunctions::WriteSetting(CatalogueRow(id), SettingArgument::Text(text));
}

}  // namespace

void Zfunctions::SetMaxRecentDocs(std::int32_t count) { Write(SettingId::MaxRecentDocs, count); }
void Zfunctions::SetNoNetworkConnections(std::int32_t state) { Write(SettingId::NoNetworkConnections, state); }
void Zfunctions::SetStartmenuLogoff(std::int32_t state) { Write(SettingId::StartmenuLogoff, state); }
void Zfunctions::SetNoFavoritesMenu(std::int32_t state) { Write(SettingId::NoFavoritesMenu, state); }
void Zfunctions::SetNoRecentDocsMenu(std::int32_t state) { Write(SettingId::NoRecentDocsMenu, state); }
void Zfunctions::SetClearRecentDocsOnExit(std::int32_t state) { Write(SettingId::ClearRecentDocsOnExit, state); }
void Zfunctions::SetNoRecentDocsHistory(std::int32_t state) { Write(SettingId::NoRecentDocsHistory, state); }
void Zfunctions::SetNoSMMyPictures(std::int32_t state) { Write(SettingId::NoSMMyPictures, state); }
void Zfunctions::SetNoSetTaskbar(std::int32_t state) { Write(SettingId::NoSetTaskbar, state); }
void Zfunctions::SetNoAddPrinter(std::int32_t state) { Write(SettingId::NoAddPrinter, state); }
void Zfunctions::SetNoFind(std::int32_t state) { Write(SettingId::NoFind, state); }
void Zfunctions::SetNoSMHelp(std::int32_t state) { Write(SettingId::NoSMHelp, state); }
void Zfunctions::SetNoRun(std::int32_t state) { Write(SettingId::NoRun, state); }
void Zfunctions::SetNoStartMenuMorePrograms(std::int32_t state) { Write(SettingId::NoStartMenuMorePrograms, state); }
void Zfunctions::SetNoChangeStartMenu(std::int32_t state) { Write(SettingId::NoChangeStartMenu, state); }
void Zfunctions::SetPaintDesktopVersion(std::int32_t state) { Write(SettingId::PaintDesktopVersion, state); }
void Zfunctions::SetNoAddRemovePrograms(std::int32_t state) { Write(SettingId::NoAddRemovePrograms, state); }
void Zfunctions::SetNoDispCPL(std::int32_t state) { Write(SettingId::NoDispCPL, state); }
void Zfunctions::SetNoThemesTab(std::int32_t state) { Write(SettingId::NoThemesTab, state); }
void Zfunctions::SetNoDispBackgroundPage(std::int32_t state) { Write(SettingId::NoDispBackgroundPage, state); }
void Zfunctions::SetNoDispScrSavPage(std::int32_t state) { Write(SettingId::NoDispScrSavPage, state); }
void Zfunctions::SetNoDispAppearancePage(std::int32_t state) { Write(SettingId::NoDispAppearancePage, state); }
void Zfunctions::SetDisableTaskMgr(std::int32_t state) { Write(SettingId::DisableTaskMgr, state); }
void Zfunctions::SetDisableRegistryTools(std::int32_t state) { Write(SettingId::DisableRegistryTools, state); }
void Zfunctions::SetCdromAutoRun(std::int32_t state) { Write(SettingId::CdromAutoRun, state); }
void Zfunctions::SetNtfsDisableLastAccessUpdate(std::int32_t state) { Write(SettingId::NtfsDisableLastAccessUpdate, state); }
void Zfunctions::SetFontSmoothing(std::int32_t state) { Write(SettingId::FontSmoothing, state); }
void Zfunctions::SetCdromStart(std::int32_t startType) { Write(SettingId::CdromStart, startType); }
void Zfunctions::SetFlpydiskStart(std::int32_t startType) { Write(SettingId::FlpydiskStart, startType); }
void Zfunctions::SetParportStart(std::int32_t startType) { Write(SettingId::ParportStart, startType); }
void Zfunctions::SetUsbstorStart(std::int32_t startType) { Write(SettingId::UsbstorStart, startType); }
void Zfunctions::SetRecycleBinName(const std::string& text) { Write(SettingId::RecycleBinName, text); }
void Zfunctions::SetRecycleBinInfoTip(const std::string& text) { Write(SettingId::RecycleBinInfoTip, text); }
void Zfunctions::SetWallpaper(const std::string& path) { Write(SettingId::Wallpaper, path); }
void Zfunctions::ClearSearchHistory() { WriteSetting(CatalogueRow(SettingId::SearchHistory), SettingArgument::None()); }

std::string Zfunctions::GetWindowsDir() { return ExpandEnvironment("%windir%"); }
std::string Zfunctions::GetTempDir() { return ExpandEnvironment("%TEMP%"); }

}  // namespace kestro
