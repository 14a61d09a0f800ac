// Key trees and raw values through any store: a key read with everything
// below it, deleted deepest first, a value set with its exact type and
// bytes or deleted. What a command reads before it writes, puts back when
// it fails half-way, and what an undo file replays.
#pragma once

#include "registry/registry_store.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kestro {

// One value as the store holds it, or its absence.
struct StoredValue {
    KeyHandle root = 0;
    std::string keyPath;
    std::string name;
    bool present = false;
    std::uint32_t type = kRegNone;
    std::vector<std::uint8_t> data;  // as stored: texts in UTF-16LE
};

// A key and everything below it.
struct KeyTree {
    KeyHandle root = 0;
    std::string keyPath;
    bool present = false;
    std::vector<std::string> keys;     // every key's path, the top first, parents before children
    std::vector<StoredValue> values;   // every value of those keys
};

// Where a tree could not be read: the key, and the value when it was one.
struct KeyTreeFailure {
    std::string keyPath;
    std::string name;
};

// The named value of an open key, its type and bytes, into *value
// (present when read); kErrorFileNotFound when it is absent.
RegResult QueryStoredValue(RegistryStore& store, KeyHandle key, const std::string& name, StoredValue* value);

// Reads tree->keyPath and everything below it, with keys opened for
// reading only; an absent top key is no failure (present stays false).
// On failure, the store's answer, and where in *failure when given.
RegResult ReadKeyTree(RegistryStore& store, KeyTree* tree, KeyTreeFailure* failure = nullptr);

// Deletes the keys of a tree as read, deepest first; a key already gone
// is no failure.
RegResult DeleteKeyTree(RegistryStore& store, const KeyTree& tree);

// Reads the key's tree and deletes it; an absent key is no failure. A tree
// that cannot be read gives the store's answer for the read.
RegResult DeleteKeyTree(RegistryStore& store, KeyHandle root, const std::string& keyPath);

// Sets the value with its type and bytes, creating its key; or, when it is
// not present, deletes it (an absent key or value is no failure).
RegResult WriteStoredValue(RegistryStore& store, const StoredValue& value);

// Creates the key and the keys above it.
RegResult MakeKey(RegistryStore& store, KeyHandle root, const std::string& keyPath);

}  // namespace kestro
