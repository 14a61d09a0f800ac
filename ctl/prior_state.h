// The exact state of what a command is about to change, read before its
// first write: every registry value it writes (type and bytes, or absent)
// and every key tree it deletes. A command that fails half-way puts back
// what it had written; --undo writes the same state as a .reg file.
#pragma once

#include "ctl/notify.h"
#include "formats/reg_file.h"
#include "registry/key_tree.h"
#include "registry/registry_store.h"
#include "settings/catalogue.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kestro {

// A value as it was, and the deepest key of keyPath that existed (keyPath
// itself when it did): the keys a write created below it go again with the
// value.
struct PriorValue : StoredValue {
    std::string existingKey;
};

// What put back left changed: each place that could not be put back, by
// name, and whose values those are (for the notification).
struct PutBackResult {
    std::vector<std::string> failed;
    WrittenScopes stillChanged;
};

class PriorState {
public:
    // The places the row's writer changes: its values, or for an action
    // the key tree it deletes. A place given twice is kept once.
    void Add(const Setting& row);
    void AddValue(KeyHandle root, const std::string& keyPath, const std::string& name);
    void AddTree(KeyHandle root, const std::string& keyPath);

    // Reads every place; false, with what could not be read, when one
    // cannot be. Keys are opened for reading only.
    bool Read(RegistryStore& store, std::string* error);

    // Puts every place that differs now back as it was read. Font
    // smoothing goes through the store's system parameters first, so that
    // a running Windows takes it up, and then its values get their exact
    // bytes back.
    PutBackResult PutBack(RegistryStore& store) const;

    // The way back as a .reg file's changes, for --undo: each value with
    // its bytes as hex(n), or deleted when it was absent; each key tree
    // deleted, then, when it was there, made again key by key.
    std::vector<RegEdit> UndoEdits() const;

    const std::vector<PriorValue>& Values() const { return values_; }
    const std::vector<KeyTree>& Trees() const { return trees_; }

private:
    std::vector<PriorValue> values_;
    std::vector<KeyTree> trees_;
};

// A value of an undo file as the store takes it: set with its type and
// bytes when present, deleted when not.
inline StoredValue StoredValueOf(const RegValue& value, bool present) {
    return present ? StoredValue{value.root, value.keyPath, value.name, true, value.type, value.data}
                   : StoredValue{value.root, value.keyPath, value.name, false, kRegNone, {}};
}

// "HKEY_CURRENT_USER\Software\...\Name", for messages.
std::string PlaceName(KeyHandle root, const std::string& keyPath, const std::string& name);

}  // namespace kestro
