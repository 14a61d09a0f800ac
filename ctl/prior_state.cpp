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

// The registry view the engine's writers use (see RegistryCursor).
constexpr std::uint32_t kReadAccess = kKeyRead | kKeyWow64_64Key;
constexpr std::uint32_t kWriteAccess = kKeyAllAccess | kKeyWow64_64Key;
// The longest value or key name the registry allows, and its zero.
constexpr std::uint32_t kNameBuffer = 16384;

std::string ErrorText(RegResult rc) {
    switch (rc) {
        case kErrorAccessDenied: return Tr("access denied");
        default: return Tr("error %1", rc);
    }
}

bool SamePlace(KeyHandle root, const std::string& keyPath, const std::string& name, const PriorValue& value) {
    return root == value.root && SameAsciiNoCase(keyPath, value.keyPath) && SameAsciiNoCase(name, value.name);
}

std::string Join(const std::string& path, const std::string& name) { return path.empty() ? name : path + "\\" + name; }

// The value's type and bytes; kErrorFileNotFound when absent.
RegResult QueryRaw(RegistryStore& store, KeyHandle key, const std::string& name, PriorValue* value) {
    std::uint32_t size = 0;
    RegResult rc = store.QueryValueW(key, name, &value->type, nullptr, &size);
    if (rc != kErrorSuccess) return rc;
    value->data.assign(size, 0);
    rc = store.QueryValueW(key, name, &value->type, value->data.empty() ? nullptr : value->data.data(), &size);
    if (rc == kErrorSuccess) value->data.resize(size);
    value->present = rc == kErrorSuccess;
    return rc;
}

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
        rc = QueryRaw(store, key, value->name, value);
        if (rc == kErrorFileNotFound) return true;
    }
    if (rc == kErrorSuccess) return true;
    *error = PlaceName(value->root, value->keyPath, value->name) + ": " + ErrorText(rc);
    return false;
}

// Every key and value below `path` (itself included) into the tree.
bool ReadKeyTree(RegistryStore& store, PriorTree* tree, const std::string& path, std::string* error) {
    KeyHandle handle = 0;
    RegResult rc = store.OpenKey(tree->root, path, kReadAccess, &handle);
    if (rc == kErrorFileNotFound && path == tree->keyPath) return true;
    if (rc != kErrorSuccess) {
        *error = PlaceName(tree->root, path, "") + ": " + ErrorText(rc);
        return false;
    }
    UniqueKey key(store, handle);
    tree->present = true;
    tree->keys.push_back(path);
    std::vector<char> name(kNameBuffer);
    for (std::uint32_t i = 0;; ++i) {
        std::uint32_t length = kNameBuffer;
        rc = store.EnumValue(key.Get(), i, name.data(), &length);
        if (rc == kErrorNoMoreItems) break;
        PriorValue value{tree->root, path, std::string(name.data(), rc == kErrorSuccess ? length : 0), false, 0, {}, path};
        if (rc == kErrorSuccess) rc = QueryRaw(store, key.Get(), value.name, &value);
        if (rc != kErrorSuccess) {
            *error = PlaceName(tree->root, path, value.name) + ": " + ErrorText(rc);
            return false;
        }
        tree->values.push_back(std::move(value));
    }
    std::vector<std::string> children;
    for (std::uint32_t i = 0;; ++i) {
        std::uint32_t length = kNameBuffer;
        rc = store.EnumKey(key.Get(), i, name.data(), &length);
        if (rc == kErrorNoMoreItems) break;
        if (rc != kErrorSuccess) {
            *error = PlaceName(tree->root, path, "") + ": " + ErrorText(rc);
            return false;
        }
        children.emplace_back(name.data(), length);
    }
    for (const std::string& child : children)
        if (!ReadKeyTree(store, tree, Join(path, child), error)) return false;
    return true;
}

bool ReadTree(RegistryStore& store, PriorTree* tree, std::string* error) {
    tree->present = false;
    tree->keys.clear();
    tree->values.clear();
    return ReadKeyTree(store, tree, tree->keyPath, error);
}

bool SameValue(const PriorValue& a, const PriorValue& b) {
    return a.present == b.present && (!a.present || (a.type == b.type && a.data == b.data));
}

bool SameTree(const PriorTree& a, const PriorTree& b) {
    if (a.present != b.present || a.keys.size() != b.keys.size() || a.values.size() != b.values.size()) return false;
    for (std::size_t i = 0; i < a.keys.size(); ++i)
        if (!SameAsciiNoCase(a.keys[i], b.keys[i])) return false;
    for (const PriorValue& value : a.values) {
        const auto match = std::find_if(b.values.begin(), b.values.end(), [&](const PriorValue& other) {
            return SamePlace(value.root, value.keyPath, value.name, other);
        });
        if (match == b.values.end() || !SameValue(value, *match)) return false;
    }
    return true;
}

// Writes one value back as it was, or deletes it when it was absent.
RegResult WriteBack(RegistryStore& store, const PriorValue& value) {
    KeyHandle handle = 0;
    if (!value.present) {
        RegResult rc = store.OpenKey(value.root, value.keyPath, kWriteAccess, &handle);
        if (rc == kErrorFileNotFound) return kErrorSuccess;
        if (rc != kErrorSuccess) return rc;
        UniqueKey key(store, handle);
        rc = store.DeleteValue(key.Get(), value.name);
        return rc == kErrorFileNotFound ? kErrorSuccess : rc;
    }
    RegResult rc = store.CreateKey(value.root, value.keyPath, kWriteAccess, &handle);
    if (rc != kErrorSuccess) return rc;
    UniqueKey key(store, handle);
    return store.SetValueW(key.Get(), value.name, value.type, value.data.empty() ? nullptr : value.data.data(),
                           static_cast<std::uint32_t>(value.data.size()));
}

