// The store the engine works on: the system's, or one a test or kestroctl
// puts in its place.
#include "registry/registry_store.h"

#ifdef _WIN32
#include "registry/win_registry.h"
#else
#include "registry/memory_registry.h"
#endif

namespace kestro {

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
