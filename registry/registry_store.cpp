#include "registry/registry_store.h"

#include "registry/system_parameters.h"

#ifdef _WIN32
#include "registry/win_registry.h"
#else
#include "registry/memory_registry.h"
#endif

namespace kestro {

std::vector<std::string> SplitKeyPath(const std::string& path) {
    std::vector<std::string> names;
    std::string current;
    for (char c : path) {
        if (c == '\\') {
            if (!current.empty()) names.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) names.push_back(current);
    return names;
}

std::unique_ptr<SystemParameters> ForwardingRegistryStore::OpenSystemParameters() {
    return inner_.OpenSystemParameters();
}

std::unique_ptr<SystemParameters> RegistryStore::OpenSystemParameters() {
    return std::make_unique<RegistrySystemParameters>(*this);
}

namespace {

RegistryStore& DefaultStore() {
#ifdef _WIN32
    static WinRegistryStore store;
#else
    // Off Windows there is no system registry: the engine runs on one that
    // lives as long as the process.
    static MemoryRegistryStore store;
#endif
    return store;
}

RegistryStore* g_active = nullptr;

}  // namespace

RegistryStore& ActiveRegistryStore() { return g_active ? *g_active : DefaultStore(); }

ScopedRegistryStore::ScopedRegistryStore(RegistryStore& store) : previous_(g_active) { g_active = &store; }

ScopedRegistryStore::~ScopedRegistryStore() { g_active = previous_; }

}  // namespace kestro
