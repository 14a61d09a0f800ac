#include "ctl/prior_state.h"
#include "ctl/messages.h"

#include "core/bytes.h"
#include "registry/memory_registry.h"
#include "registry/system_parameters.h"
#include "core/text.h"
#include "formats/values.h"

#include <algorithm>

namespace kestro {

namespace {

std::string ErrorText(RegResult rc) {
    switch (rc) {
        case kErrorAccessDenied: return Tr("access denied");
        default: return Tr("error %1", rc);
    }
}

bool SamePlace(KeyHandle root, const std::string& keyPath, const std::string& name, const StoredValue& value) {
    return root == value.root && SameAsciiNoCase(keyPath, value.keyPath) && SameAsciiNoCase(name, value.name);
}

std::string Join(const std::string& path, const std::string& name) { return path.empty() ? name : path + "\\" + name; }

std::string ParentOf(const std::string& path) {
    const std::size_t cut = path.find_last_of('\\');
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

// The deepest key of `path` that exists ("" for the root alone).
std::string DeepestExisting(RegistryStore& store, KeyHandle root, std::string path) {
    while (!path.empty()) {
        KeyHandle key = 0;
        if (store.OpenKey(root, path, kReadAccess, &key) == kErrorSuccess) {
            store.CloseKey(key);
            return path;
        }
        path = ParentOf(path);
    }
    return path;
}

// Deletes the keys of `path` below `keep` that hold nothing, deepest first:
// what a write made on the way to a value that is gone again.
void RemoveMadeKeys(RegistryStore& store, KeyHandle root, std::string path, const std::string& keep) {
    while (path.size() > keep.size()) {
        KeyHandle handle = 0;
        if (store.OpenKey(root, path, kReadAccess, &handle) != kErrorSuccess) return;
        UniqueKey key(store, handle);
        std::uint32_t subKeys = 1;
        char name[2];
        std::uint32_t length = sizeof name;
        const bool empty = store.QueryInfoKey(key.Get(), &subKeys, nullptr) == kErrorSuccess && subKeys == 0 &&
                           store.EnumValue(key.Get(), 0, name, &length) == kErrorNoMoreItems;
        key.Reset();
        if (!empty) return;
        const std::string parent = ParentOf(path);
        const std::string last = path.substr(parent.empty() ? 0 : parent.size() + 1);
        KeyHandle parentHandle = 0;
        if (!parent.empty() && store.OpenKey(root, parent, kWriteAccess, &parentHandle) != kErrorSuccess) return;
        UniqueKey parentKey(store, parentHandle);
        if (store.DeleteKey(parent.empty() ? root : parentKey.Get(), last) != kErrorSuccess) return;
        path = parent;
    }
}

// One value as it is now; false with why when it cannot be read.
bool ReadValue(RegistryStore& store, PriorValue* value, std::string* error) {
    value->present = false;
    value->type = kRegNone;
    value->data.clear();
    value->existingKey = value->keyPath;
    KeyHandle key = 0;
    RegResult rc = store.OpenKey(value->root, value->keyPath, kReadAccess, &key);
    if (rc == kErrorFileNotFound) {
        value->existingKey = DeepestExisting(store, value->root, ParentOf(value->keyPath));
        return true;
    }
    if (rc == kErrorSuccess) {
        UniqueKey owner(store, key);
        rc = QueryStoredValue(store, key, value->name, value);
        if (rc == kErrorFileNotFound) return true;
    }
    if (rc == kErrorSuccess) return true;
    *error = PlaceName(value->root, value->keyPath, value->name) + ": " + ErrorText(rc);
    return false;
}

// The tree as it is now; false with where and why when it cannot be read.
bool ReadTree(RegistryStore& store, KeyTree* tree, std::string* error) {
    KeyTreeFailure failure;
    const RegResult rc = ReadKeyTree(store, tree, &failure);
    if (rc == kErrorSuccess) return true;
    *error = PlaceName(tree->root, failure.keyPath, failure.name) + ": " + ErrorText(rc);
    return false;
}

bool SameValue(const StoredValue& a, const StoredValue& b) {
    return a.present == b.present && (!a.present || (a.type == b.type && a.data == b.data));
}

bool SameTree(const KeyTree& a, const KeyTree& b) {
    if (a.present != b.present || a.keys.size() != b.keys.size() || a.values.size() != b.values.size()) return false;
    for (std::size_t i = 0; i < a.keys.size(); ++i)
        if (!SameAsciiNoCase(a.keys[i], b.keys[i])) return false;
    for (const StoredValue& value : a.values) {
        const auto match = std::find_if(b.values.begin(), b.values.end(), [&](const StoredValue& other) {
            return SamePlace(value.root, value.keyPath, value.name, other);
        });
        if (match == b.values.end() || !SameValue(value, *match)) return false;
    }
    return true;
}

RegResult WriteTreeBack(RegistryStore& store, const KeyTree& prior, const KeyTree& now) {
    if (now.present) {
        const RegResult rc = DeleteKeyTree(store, now);
        if (rc != kErrorSuccess) return rc;
    }
    for (const std::string& path : prior.keys) {
        const RegResult rc = MakeKey(store, prior.root, path);
        if (rc != kErrorSuccess) return rc;
    }
    for (const StoredValue& value : prior.values) {
        const RegResult rc = WriteStoredValue(store, value);
        if (rc != kErrorSuccess) return rc;
    }
    return kErrorSuccess;
}

void NoteScope(KeyHandle root, WrittenScopes* scopes) {
    if (root == kHkeyCurrentUser) scopes->user = true;
    else scopes->machine = true;
}

bool IsFontSmoothingValue(const StoredValue& value) {
    return value.root == kHkeyCurrentUser && SameAsciiNoCase(value.keyPath, kDesktopKeyPath) &&
           (SameAsciiNoCase(value.name, kFontSmoothingValue) || SameAsciiNoCase(value.name, kFontSmoothingTypeValue) ||
            SameAsciiNoCase(value.name, kFontSmoothingOrientationValue));
}

// Font smoothing as the prior values give it, by the rule Windows reads
// them with, handed to the store's system parameters.
void PutBackFontSmoothing(RegistryStore& store, const std::vector<PriorValue>& prior) {
    MemoryRegistryStore scratch;
    bool haveOrientation = false;
    std::uint32_t orientation = 0;
    for (const PriorValue& value : prior) {
        if (!IsFontSmoothingValue(value) || !value.present) continue;
        scratch.PutValueW(value.root, value.keyPath, value.name, value.type, value.data);
        if (SameAsciiNoCase(value.name, kFontSmoothingOrientationValue) && value.type == kRegDword &&
            value.data.size() == 4) {
            haveOrientation = true;
            orientation = LoadLe32(value.data.data());
        }
    }
    RegistrySystemParameters was(scratch);
    bool on = false;
    std::uint32_t type = 0;
    if (was.GetFontSmoothing(&on) != SystemParameters::Read::Ok) return;
    const std::unique_ptr<SystemParameters> parameters = store.OpenSystemParameters();
    if (!parameters) return;
    parameters->SetFontSmoothing(on);
    if (on && was.GetFontSmoothingType(&type) == SystemParameters::Read::Ok) parameters->SetFontSmoothingType(type);
    if (haveOrientation) parameters->SetFontSmoothingOrientation(orientation);
}

}  // namespace

std::string PlaceName(KeyHandle root, const std::string& keyPath, const std::string& name) {
    std::string text = Utf16ToUtf8(RootName(root)) + "\\" + keyPath;
    if (!name.empty()) text += "\\" + name;
    return text;
}

void PriorState::Add(const Setting& row) {
    if (!row.HasState()) {
        AddTree(row.root, Join(row.keyPath, row.valueNames[0]));
        return;
    }
    for (std::size_t i = 0; i < row.ValueCount(); ++i) AddValue(row.root, row.keyPath, row.valueNames[i]);
}

void PriorState::AddValue(KeyHandle root, const std::string& keyPath, const std::string& name) {
    for (const PriorValue& value : values_)
        if (SamePlace(root, keyPath, name, value)) return;
    values_.push_back(PriorValue{{root, keyPath, name, false, kRegNone, {}}, keyPath});
}

void PriorState::AddTree(KeyHandle root, const std::string& keyPath) {
    for (const KeyTree& tree : trees_)
        if (tree.root == root && SameAsciiNoCase(tree.keyPath, keyPath)) return;
    KeyTree tree;
    tree.root = root;
    tree.keyPath = keyPath;
    trees_.push_back(std::move(tree));
}

bool PriorState::Read(RegistryStore& store, std::string* error) {
    for (PriorValue& value : values_)
        if (!ReadValue(store, &value, error)) return false;
    for (KeyTree& tree : trees_)
        if (!ReadTree(store, &tree, error)) return false;
    return true;
}

PutBackResult PriorState::PutBack(RegistryStore& store) const {
    PutBackResult result;
    // What differs now; a place that cannot be read is written back anyway.
    std::vector<const PriorValue*> changed;
    bool fontSmoothing = false;
    for (const PriorValue& prior : values_) {
        PriorValue now = prior;
        std::string ignored;
        if (ReadValue(store, &now, &ignored) && SameValue(prior, now)) continue;
        changed.push_back(&prior);
        fontSmoothing = fontSmoothing || IsFontSmoothingValue(prior);
    }
    if (fontSmoothing) PutBackFontSmoothing(store, values_);
    for (const PriorValue* prior : changed) {
        if (WriteStoredValue(store, *prior) == kErrorSuccess) continue;
        result.failed.push_back(PlaceName(prior->root, prior->keyPath, prior->name));
        NoteScope(prior->root, &result.stillChanged);
    }
    // Keys made on the way to values that were absent, written or not.
    for (const PriorValue& prior : values_)
        if (!prior.present && prior.existingKey != prior.keyPath)
            RemoveMadeKeys(store, prior.root, prior.keyPath, prior.existingKey);
    for (const KeyTree& prior : trees_) {
        KeyTree now = prior;
        std::string ignored;
        const bool read = ReadTree(store, &now, &ignored);
        if (read && SameTree(prior, now)) continue;
        if (read && WriteTreeBack(store, prior, now) == kErrorSuccess) continue;
        result.failed.push_back(PlaceName(prior.root, prior.keyPath, ""));
        NoteScope(prior.root, &result.stillChanged);
    }
    return result;
}

std::vector<RegEdit> PriorState::UndoEdits() const {
    std::vector<RegEdit> edits;
    const auto valueEdit = [](const StoredValue& value) {
        RegEdit edit;
        edit.kind = value.present ? RegEdit::Kind::Value : RegEdit::Kind::DeleteValue;
        edit.raw = value.present;
        edit.value = RegValue{value.root, value.keyPath, value.name, value.type, value.data};
        return edit;
    };
    for (const PriorValue& value : values_) edits.push_back(valueEdit(value));
    for (const KeyTree& tree : trees_) {
        edits.push_back({RegEdit::Kind::DeleteKey, RegValue{tree.root, tree.keyPath, "", kRegNone, {}}, false});
        for (const std::string& key : tree.keys) {
            edits.push_back({RegEdit::Kind::Key, RegValue{tree.root, key, "", kRegNone, {}}, false});
            for (const StoredValue& value : tree.values)
                if (value.keyPath == key) edits.push_back(valueEdit(value));
        }
    }
    return edits;
}

}  // namespace kestro
