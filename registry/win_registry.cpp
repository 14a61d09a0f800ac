#include "registry/win_registry.h"

#include "core/text.h"
#include "registry/group_policy_files.h"

#include <windows.h>

#include <string>

namespace kestro {

namespace {

HKEY ToHkey(KeyHandle key) { return reinterpret_cast<HKEY>(key); }
KeyHandle FromHkey(HKEY key) { return reinterpret_cast<KeyHandle>(key); }

// The predefined handles are sign-extended pointers on 64-bit Windows
// ((HKEY)(ULONG_PTR)(LONG)0x80000001); our constants hold the 32-bit values.
HKEY Base(KeyHandle key) {
    switch (key) {
        case kHkeyClassesRoot: return HKEY_CLASSES_ROOT;
        case kHkeyCurrentUser: return HKEY_CURRENT_USER;
        case kHkeyLocalMachine: return HKEY_LOCAL_MACHINE;
        default: return ToHkey(key);
    }
}

// The program's value names are ASCII, so widening each byte is exact.
std::wstring WideName(const std::string& name) { return std::wstring(name.begin(), name.end()); }

}  // namespace

RegResult WinRegistryStore::CreateKey(KeyHandle base, const std::string& name, std::uint32_t access,
                                      KeyHandle* result) {
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExA(Base(base), name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                              nullptr, &key, nullptr);
    if (rc == ERROR_SUCCESS) *result = FromHkey(key);
    return rc;
}

RegResult WinRegistryStore::OpenKey(KeyHandle base, const std::string& name, std::uint32_t access,
                                    KeyHandle* result) {
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExA(Base(base), name.c_str(), 0, access, &key);
    if (rc == ERROR_SUCCESS) *result = FromHkey(key);
    return rc;
}

RegResult WinRegistryStore::QueryValue(KeyHandle key, const std::string& name, std::uint32_t* type,
                                       std::uint8_t* data, std::uint32_t* size) {
    DWORD t = 0;
    DWORD s = size ? *size : 0;
    LONG rc = RegQueryValueExA(Base(key), name.c_str(), nullptr, type ? &t : nullptr, data,
                               size ? &s : nullptr);
    if (type && (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA)) *type = t;
    if (size) *size = s;
    return rc;
}

RegResult WinRegistryStore::SetValue(KeyHandle key, const std::string& name, std::uint32_t type,
                                     const std::uint8_t* data, std::uint32_t size) {
    return RegSetValueExA(Base(key), name.c_str(), 0, type, data, size);
}

RegResult WinRegistryStore::SetValueW(KeyHandle key, const std::string& name, std::uint32_t type,
                                      const std::uint8_t* data, std::uint32_t size) {
    return RegSetValueExW(Base(key), WideName(name).c_str(), 0, type, data, size);
}

RegResult WinRegistryStore::QueryValueW(KeyHandle key, const std::string& name, std::uint32_t* type,
                                        std::uint8_t* data, std::uint32_t* size) {
    DWORD t = 0;
    DWORD s = size ? *size : 0;
    LONG rc = RegQueryValueExW(Base(key), WideName(name).c_str(), nullptr, type ? &t : nullptr, data,
                               size ? &s : nullptr);
    if (type && (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA)) *type = t;
    if (size) *size = s;
    return rc;
}

RegResult WinRegistryStore::QueryInfoKey(KeyHandle key, std::uint32_t* subKeys, std::uint32_t* maxSubKeyLen) {
    DWORD count = 0, longest = 0;
    LONG rc = RegQueryInfoKeyA(Base(key), nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_SUCCESS) {
        if (subKeys) *subKeys = count;
        if (maxSubKeyLen) *maxSubKeyLen = longest;
    }
    return rc;
}

RegResult WinRegistryStore::EnumKey(KeyHandle key, std::uint32_t index, char* name, std::uint32_t* nameLen) {
    DWORD len = nameLen ? *nameLen : 0;
    LONG rc = RegEnumKeyExA(Base(key), index, name, &len, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_SUCCESS && nameLen) *nameLen = len;
    return rc;
}

RegResult WinRegistryStore::DeleteKey(KeyHandle base, const std::string& name) {
    return RegDeleteKeyA(Base(base), name.c_str());
}

RegResult WinRegistryStore::DeleteValue(KeyHandle key, const std::string& name) {
    return RegDeleteValueA(Base(key), name.c_str());
}

RegResult WinRegistryStore::EnumValue(KeyHandle key, std::uint32_t index, char* name, std::uint32_t* nameLen) {
    DWORD len = nameLen ? *nameLen : 0;
    LONG rc = RegEnumValueA(Base(key), index, name, &len, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_SUCCESS && nameLen) *nameLen = len;
    return rc;
}

RegResult WinRegistryStore::CloseKey(KeyHandle key) { return RegCloseKey(Base(key)); }

GroupPolicyFiles* WinRegistryStore::LocalGroupPolicy() {
    if (GroupPolicyFiles* attached = RegistryStore::LocalGroupPolicy()) return attached;
    // System32 of the running Windows: a 32-bit process on 64-bit Windows
    // sees SysWOW64 by that name, and reaches the real one as Sysnative
    // (which exists for it alone).
    static PathGroupPolicyFiles* files = []() -> PathGroupPolicyFiles* {
        wchar_t buffer[MAX_PATH];
        UINT length = GetWindowsDirectoryW(buffer, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            const std::wstring native = std::wstring(buffer, length) + L"\\Sysnative";
            const DWORD attributes = GetFileAttributesW(native.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
                return new PathGroupPolicyFiles(WideToUtf8(native) + "\\GroupPolicy");
        }
        length = GetSystemDirectoryW(buffer, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) return nullptr;
        return new PathGroupPolicyFiles(WideToUtf8(std::wstring(buffer, length)) + "\\GroupPolicy");
    }();
    return files;
}

}  // namespace kestro
