#include "tests/fakes.h"

namespace kestro::test {

std::vector<std::uint8_t> DwordBytes(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

std::vector<std::uint8_t> TextBytes(const std::string& text) {
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return bytes;
}

StoredValue Stored(const MemoryRegistryStore& store, KeyHandle root, const std::string& path,
                   const std::string& name) {
    MemoryRegistryStore::Value value;
    StoredValue out;
    if (store.GetValue(root, path, name, &value)) {
        out.present = true;
        out.type = value.type;
        out.data = value.data;
    }
    return out;
}

std::int32_t StoredDword(const MemoryRegistryStore& store, KeyHandle root, const std::string& path,
                         const std::string& name) {
    StoredValue v = Stored(store, root, path, name);
    if (!v.present || v.type != kRegDword || v.data.size() != 4) return -9999;
    return static_cast<std::int32_t>(v.data[0] | v.data[1] << 8 | v.data[2] << 16 |
                                     static_cast<std::uint32_t>(v.data[3]) << 24);
}

}  // namespace kestro::test
