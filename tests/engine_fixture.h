#pragma once

#include "registry/memory_registry.h"
#include "settings/uFunctions.h"
#include "tests/fakes.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace kestro::test {

// Every engine test runs on a fresh in-memory registry and ends with no
// handle left open.
class EngineTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(0, store_.OpenHandleCount()) << "a handle was left open"; }

    void PutDword(KeyHandle root, const std::string& path, const std::string& name, std::uint32_t value) {
        store_.PutValue(root, path, name, kRegDword, DwordBytes(value));
    }
    void PutText(KeyHandle root, const std::string& path, const std::string& name, const std::string& text) {
        store_.PutValue(root, path, name, kRegSz, TextBytes(text));
    }
    std::int32_t Dword(KeyHandle root, const std::string& path, const std::string& name) const {
        return StoredDword(store_, root, path, name);
    }

    // The message of the ERegistryException that `action` raises, or
    // "(no error)".
    static std::string ErrorOf(const std::function<void()>& action) {
        try {
            action();
        } catch (const ERegistryException& e) {
            return e.what();
        }
        return "(no error)";
    }

    MemoryRegistryStore store_;
    ScopedRegistryStore scope_{store_};
};

constexpr const char* kExplorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";

}  // namespace kestro::test
