// The registry as the settings engine sees it: the Windows registry
// operations it needs, with Windows' own error codes and 8-bit names.
// Nothing above this interface knows which store it runs on.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestro {

// Predefined root keys, by the handle values Windows gives them.
using KeyHandle = std::uintptr_t;
constexpr KeyHandle kHkeyClassesRoot = 0x80000000u;
constexpr KeyHandle kHkeyCurrentUser = 0x80000001u;
constexpr KeyHandle kHkeyLocalMachine = 0x80000002u;

// Win32 error codes the stores report (winerror.h values).
using RegResult = long;
constexpr RegResult kErrorSuccess = 0;
constexpr RegResult kErrorFileNotFound = 2;
constexpr RegResult kErrorAccessDenied = 5;
constexpr RegResult kErrorInvalidHandle = 6;
constexpr RegResult kErrorInvalidParameter = 87;
constexpr RegResult kErrorBadPathname = 161;
constexpr RegResult kErrorMoreData = 234;
constexpr RegResult kErrorNoMoreItems = 259;
constexpr RegResult kErrorKeyDeleted = 1018;

// Value type codes (winnt.h values).
constexpr std::uint32_t kRegNone = 0;
constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegExpandSz = 2;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;
constexpr std::uint32_t kRegDwordBigEndian = 5;
constexpr std::uint32_t kRegMultiSz = 7;
constexpr std::uint32_t kRegQword = 11;
// The types whose data the 8-bit calls convert through the code page.
constexpr bool IsTextType(std::uint32_t type) { return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz; }

// Access rights (winnt.h values).
constexpr std::uint32_t kKeyAllAccess = 0xF003F;
constexpr std::uint32_t kKeyRead = 0x20019;
constexpr std::uint32_t kKeySetValue = 0x0002;
// Asks a 32-bit process on 64-bit Windows for the registry view the 64-bit
// shell reads; 32-bit Windows XP ignores it.
constexpr std::uint32_t kKeyWow64_64Key = 0x0100;
// The rights every key of the engine is opened or created with, in the
// registry view the 64-bit shell reads (the Recycle Bin's class key lives
// there), and what a read asks for or falls back to where full access is
// refused (HKEY_LOCAL_MACHINE for a user without administrator rights).
constexpr std::uint32_t kWriteAccess = kKeyAllAccess | kKeyWow64_64Key;
constexpr std::uint32_t kReadAccess = kKeyRead | kKeyWow64_64Key;

// The names of a key path, without the empty ones that a leading, trailing
// or doubled backslash would give.
std::vector<std::string> SplitKeyPath(const std::string& path);

class SystemParameters;

class RegistryStore {
public:
    virtual ~RegistryStore() = default;

    // RegCreateKeyExA: opens the named sub-key of `base`, creating it when
    // missing (REG_OPTION_NON_VOLATILE, no class, default security).
    virtual RegResult CreateKey(KeyHandle base, const std::string& name, std::uint32_t access,
                                KeyHandle* result) = 0;
    // RegOpenKeyExA: opens an existing sub-key; an empty name gives a new
    // handle on `base` itself.
    virtual RegResult OpenKey(KeyHandle base, const std::string& name, std::uint32_t access,
                              KeyHandle* result) = 0;
    // RegQueryValueExA: any of type, data and size may be null. With data,
    // *size is the buffer's size on entry; data that does not fit gives
    // kErrorMoreData, leaves the buffer alone and sets *size to what it needs.
    virtual RegResult QueryValue(KeyHandle key, const std::string& name, std::uint32_t* type,
                                 std::uint8_t* data, std::uint32_t* size) = 0;
    // RegSetValueExA with reserved 0: creates or replaces the value.
    virtual RegResult SetValue(KeyHandle key, const std::string& name, std::uint32_t type,
                               const std::uint8_t* data, std::uint32_t size) = 0;
    // RegSetValueExW with reserved 0. The name is 8-bit (all of the program's
    // names are ASCII); REG_SZ data is UTF-16LE text with its terminating zero
    // character, and `size` counts bytes.
    virtual RegResult SetValueW(KeyHandle key, const std::string& name, std::uint32_t type,
                                const std::uint8_t* data, std::uint32_t size) = 0;
    // RegQueryValueExW: as QueryValue, but REG_SZ data comes back as UTF-16LE
    // and sizes count the UTF-16 bytes.
    virtual RegResult QueryValueW(KeyHandle key, const std::string& name, std::uint32_t* type,
                                  std::uint8_t* data, std::uint32_t* size) = 0;
    // RegQueryInfoKeyA: number of sub-keys and the longest sub-key name's
    // length in characters, without its terminating zero.
    virtual RegResult QueryInfoKey(KeyHandle key, std::uint32_t* subKeys,
                                   std::uint32_t* maxSubKeyLen) = 0;
    // RegEnumKeyExA: *nameLen is the buffer's size in characters on entry and
    // the name's length without its zero on success.
    virtual RegResult EnumKey(KeyHandle key, std::uint32_t index, char* name,
                              std::uint32_t* nameLen) = 0;
    // RegDeleteKeyA: deletes a sub-key that has no sub-keys of its own.
    virtual RegResult DeleteKey(KeyHandle base, const std::string& name) = 0;
    // RegDeleteValueA: kErrorFileNotFound when there is no such value.
    virtual RegResult DeleteValue(KeyHandle key, const std::string& name) = 0;
    // RegEnumValueA, the name only (QueryValueW then reads the value):
    // *nameLen is the buffer's size in characters on entry and the name's
    // length without its zero on success.
    virtual RegResult EnumValue(KeyHandle key, std::uint32_t index, char* name, std::uint32_t* nameLen) = 0;
    // RegCloseKey. Closing a predefined root succeeds and changes nothing.
    virtual RegResult CloseKey(KeyHandle key) = 0;
    // The settings SystemParametersInfo keeps, for this registry's user:
    // user32 on the registry of a running Windows, otherwise the values it
    // would store, kept in this store.
    virtual std::unique_ptr<SystemParameters> OpenSystemParameters();
};