// Deletes the key and everything below it, deepest first.
RegResult DeleteTree(RegistryStore& store, const PriorTree& now) {
    for (auto key = now.keys.rbegin(); key != now.keys.rend(); ++key) {
        const std::size_t cut = key->find_last_of('\\');
        const std::string parent = cut == std::string::npos ? std::string() : key->substr(0, cut);
        const std::string name = cut == std::string::npos ? *key : key->substr(cut + 1);
        KeyHandle handle = 0;
        RegResult rc = parent.empty() ? kErrorSuccess : store.OpenKey(now.root, parent, kWriteAccess, &handle);
        if (rc != kErrorSuccess) return rc;
        UniqueKey base(store, parent.empty() ? 0 : handle);
        rc = store.DeleteKey(parent.empty() ? now.root : base.Get(), name);
        if (rc != kErrorSuccess && rc != kErrorFileNotFound) return rc;
    }
    return kErrorSuccess;
}

RegResult WriteTreeBack(RegistryStore& store, const PriorTree& prior, const PriorTree& now) {
    if (now.present) {
        const RegResult rc = DeleteTree(store, now);
        if (rc != kErrorSuccess) return rc;
    }
    for (const std::string& path : prior.keys) {
        KeyHandle handle = 0;
        const RegResult rc = store.CreateKey(prior.root, path, kWriteAccess, &handle);
        if (rc != kErrorSuccess) return rc;
        store.CloseKey(handle);
    }
    for (const PriorValue& value : prior.values) {
        const RegResult rc = WriteBack(store, value);
        if (rc != kErrorSuccess) return rc;
    }
    return kErrorSuccess;
}

void NoteScope(KeyHandle root, WrittenScopes* scopes) {
    if (root == kHkeyCurrentUser) scopes->user = true;
    else scopes->machine = true;
}

bool IsFontSmoothingValue(const PriorValue& value) {
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
    values_.push_back(PriorValue{root, keyPath, name, false, kRegNone, {}, keyPath});
}

void PriorState::AddTree(KeyHandle root, const std::string& keyPath) {
    for (const PriorTree& tree : trees_)
        if (tree.root == root && SameAsciiNoCase(tree.keyPath, keyPath)) return;
    PriorTree tree;
    tree.root = root;
    tree.keyPath = keyPath;
    trees_.push_back(std::move(tree));
}

bool PriorState::Read(RegistryStore& store, std::string* error) {
    for (PriorValue& value : values_)
        if (!ReadValue(store, &value, error)) return false;
    for (PriorTree& tree : trees_)
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
        if (WriteBack(store, *prior) == kErrorSuccess) continue;
        result.failed.push_back(PlaceName(prior->root, prior->keyPath, prior->name));
        NoteScope(prior->root, &result.stillChanged);
    }
    // Keys made on the way to values that were absent, written or not.
    for (const PriorValue& prior : values_)
        if (!prior.present && prior.existingKey != prior.keyPath)
            RemoveMadeKeys(store, prior.root, prior.keyPath, prior.existingKey);
    for (const PriorTree& prior : trees_) {
        PriorTree now = prior;
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
    const auto valueEdit = [](const PriorValue& value) {
        RegEdit edit;
        edit.kind = value.present ? RegEdit::Kind::Value : RegEdit::Kind::DeleteValue;
        edit.raw = value.present;
        edit.value = RegValue{value.root, value.keyPath, value.name, value.type, value.data};
        return edit;
    };
    for (const PriorValue& value : values_) edits.push_back(valueEdit(value));
    for (const PriorTree& tree : trees_) {
        edits.push_back({RegEdit::Kind::DeleteKey, RegValue{tree.root, tree.keyPath, "", kRegNone, {}}, false});
        for (const std::string& key : tree.keys) {
            edits.push_back({RegEdit::Kind::Key, RegValue{tree.root, key, "", kRegNone, {}}, false});
            for (const PriorValue& value : tree.values)
                if (value.keyPath == key) edits.push_back(valueEdit(value));
        }
    }
    return edits;
}

RegResult SetRawValue(RegistryStore& store, const RegValue& value) {
    return WriteBack(store, PriorValue{value.root, value.keyPath, value.name, true, value.type, value.data, value.keyPath});
}

RegResult DeleteRawValue(RegistryStore& store, const RegValue& value) {
    return WriteBack(store, PriorValue{value.root, value.keyPath, value.name, false, kRegNone, {}, value.keyPath});
}

RegResult MakeRawKey(RegistryStore& store, KeyHandle root, const std::string& keyPath) {
    KeyHandle handle = 0;
    const RegResult rc = store.CreateKey(root, keyPath, kWriteAccess, &handle);
    if (rc == kErrorSuccess) store.CloseKey(handle);
    return rc;
}

RegResult DeleteRawTree(RegistryStore& store, KeyHandle root, const std::string& keyPath) {
    PriorTree now;
    now.root = root;
    now.keyPath = keyPath;
    std::string error;
    if (!ReadTree(store, &now, &error)) return kErrorAccessDenied;
    return now.present ? DeleteTree(store, now) : kErrorSuccess;
}

}  // namespace kestro
