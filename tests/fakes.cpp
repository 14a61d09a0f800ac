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

std::vector<std::uint8_t> Utf16Bytes(const std::u16string& text) {
    std::vector<std::uint8_t> bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

namespace {

StoredValue Fetch(const MemoryRegistryStore& store, KeyHandle root, const std::string& path,
                  const std::string& name, bool wide) {
    MemoryRegistryStore::Value value;
    StoredValue out;
    if (wide ? store.GetValueW(root, path, name, &value) : store.GetValue(root, path, name, &value)) {
        out.present = true;
        out.type = value.type;
        out.data = value.data;
    }
    return out;
}

}  // namespace

StoredValue Stored(const MemoryRegistryStore& store, KeyHandle root, const std::string& path,
                   const std::string& name) {
    return Fetch(store, root, path, name, false);
}

StoredValue StoredW(const MemoryRegistryStore& store, KeyHandle root, const std::string& path,
                    const std::string& name) {
    return Fetch(store, root, path, name, true);
}

std::int32_t StoredDword(const MemoryRegistryStore& store, KeyHandle root, const std::string& path,
                         const std::string& name) {
    StoredValue v = Stored(store, root, path, name);
    if (!v.present || v.type != kRegDword || v.data.size() != 4) return -9999;
    return static_cast<std::int32_t>(v.data[0] | v.data[1] << 8 | v.data[2] << 16 |
                                     static_cast<std::uint32_t>(v.data[3]) << 24);
}

}  // namespace kestro::test
