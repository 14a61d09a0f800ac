#include "settings/uFunctions.h"

#include "platform/environment.h"
#include "platform/text.h"
#include "settings/catalogue.h"

#include <vector>

namespace kestro {

// ---------------------------------------------------------------- cursor

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
    RegResult rc = name.empty() ? store_.OpenKey(Base(), name, kAccess, &key)
                                : store_.CreateKey(Base(), name, kAccess, &key);
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
        throw ERegistryException("Failed to get data for '" + name + "'");
    if (type != kRegDword) throw ERegistryException("Invalid data type for '" + name + "'");
    std::uint32_t value = static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
                          static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24;
    return static_cast<std::int32_t>(value);
}

void RegistryCursor::PutDword(const std::string& name, std::int32_t value) {
    std::uint32_t bits = static_cast<std::uint32_t>(value);
    const std::uint8_t data[4] = {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
                                  static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 24)};
    if (!openKey_ || store_.SetValue(openKey_.Get(), name, kRegDword, data, sizeof data) != kErrorSuccess)
        throw ERegistryException("Failed to set data for '" + name + "'");
}

void RegistryCursor::PutText(const std::string& name, const std::string& text) {
    // The text and its terminating zero, as UTF-16LE.
    const std::u16string wide = Utf8ToUtf16(text);
    std::vector<std::uint8_t> data;
    data.reserve((wide.size() + 1) * 2);
    for (char16_t c : wide) {
        data.push_back(static_cast<std::uint8_t>(c & 0xFF));
        data.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    data.push_back(0);
    data.push_back(0);
    if (!openKey_ || store_.SetValueW(openKey_.Get(), name, kRegSz, data.data(),
                                      static_cast<std::uint32_t>(data.size())) != kErrorSuccess)
        throw ERegistryException("Failed to set data for '" + name + "'");
}

bool RegistryCursor::RemoveKeyTree(const std::string& name) {
    if (stranded_) return false;
    KeyHandle key = 0;
    if (store_.OpenKey(Base(), name, kAccess, &key) == kErrorSuccess) {
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

void WriteNumber(SettingId id, std::int32_t argument) {
    const Setting& row = CatalogueRow(id);
    if (row.shape == WriteShape::CurrentUserDword) {
        // One cursor per value: a failure stops the writes after it.
        for (std::size_t i = 0; i < row.ValueCount(); ++i)
            Zfunctions::WriteDwordValue(row.keyPath, row.valueNames[i], StoredValue(row, i, argument));
        return;
    }
    RegistryCursor cursor;
    cursor.SelectRoot(row.root);
    Zfunctions::OpenKeyPath(cursor, row.keyPath);
    cursor.PutDword(row.valueNames[0], StoredValue(row, 0, argument));
}

void WriteText(SettingId id, const std::string& text) {
    const Setting& row = CatalogueRow(id);
    RegistryCursor cursor;
    cursor.SelectRoot(row.root);
    Zfunctions::OpenKeyPath(cursor, row.keyPath);
    cursor.PutText(row.valueNames[0], text);
}

}  // namespace

#define KESTRO_NUMBER_WRITER(Writer, Id) \
    void Zfunctions::Writer(std::int32_t argument) { WriteNumber(SettingId::Id, argument); }

KESTRO_NUMBER_WRITER(SetMaxRecentDocs, MaxRecentDocs)
KESTRO_NUMBER_WRITER(SetNoNetworkConnections, NoNetworkConnections)
KESTRO_NUMBER_WRITER(SetStartmenuLogoff, StartmenuLogoff)
KESTRO_NUMBER_WRITER(SetNoFavoritesMenu, NoFavoritesMenu)
KESTRO_NUMBER_WRITER(SetNoRecentDocsMenu, NoRecentDocsMenu)
KESTRO_NUMBER_WRITER(SetClearRecentDocsOnExit, ClearRecentDocsOnExit)
KESTRO_NUMBER_WRITER(SetNoRecentDocsHistory, NoRecentDocsHistory)
KESTRO_NUMBER_WRITER(SetNoSMMyPictures, NoSMMyPictures)
KESTRO_NUMBER_WRITER(SetNoSetTaskbar, NoSetTaskbar)
KESTRO_NUMBER_WRITER(SetNoAddPrinter, NoAddPrinter)
KESTRO_NUMBER_WRITER(SetNoFind, NoFind)
KESTRO_NUMBER_WRITER(SetNoSMHelp, NoSMHelp)
KESTRO_NUMBER_WRITER(SetNoRun, NoRun)
KESTRO_NUMBER_WRITER(SetNoStartMenuMorePrograms, NoStartMenuMorePrograms)
KESTRO_NUMBER_WRITER(SetNoChangeStartMenu, NoChangeStartMenu)
KESTRO_NUMBER_WRITER(SetPaintDesktopVersion, PaintDesktopVersion)
KESTRO_NUMBER_WRITER(SetNoAddRemovePrograms, NoAddRemovePrograms)
KESTRO_NUMBER_WRITER(SetNoDispCPL, NoDispCPL)
KESTRO_NUMBER_WRITER(SetNoThemesTab, NoThemesTab)
KESTRO_NUMBER_WRITER(SetNoDispBackgroundPage, NoDispBackgroundPage)
KESTRO_NUMBER_WRITER(SetNoDispScrSavPage, NoDispScrSavPage)
KESTRO_NUMBER_WRITER(SetNoDispAppearancePage, NoDispAppearancePage)
KESTRO_NUMBER_WRITER(SetDisableTaskMgr, DisableTaskMgr)
KESTRO_NUMBER_WRITER(SetDisableRegistryTools, DisableRegistryTools)
KESTRO_NUMBER_WRITER(SetCdromAutoRun, CdromAutoRun)
KESTRO_NUMBER_WRITER(SetNtfsDisableLastAccessUpdate, NtfsDisableLastAccessUpdate)
KESTRO_NUMBER_WRITER(SetFontSmoothing, FontSmoothing)
KESTRO_NUMBER_WRITER(SetCdromStart, CdromStart)
KESTRO_NUMBER_WRITER(SetFlpydiskStart, FlpydiskStart)
KESTRO_NUMBER_WRITER(SetParportStart, ParportStart)
KESTRO_NUMBER_WRITER(SetUsbstorStart, UsbstorStart)

#undef KESTRO_NUMBER_WRITER

void Zfunctions::SetRecycleBinName(const std::string& text) { WriteText(SettingId::RecycleBinName, text); }
void Zfunctions::SetRecycleBinInfoTip(const std::string& text) { WriteText(SettingId::RecycleBinInfoTip, text); }
void Zfunctions::SetWallpaper(const std::string& path) { WriteText(SettingId::Wallpaper, path); }

void Zfunctions::ClearSearchHistory() {
    const Setting& row = CatalogueRow(SettingId::SearchHistory);
    RegistryCursor cursor;
    OpenKeyPath(cursor, row.keyPath);
    // An absent history and a failed deletion are both silent.
    cursor.RemoveKeyTree(row.valueNames[0]);
}

std::string Zfunctions::GetWindowsDir() { return ExpandEnvironment("%windir%"); }
std::string Zfunctions::GetTempDir() { return ExpandEnvironment("%TEMP%"); }

}  // namespace kestro
