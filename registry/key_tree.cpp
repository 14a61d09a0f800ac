#include "registry/key_tree.h"

namespace kestro {

namespace {

// The longest value or key name the registry allows, and its zero.
constexpr std::uint32_t kNameBuffer = 16384;

std::string Join(const std::string& path, const std::string& name) { return path.empty() ? name : path + "\\" + name; }

RegResult Fail(RegResult rc, KeyTreeFailure* failure, const std::string& keyPath, const std::string& name) {
    if (failure) *failure = KeyTreeFailure{keyPath, name};
    return rc;
}

// The values of an open key, into the tree.
RegResult ReadValues(RegistryStore& store, KeyHandle key, KeyTree* tree, const std::string& path,
                     KeyTreeFailure* failure) {
    std::vector<char> name(kNameBuffer);
    for (std::uint32_t i = 0;; ++i) {
        std::uint32_t length = kNameBuffer;
        RegResult rc = store.EnumValue(key, i, name.data(), &length);
        if (rc == kErrorNoMoreItems) return kErrorSuccess;
        StoredValue value{tree->root, path, std::string(name.data(), rc == kErrorSuccess ? length : 0), false, 0, {}};
        if (rc == kErrorSuccess) rc = QueryStoredValue(store, key, value.name, &value);
        if (rc != kErrorSuccess) return Fail(rc, failure, path, value.name);
        tree->values.push_back(std::move(value));
    }
}

// The names of an open key's sub-keys.
RegResult ReadChildren(RegistryStore& store, KeyHandle key, const std::string& path, std::vector<std::string>* children,
                       KeyTreeFailure* failure) {
    std::vector<char> name(kNameBuffer);
    for (std::uint32_t i = 0;; ++i) {
        std::uint32_t length = kNameBuffer;
        const RegResult rc = store.EnumKey(key, i, name.data(), &length);
        if (rc == kErrorNoMoreItems) return kErrorSuccess;
        if (rc != kErrorSuccess) return Fail(rc, failure, path, "");
        children->emplace_back(name.data(), length);
    }
}

// Every key and value below `path` (itself included) into the tree.
RegResult ReadKeyAndBelow(RegistryStore& store, KeyTree* tree, const std::string& path, KeyTreeFailure* failure) {
    KeyHandle handle = 0;
    RegResult rc = store.OpenKey(tree->root, path, kReadAccess, &handle);
    if (rc == kErrorFileNotFound && path == tree->keyPath) return kErrorSuccess;
    if (rc != kErrorSuccess) return Fail(rc, failure, path, "");
    UniqueKey key(store, handle);
    tree->present = true;
    tree->keys.push_back(path);
    rc = ReadValues(store, key.Get(), tree, path, failure);
    if (rc != kErrorSuccess) return rc;
    std::vector<std::string> children;
    rc = ReadChildren(store, key.Get(), path, &children, failure);
    for (std::size_t i = 0; rc == kErrorSuccess && i < children.size(); ++i)
        rc = ReadKeyAndBelow(store, tree, Join(path, children[i]), failure);
    return rc;
}

}  // namespace

RegResult QueryStoredValue(RegistryStore& store, KeyHandle key, const std::string& name, StoredValue* value) {
    std::uint32_t size = 0;
    RegResult rc = store.QueryValueW(key, name, &value->type, nullptr, &size);
    if (rc != kErrorSuccess) return rc;
    value->data.assign(size, 0);
    rc = store.QueryValueW(key, name, &value->type, value->data.empty() ? nullptr : value->data.data(), &size);
    if (rc == kErrorSuccess) value->data.resize(size);
    value->present = rc == kErrorSuccess;
    return rc;
}

RegResult ReadKeyTree(RegistryStore& store, KeyTree* tree, KeyTreeFailure* failure) {
    tree->present = false;
    tree->keys.clear();
    tree->values.clear();
    return ReadKeyAndBelow(store, tree, tree->keyPath, failure);
}

RegResult DeleteKeyTree(RegistryStore& store, const KeyTree& tree) {
    for (auto key = tree.keys.rbegin(); key != tree.keys.rend(); ++key) {
        const std::size_t cut = key->find_last_of('\\');
        const std::string parent = cut == std::string::npos ? std::string() : key->substr(0, cut);
        const std::string name = cut == std::string::npos ? *key : key->substr(cut + 1);
        KeyHandle handle = 0;
        RegResult rc = parent.empty() ? kErrorSuccess : store.OpenKey(tree.root, parent, kWriteAccess, &handle);
        if (rc != kErrorSuccess) return rc;
        UniqueKey base(store, parent.empty() ? 0 : handle);
        rc = store.DeleteKey(parent.empty() ? tree.root : base.Get(), name);
        if (rc != kErrorSuccess && rc != kErrorFileNotFound) return rc;
    }
    return kErrorSuccess;
}

RegResult DeleteKeyTree(RegistryStore& store, KeyHandle root, const std::string& keyPath) {
    KeyTree now;
    now.root = root;
    now.keyPath = keyPath;
    const RegResult rc = ReadKeyTree(store, &now);
    if (rc != kErrorSuccess) return rc;
    return now.present ? DeleteKeyTree(store, now) : kErrorSuccess;
}

RegResult WriteStoredValue(RegistryStore& store, const StoredValue& value) {
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

RegResult MakeKey(RegistryStore& store, KeyHandle root, const std::string& keyPath) {
    KeyHandle handle = 0;
    const RegResult rc = store.CreateKey(root, keyPath, kWriteAccess, &handle);
    if (rc == kErrorSuccess) store.CloseKey(handle);
    return rc;
}

}  // namespace kestro
