// Font smoothing through user32, on the registry of a running Windows.
#include "registry/system_parameters.h"
#include "registry/win_registry.h"

#include <windows.h>

namespace kestro {

namespace {

// Stored in the user's profile and announced to every window, as the
// display settings do.
constexpr UINT kStoreAndAnnounce = SPIF_UPDATEINIFILE | SPIF_SENDCHANGE;

class WinSystemParameters final : public SystemParameters {
public:
    bool SetFontSmoothing(bool on) override {
        return SystemParametersInfoW(SPI_SETFONTSMOOTHING, on ? TRUE : FALSE, nullptr, kStoreAndAnnounce) != FALSE;
    }
    // These two take their value in the pointer's place.
    bool SetFontSmoothingType(std::uint32_t type) override {
        return SystemParametersInfoW(SPI_SETFONTSMOOTHINGTYPE, 0, reinterpret_cast<PVOID>(static_cast<UINT_PTR>(type)),
                                     kStoreAndAnnounce) != FALSE;
    }
    bool SetFontSmoothingOrientation(std::uint32_t orientation) override {
        return SystemParametersInfoW(SPI_SETFONTSMOOTHINGORIENTATION, 0,
                                     reinterpret_cast<PVOID>(static_cast<UINT_PTR>(orientation)),
                                     kStoreAndAnnounce) != FALSE;
    }
    Read GetFontSmoothing(bool* on) override {
        BOOL value = FALSE;
        if (!SystemParametersInfoW(SPI_GETFONTSMOOTHING, 0, &value, 0)) return Read::Failed;
        *on = value != FALSE;
        return Read::Ok;
    }
    Read GetFontSmoothingType(std::uint32_t* type) override {
        UINT value = 0;
        if (!SystemParametersInfoW(SPI_GETFONTSMOOTHINGTYPE, 0, &value, 0)) return Read::Failed;
        *type = value;
        return Read::Ok;
    }
};

}  // namespace

std::unique_ptr<SystemParameters> WinRegistryStore::OpenSystemParameters() {
    return std::make_unique<WinSystemParameters>();
}

}  // namespace kestro
