// The settings engine: the registry cursor, the walk along key paths, and
// one writer for every setting of the catalogue.
#pragma once

#include "registry/registry_store.h"
#include "registry/system_parameters.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

namespace kestro {

// The error a registry cursor raises; its message is all there is to it.
class ERegistryException : public std::runtime_error {
public:
    explicit ERegistryException(const std::string& message) : std::runtime_error(message) {}
};

// The cursor's three messages, with the value's name in them: also what a
// reader of the same values says when it must say what the engine would.
std::string FailedToGetMessage(const std::string& valueName);
std::string InvalidDataTypeMessage(const std::string& valueName);
std::string FailedToSetMessage(const std::string& valueName);

struct Setting;

// What a writer is given: the number its handler passes (a toggle's state,
// a start type, a count), or a text in UTF-8. An action takes neither.
struct SettingArgument {
    std::int32_t number = 0;
    std::string text;

    static SettingArgument Number(std::int32_t n) { return {n, {}}; }
    static SettingArgument Text(std::string utf8) { return {0, std::move(utf8)}; }
    static SettingArgument None() { return {}; }
};

// A toggle button as the engine sees it: something that can be put down or up.
class IToggle {
public:
    virtual ~IToggle() = default;
    virtual void SetDown(bool down) = 0;
};

// One root key and at most one open key of it. It owns the open key and
// closes it when another replaces it, when the root changes, and when the
// cursor goes.
class RegistryCursor {
public:
    // Every key is opened or created with kWriteAccess; a read falls back to
    // kReadAccess where full access is refused.

    RegistryCursor();
    explicit RegistryCursor(RegistryStore& store);
    ~RegistryCursor();
    RegistryCursor(const RegistryCursor&) = delete;
    RegistryCursor& operator=(const RegistryCursor&) = delete;

    KeyHandle Root() const { return root_; }
    bool HasOpenKey() const { return static_cast<bool>(openKey_); }
    bool IsStranded() const { return stranded_; }

    // After a level of a walk could be neither opened nor created, the cursor
    // stands on no key at all, not even the root: whatever follows then
    // reads, writes and deletes nothing, rather than acting on a key the path
    // does not name. Choosing another root ends this.
    void Strand();

    void SelectRoot(KeyHandle root);
    bool EnterKey(const std::string& name);
    // As EnterKey, but a key that can be neither opened nor created with full
    // access is opened for reading. It is never created that way.
    bool EnterKeyForReading(const std::string& name);
    bool HasValue(const std::string& name);
    std::int32_t GetDword(const std::string& name);
    void PutDword(const std::string& name, std::int32_t value);
    // REG_SZ through the wide call: UTF-8 `text` is stored as UTF-16, so that
    // it arrives as typed whatever the system's ANSI code page.
    void PutText(const std::string& name, const std::string& text);
    bool RemoveKeyTree(const std::string& name);
    void LeaveKey();

private:
    KeyHandle Base() const { return openKey_ ? openKey_.Get() : root_; }
    bool Enter(const std::string& name, bool readOnlyFallback);

    RegistryStore& store_;
    UniqueKey openKey_;
    KeyHandle root_ = kHkeyCurrentUser;
    bool stranded_ = false;
};

// Class-level operations only: each is complete in itself and keeps nothing.
class Zfunctions {
public:
    Zfunctions() = delete;

    // Registry helpers.
    static void OpenKeyPath(RegistryCursor& cursor, const std::string& keyPath);
    // The walk of a read: levels refused full access are opened for reading.
    static void OpenKeyPathForReading(RegistryCursor& cursor, const std::string& keyPath);
    static void WriteDwordValue(const std::string& keyPath, const std::string& valueName, std::int32_t value);
    static std::int32_t ReadDwordValue(const std::string& keyPath, const std::string& valueName);
    static std::int32_t ReadDwordValueAt(const std::string& keyPath, const std::string& valueName, KeyHandle root);
    static void SyncButtonFromDwordValue(const std::string& keyPath, const std::string& valueName, IToggle& toggle);

    // The one writer: stores `argument` as the catalogue row says, for the
    // window's handlers, kestroctl and the exports alike. The named writers
    // below are entry points into it.
    static void WriteSetting(const Setting& row, const SettingArgument& argument);

    // Font smoothing as its toggle shows it: down exactly when smoothing is
    // on and of the ClearType kind (the kind is asked only when it is on).
    // On a failed read, the failure, and in `value` the name of the value
    // that could not be read.
    static SystemParameters::Read ReadFontSmoothing(SystemParameters& parameters, bool* down, const char** value);

    // Plain toggles: 1 down, 0 up, stored unchanged.
    static void SetNoNetworkConnections(std::int32_t state);
    static void SetStartmenuLogoff(std::int32_t state);
    static void SetNoFavoritesMenu(std::int32_t state);
    static void SetNoRecentDocsMenu(std::int32_t state);
    static void SetClearRecentDocsOnExit(std::int32_t state);
    static void SetNoRecentDocsHistory(std::int32_t state);
    static void SetNoSMMyPictures(std::int32_t state);
    static void SetNoSetTaskbar(std::int32_t state);
    static void SetNoAddPrinter(std::int32_t state);
    static void SetNoFind(std::int32_t state);
    static void SetNoSMHelp(std::int32_t state);
    static void SetNoRun(std::int32_t state);
    static void SetNoStartMenuMorePrograms(std::int32_t state);
    static void SetNoChangeStartMenu(std::int32_t state);
    static void SetPaintDesktopVersion(std::int32_t state);
    static void SetNoAddRemovePrograms(std::int32_t state);
    static void SetNoDispCPL(std::int32_t state);
    static void SetNoThemesTab(std::int32_t state);
    static void SetNoDispBackgroundPage(std::int32_t state);
    static void SetNoDispScrSavPage(std::int32_t state);
    static void SetNoDispAppearancePage(std::int32_t state);
    static void SetDisableTaskMgr(std::int32_t state);
    static void SetDisableRegistryTools(std::int32_t state);

    // Toggles with rules of their own.
    static void SetCdromAutoRun(std::int32_t state);
    static void SetNtfsDisableLastAccessUpdate(std::int32_t state);
    static void SetFontSmoothing(std::int32_t state);
    static void SetCdromStart(std::int32_t startType);
    static void SetFlpydiskStart(std::int32_t startType);
    static void SetParportStart(std::int32_t startType);
    static void SetUsbstorStart(std::int32_t startType);

    // The other settings. Texts are UTF-8.
    static void SetMaxRecentDocs(std::int32_t count);
    static void SetRecycleBinName(const std::string& text);
    static void SetRecycleBinInfoTip(const std::string& text);
    static void SetWallpaper(const std::string& path);
    static void ClearSearchHistory();

    // The environment, for display.
    static std::string GetWindowsDir();
    static std::string GetTempDir();
};

}  // namespace kestro
