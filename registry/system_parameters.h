// The user's settings that Windows keeps itself and hands out through
// SystemParametersInfo. On a running Windows user32 applies a change at
// once and stores it in the user's registry; for any other registry (an
// in-memory one, an offline hive, the scratch store of an export) the same
// values are written where and as Windows stores them, and read back by
// the rule Windows reads them with.
#pragma once

#include "registry/registry_store.h"

#include <cstdint>
#include <vector>

namespace kestro {

// Where SystemParametersInfo keeps font smoothing, under HKEY_CURRENT_USER.
constexpr const char* kDesktopKeyPath = "Control Panel\\Desktop";
constexpr const char* kFontSmoothingValue = "FontSmoothing";                     // REG_SZ "2" on, "0" off
constexpr const char* kFontSmoothingTypeValue = "FontSmoothingType";             // REG_DWORD
constexpr const char* kFontSmoothingOrientationValue = "FontSmoothingOrientation";  // REG_DWORD

// winuser.h values.
constexpr std::uint32_t kFontSmoothingClearType = 2;      // FE_FONTSMOOTHINGCLEARTYPE
constexpr std::uint32_t kFontSmoothingOrientationRgb = 1;  // FE_FONTSMOOTHINGORIENTATIONRGB

class SystemParameters {
public:
    enum class Read {
        Ok,
        Failed,     // the call or the registry refused
        WrongType,  // a stored value of a type Windows does not keep there
    };

    virtual ~SystemParameters() = default;
    // SPI_SETFONTSMOOTHING, SPI_SETFONTSMOOTHINGTYPE, SPI_SETFONTSMOOTHINGORIENTATION:
    // stored for good and announced (SPIF_UPDATEINIFILE | SPIF_SENDCHANGE).
    // False when the change was refused.
    virtual bool SetFontSmoothing(bool on) = 0;
    virtual bool SetFontSmoothingType(std::uint32_t type) = 0;
    virtual bool SetFontSmoothingOrientation(std::uint32_t orientation) = 0;
    // SPI_GETFONTSMOOTHING, SPI_GETFONTSMOOTHINGTYPE.
    virtual Read GetFontSmoothing(bool* on) = 0;
    virtual Read GetFontSmoothingType(std::uint32_t* type) = 0;
};

// The values SystemParametersInfo stores, in any store. Writes open the key
// for writing, creating it; reads open it for reading only, and an absent
// key or value reads as 0 (off).
class RegistrySystemParameters final : public SystemParameters {
public:
    explicit RegistrySystemParameters(RegistryStore& store) : store_(store) {}
    bool SetFontSmoothing(bool on) override;
    bool SetFontSmoothingType(std::uint32_t type) override;
    bool SetFontSmoothingOrientation(std::uint32_t orientation) override;
    Read GetFontSmoothing(bool* on) override;
    Read GetFontSmoothingType(std::uint32_t* type) override;

private:
    bool Put(const char* name, std::uint32_t type, const std::uint8_t* data, std::uint32_t size);
    // The value's type and bytes, a text as UTF-16 when `wide`, a number
    // as the 8-bit call sizes it; Ok with the type kRegNone when absent.
    Read Get(const char* name, bool wide, std::uint32_t* type, std::vector<std::uint8_t>* data);

    RegistryStore& store_;
};

}  // namespace kestro
