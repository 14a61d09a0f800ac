// Test doubles for the window side of the engine, and helpers for values.
#pragma once

#include "registry/memory_registry.h"
#include "settings/readback.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kestro::test {

class FakeToggle : public IToggle {
public:
    void SetDown(bool down) override {
        down_ = down;
        ++sets_;
    }
    bool down() const { return down_; }
    int sets() const { return sets_; }

private:
    bool down_ = false;
    int sets_ = 0;
};

// The main window as the read-back sees it: every toggle starts up, the
// count at 0.
class FakeView : public ISettingsView {
public:
    IToggle& Toggle(const char* control) override { return toggles_[control]; }
    void SetRecentDocsCount(std::int32_t count) override {
        count_ = count;
        ++countSets_;
    }
    bool Down(const std::string& control) { return toggles_[control].down(); }
    bool WasSet(const std::string& control) { return toggles_[control].sets() > 0; }
    std::int32_t count() const { return count_; }
    int countSets() const { return countSets_; }

private:
    std::map<std::string, FakeToggle> toggles_;
    std::int32_t count_ = 0;
    int countSets_ = 0;
};

std::vector<std::uint8_t> DwordBytes(std::uint32_t value);
std::vector<std::uint8_t> TextBytes(const std::string& text);  // with its terminating zero
std::vector<std::uint8_t> Utf16Bytes(const std::u16string& text);  // UTF-16LE, with its terminating zero

// A value as the in-memory store holds it, for readable expectations.
struct StoredValue {
    bool present = false;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
};
// Stored: string data as the 8-bit calls read it; StoredW: as kept (UTF-16LE).
StoredValue Stored(const MemoryRegistryStore& store, KeyHandle root, const std::string& path,
                   const std::string& name);
StoredValue StoredW(const MemoryRegistryStore& store, KeyHandle root, const std::string& path,
                    const std::string& name);
std::int32_t StoredDword(const MemoryRegistryStore& store, KeyHandle root, const std::string& path,
                         const std::string& name);  // -9999 when absent or not a DWORD

}  // namespace kestro::test
