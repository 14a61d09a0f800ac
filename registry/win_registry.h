// The registry of Windows (and Wine), through advapi32's 8-bit functions,
// and its wide ones for texts.
#pragma once

#include "registry/registry_store.h"

namespace kestro {

class WinRegistryStore final : public RegistryStore {
public:
    RegResult CreateKey(KeyHandle base, const std::string& name, std::uint32_t access,
                        KeyHandle* result) override;
    RegResult OpenKey(KeyHandle base, const std::string& name, std::uint32_t access,
                      KeyHandle* result) override;
    RegResult QueryValue(KeyHandle key, const std::string& name, std::uint32_t* type,
                         std::uint8_t* data, std::uint32_t* size) override;
    RegResult SetValue(KeyHandle key, const std::string& name, std::uint32_t type,
                       const std::uint8_t* data, std::uint32_t size) override;
    RegResult SetValueW(KeyHandle key, const std::string& name, std::uint32_t type,
                        const std::uint8_t* data, std::uint32_t size) override;
    RegResult QueryValueW(KeyHandle key, const std::string& name, std::uint32_t* type,
                          std::uint8_t* data, std::uint32_t* size) override;
    RegResult QueryInfoKey(KeyHandle key, std::uint32_t* subKeys, std::uint32_t* maxSubKeyLen) override;
    RegResult EnumKey(KeyHandle key, std::uint32_t index, char* name, std::uint32_t* nameLen) override;
    RegResult DeleteKey(KeyHandle base, const std::string& name) override;
    RegResult DeleteValue(KeyHandle key, const std::string& name) override;
    RegResult EnumValue(KeyHandle key, std::uint32_t index, char* name, std::uint32_t* nameLen) override;
    RegResult CloseKey(KeyHandle key) override;
    // user32's SystemParametersInfoW: applied at once, stored by Windows.
    std::unique_ptr<SystemParameters> OpenSystemParameters() override;
    // %SystemRoot%\System32\GroupPolicy of the running Windows, unless a
    // test attached other files.
    GroupPolicyFiles* LocalGroupPolicy() override;
};

}  // namespace kestro