// Passes every call on to another store, unchanged: the base of a store
// that watches or replaces only some of them.
class ForwardingRegistryStore : public RegistryStore {
public:
    explicit ForwardingRegistryStore(RegistryStore& inner) : inner_(inner) {}

    RegResult CreateKey(KeyHandle base, const std::string& name, std::uint32_t access,
                        KeyHandle* result) override {
        return inner_.CreateKey(base, name, access, result);
    }
    RegResult OpenKey(KeyHandle base, const std::string& name, std::uint32_t access, KeyHandle* result) override {
        return inner_.OpenKey(base, name, access, result);
    }
    RegResult QueryValue(KeyHandle key, const std::string& name, std::uint32_t* type, std::uint8_t* data,
                         std::uint32_t* size) override {
        return inner_.QueryValue(key, name, type, data, size);
    }
    RegResult SetValue(KeyHandle key, const std::string& name, std::uint32_t type, const std::uint8_t* data,
                       std::uint32_t size) override {
        return inner_.SetValue(key, name, type, data, size);
    }
    RegResult SetValueW(KeyHandle key, const std::string& name, std::uint32_t type, const std::uint8_t* data,
                        std::uint32_t size) override {
        return inner_.SetValueW(key, name, type, data, size);
    }
    RegResult QueryValueW(KeyHandle key, const std::string& name, std::uint32_t* type, std::uint8_t* data,
                          std::uint32_t* size) override {
        return inner_.QueryValueW(key, name, type, data, size);
    }
    RegResult QueryInfoKey(KeyHandle key, std::uint32_t* subKeys, std::uint32_t* maxSubKeyLen) override {
        return inner_.QueryInfoKey(key, subKeys, maxSubKeyLen);
    }
    RegResult EnumKey(KeyHandle key, std::uint32_t index, char* name, std::uint32_t* nameLen) override {
        return inner_.EnumKey(key, index, name, nameLen);
    }
    RegResult DeleteKey(KeyHandle base, const std::string& name) override { return inner_.DeleteKey(base, name); }
    RegResult DeleteValue(KeyHandle key, const std::string& name) override { return inner_.DeleteValue(key, name); }
    RegResult EnumValue(KeyHandle key, std::uint32_t index, char* name, std::uint32_t* nameLen) override {
        return inner_.EnumValue(key, index, name, nameLen);
    }
    RegResult CloseKey(KeyHandle key) override { return inner_.CloseKey(key); }
    std::unique_ptr<SystemParameters> OpenSystemParameters() override;

protected:
    RegistryStore& inner_;
};

// The store that the engine's operations use. On Windows it is advapi32
// unless a test installs another; natively it is a process-wide in-memory
// store.
RegistryStore& ActiveRegistryStore();

// Installs `store` as the active store for the life of this object.
class ScopedRegistryStore {
public:
    explicit ScopedRegistryStore(RegistryStore& store);
    ~ScopedRegistryStore();
    ScopedRegistryStore(const ScopedRegistryStore&) = delete;
    ScopedRegistryStore& operator=(const ScopedRegistryStore&) = delete;

private:
    RegistryStore* previous_;
};

// Owns one key handle of one store: closes it when destroyed, replaced or
// reset. Predefined roots are never owned. Move-only.
class UniqueKey {
public:
    UniqueKey() = default;
    UniqueKey(RegistryStore& store, KeyHandle key) : store_(&store), key_(key) {}
    UniqueKey(UniqueKey&& other) noexcept : store_(other.store_), key_(other.Release()) {}
    UniqueKey& operator=(UniqueKey&& other) noexcept {
        if (this != &other) {
            RegistryStore* store = other.store_;
            KeyHandle key = other.Release();
            Reset();
            store_ = store;
            key_ = key;
        }
        return *this;
    }
    UniqueKey(const UniqueKey&) = delete;
    UniqueKey& operator=(const UniqueKey&) = delete;
    ~UniqueKey() { Reset(); }

    KeyHandle Get() const { return key_; }
    explicit operator bool() const { return key_ != 0; }

    void Reset() {
        if (key_ != 0) store_->CloseKey(key_);
        key_ = 0;
    }
    KeyHandle Release() {
        KeyHandle key = key_;
        key_ = 0;
        return key;
    }

private:
    RegistryStore* store_ = nullptr;
    KeyHandle key_ = 0;
};

}  // namespace kestro
