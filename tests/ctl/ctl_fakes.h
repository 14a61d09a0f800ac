// What the command tests give kestroctl's commands in place of a console
// and of the store chooser.
#pragma once

#include "ctl/commands.h"

#include <string>

namespace kestro::test {

// Keeps every line written, by stream.
class CapturingConsole final : public Console {
public:
    void Out(const std::string& text) override { out += text; }
    void Json(const std::string& text) override { json += text; }
    void Err(const std::string& text) override { err += text; }
    std::string out, json, err;
};

// Hands every command the one store it was made with.
class FixedStore final : public StoreProvider {
public:
    explicit FixedStore(RegistryStore& store) : store_(store) {}
    RegistryStore* Open(const StoreUse&, std::string*, int*) override { return &store_; }

private:
    RegistryStore& store_;
};

}  // namespace kestro::test
