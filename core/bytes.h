// Little-endian integers in byte buffers: hives, their logs, Registry.pol and
// REG_DWORD data all store them this way, whatever the host's own order.
// The caller checks the bounds; these only move bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestro {

inline std::uint16_t LoadLe16(const void* at) {
    const auto* p = static_cast<const unsigned char*>(at);
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

inline std::uint32_t LoadLe32(const void* at) {
    const auto* p = static_cast<const unsigned char*>(at);
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline std::uint64_t LoadLe64(const void* at) {
    const auto* p = static_cast<const unsigned char*>(at);
    return static_cast<std::uint64_t>(LoadLe32(p)) | static_cast<std::uint64_t>(LoadLe32(p + 4)) << 32;
}

inline void StoreLe16(void* at, std::uint16_t value) {
    auto* p = static_cast<unsigned char*>(at);
    p[0] = static_cast<unsigned char>(value);
    p[1] = static_cast<unsigned char>(value >> 8);
}

inline void StoreLe32(void* at, std::uint32_t value) {
    auto* p = static_cast<unsigned char*>(at);
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(value >> (8 * i));
}

inline void StoreLe64(void* at, std::uint64_t value) {
    auto* p = static_cast<unsigned char*>(at);
    StoreLe32(p, static_cast<std::uint32_t>(value));
    StoreLe32(p + 4, static_cast<std::uint32_t>(value >> 32));
}

}  // namespace kestro
