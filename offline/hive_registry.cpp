#include "offline/hive_registry.h"

#include "offline/hive_limits.h"

#include "core/bytes.h"
#include "core/localized.h"
#include "core/text.h"

#include <hivex.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kestro {

namespace {

constexpr int kSoftware = static_cast<int>(HiveRegistryStore::Slot::Software);
constexpr int kSystem = static_cast<int>(HiveRegistryStore::Slot::System);
constexpr int kUser = static_cast<int>(HiveRegistryStore::Slot::User);

// Takes ownership of a string hivex allocated.
std::string Take(char* s) {
    std::string out = s ? s : "";
    std::free(s);
    return out;
}

RegResult CopyOut(const std::vector<std::uint8_t>& bytes, std::uint32_t storedType, std::uint32_t* type,
                  std::uint8_t* data, std::uint32_t* size) {
    if (data && !size) return kErrorInvalidParameter;
    if (type) *type = storedType;
    auto needed = static_cast<std::uint32_t>(bytes.size());
    if (data) {
        if (*size < needed) {
            *size = needed;
            return kErrorMoreData;
        }
        if (needed) std::memcpy(data, bytes.data(), needed);
    }
    if (size) *size = needed;
    return kErrorSuccess;
}

}  // namespace

HiveRegistryStore::HiveRegistryStore(CodePage codePage) : codePage_(codePage) {}
HiveRegistryStore::~HiveRegistryStore() = default;

void HiveRegistryStore::Mount(Slot slot, std::unique_ptr<HiveFile> hive) {
    int index = static_cast<int>(slot);
    for (auto it = pending_.begin(); it != pending_.end();)
        it = it->first.first == index ? pending_.erase(it) : std::next(it);
    hives_[index] = std::move(hive);
}

HiveFile* HiveRegistryStore::Mounted(Slot slot) const { return Hive(static_cast<int>(slot)); }

KeyHandle HiveRegistryStore::NewHandle(const Location& at, std::uint32_t access) {
    KeyHandle handle = nextHandle_;
    nextHandle_ += 4;
    handles_[handle] = Handle{at, access, false};
    return handle;
}

RegResult HiveRegistryStore::Writable(int slot) {
    HiveFile* hive = Hive(slot);
    if (!hive) return kErrorAccessDenied;
    return hive->WriteRefusal().empty() ? kErrorSuccess : kErrorAccessDenied;
}

RegResult HiveRegistryStore::WalkableTree(int slot) {
    HiveFile* hive = Hive(slot);
    if (!hive) return kErrorFileNotFound;
    if (!treeChecked_[slot]) {
        treeChecked_[slot] = true;
        const std::string loop = FindKeyLoop(hive->Handle());
        if (!loop.empty()) treeProblem_[slot] = Localized("%1: %2. Nothing was written to it.", hive->Path(), loop);
    }
    return treeProblem_[slot].empty() ? kErrorSuccess : kErrorBadDb;
}

RegResult HiveRegistryStore::SubKeys(const Location& at, std::vector<std::size_t>* children) {
    RegResult rc = WalkableTree(at.slot);
    if (rc != kErrorSuccess) return rc;
    errno = 0;
    hive_node_h* list = hivex_node_children(Hive(at.slot)->Handle(), at.node);
    if (!list) return kErrorBadDb;
    for (hive_node_h* c = list; *c; ++c) children->push_back(*c);
    std::free(list);
    return kErrorSuccess;
}

RegResult HiveRegistryStore::ClassesRoot(bool create, Location* at) {
    HiveFile* hive = Hive(kSoftware);
    if (!hive) return kErrorFileNotFound;
    return Step(Location{kSoftware, hivex_root(hive->Handle())}, "Classes", create, at);
}

RegResult HiveRegistryStore::Resolve(KeyHandle key, bool create, Location* at) {
    switch (key) {
        case kHkeyLocalMachine:
            *at = Location{};
            return kErrorSuccess;
        case kHkeyCurrentUser:
            if (!Hive(kUser)) return kErrorFileNotFound;
            *at = Location{kUser, hivex_root(Hive(kUser)->Handle())};
            return kErrorSuccess;
        case kHkeyClassesRoot:
            return ClassesRoot(create, at);
        default:
            break;
    }
    auto it = handles_.find(key);
    if (it == handles_.end()) return kErrorInvalidHandle;
    if (it->second.deleted) return kErrorKeyDeleted;
    *at = it->second.at;
    return kErrorSuccess;
}

// CurrentControlSet exists only in a running Windows: offline it is the
// ControlSet00N that SYSTEM\Select\Current names. It is never created.
RegResult HiveRegistryStore::CurrentControlSet(Location* to) {
    hive_h* h = Hive(kSystem)->Handle();
    hive_node_h root = hivex_root(h);
    errno = 0;
    hive_node_h select = hivex_node_get_child(h, root, "Select");
    if (!select) return errno ? kErrorBadDb : kErrorFileNotFound;
    Value current;
    RegResult rc = FindValue(Location{kSystem, select}, "Current", &current);
    if (rc != kErrorSuccess) return rc;
    if (current.type != kRegDword || current.data.size() != 4) return kErrorFileNotFound;
    const std::uint32_t n = LoadLe32(current.data.data());
    if (n == 0 || n > 999) return kErrorFileNotFound;
    char name[16];
    std::snprintf(name, sizeof name, "ControlSet%03u", n);
    errno = 0;
    hive_node_h set = hivex_node_get_child(h, root, name);
    if (!set) return errno ? kErrorBadDb : kErrorFileNotFound;
    *to = Location{kSystem, set};
    return kErrorSuccess;
}

RegResult HiveRegistryStore::Step(const Location& from, const std::string& name, bool create, Location* to) {
    if (from.slot < 0) {
        // HKEY_LOCAL_MACHINE holds the two mounted hives and nothing else.
        int slot = SameAsciiNoCase(name, "SOFTWARE") ? kSoftware : SameAsciiNoCase(name, "SYSTEM") ? kSystem : -1;
        if (slot >= 0 && Hive(slot)) {
            *to = Location{slot, hivex_root(Hive(slot)->Handle())};
            return kErrorSuccess;
        }
        return create ? kErrorAccessDenied : kErrorFileNotFound;
    }
    HiveFile* hive = Hive(from.slot);
    hive_h* h = hive->Handle();
    if (from.slot == kSystem && from.node == hivex_root(h) && SameAsciiNoCase(name, "CurrentControlSet"))
        return CurrentControlSet(to);

    std::string utf8 = AnsiToUtf8(name);
    errno = 0;
    hive_node_h child = hivex_node_get_child(h, from.node, utf8.c_str());
    if (child) {
        *to = Location{from.slot, child};
        return kErrorSuccess;
    }
    if (errno) return kErrorBadDb;
    if (!create) return kErrorFileNotFound;
    RegResult rc = Writable(from.slot);
    if (rc != kErrorSuccess) return rc;
    // hivex hashes and sorts sub-key lists by upper-cased ASCII only: a key
    // with any other letter could be put where Windows would not find it.
    if (name.size() > 255 || std::any_of(name.begin(), name.end(), [](char c) {
            return static_cast<unsigned char>(c) >= 0x80 || static_cast<unsigned char>(c) < 0x20;
        }))
        return kErrorInvalidParameter;
    errno = 0;
    child = hivex_node_add_child(h, from.node, utf8.c_str());
    if (!child) return kErrorBadDb;
    hive->MarkChanged();
    *to = Location{from.slot, child};
    return kErrorSuccess;
}

RegResult HiveRegistryStore::Walk(const Location& from, const std::string& path, bool create, Location* to,
                                  std::string* lastName) {
    Location at = from;
    for (const std::string& name : SplitKeyPath(path)) {
        Location next;
        RegResult rc = Step(at, name, create, &next);
        if (rc != kErrorSuccess) return rc;
        if (lastName) *lastName = name;
        at = next;
    }
    *to = at;
    return kErrorSuccess;
}

RegResult HiveRegistryStore::CreateKey(KeyHandle base, const std::string& name, std::uint32_t access,
                                       KeyHandle* result) {
    if (!name.empty() && name[0] == '\\') return kErrorBadPathname;
    Location at;
    RegResult rc = Resolve(base, true, &at);
    if (rc == kErrorSuccess) rc = Walk(at, name, true, &at);
    if (rc != kErrorSuccess) return rc;
    *result = NewHandle(at, access);
    return kErrorSuccess;
}

RegResult HiveRegistryStore::OpenKey(KeyHandle base, const std::string& name, std::uint32_t access,
                                     KeyHandle* result) {
    Location at;
    RegResult rc = Resolve(base, false, &at);
    if (rc == kErrorSuccess) rc = Walk(at, name, false, &at);
    if (rc != kErrorSuccess) return rc;
    *result = NewHandle(at, access);
    return kErrorSuccess;
}

bool HiveRegistryStore::ReadValues(const Location& at, std::vector<Value>* values) {
    hive_h* h = Hive(at.slot)->Handle();
    errno = 0;
    hive_value_h* list = hivex_node_values(h, at.node);
    if (!list) return false;
    bool ok = true;
    for (hive_value_h* v = list; ok && *v; ++v) {
        Value value;
        errno = 0;
        char* key = hivex_value_key(h, *v);
        std::uint32_t type = 0;
        std::size_t len = 0;
        char* data = HiveValueData(h, *v, &type, &len);
        ok = key && data;
        if (ok) {
            value.name = key;
            value.type = type;
            value.data.assign(data, data + len);
            values->push_back(std::move(value));
        }
        std::free(key);
        std::free(data);
    }
    std::free(list);
    return ok;
}

RegResult HiveRegistryStore::FindValue(const Location& at, const std::string& name, Value* value) {
    auto pending = pending_.find(NodeKey(at.slot, at.node));
    if (pending != pending_.end()) {
        for (const Value& v : pending->second)
            if (SameAsciiNoCase(v.name, name)) {
                *value = v;
                return kErrorSuccess;
            }
        return kErrorFileNotFound;
    }
    hive_h* h = Hive(at.slot)->Handle();
    errno = 0;
    hive_value_h v = hivex_node_get_value(h, at.node, name.c_str());
    if (!v) return errno ? kErrorBadDb : kErrorFileNotFound;
    std::uint32_t type = 0;
    std::size_t len = 0;
    char* data = HiveValueData(h, v, &type, &len);
    if (!data) return kErrorBadDb;
    value->name = Take(hivex_value_key(h, v));
    value->type = type;
    value->data.assign(data, data + len);
    std::free(data);
    return kErrorSuccess;
}

std::string HiveRegistryStore::AnsiToUtf8(const std::string& text) const {
    return Utf16ToUtf8(AnsiToUtf16(text, codePage_));
}

std::string HiveRegistryStore::Utf8ToAnsi(const std::string& text) const {
    return Utf16ToAnsi(Utf8ToUtf16(text), codePage_);
}

RegResult HiveRegistryStore::QueryValueW(KeyHandle key, const std::string& name, std::uint32_t* type,
                                         std::uint8_t* data, std::uint32_t* size) {
    Location at;
    RegResult rc = Resolve(key, false, &at);
    if (rc != kErrorSuccess) return rc;
    if (at.slot < 0) return kErrorFileNotFound;  // HKEY_LOCAL_MACHINE holds no values
    Value value;
    rc = FindValue(at, AnsiToUtf8(name), &value);
    if (rc != kErrorSuccess) return rc;
    return CopyOut(value.data, value.type, type, data, size);
}

RegResult HiveRegistryStore::QueryValue(KeyHandle key, const std::string& name, std::uint32_t* type,
                                        std::uint8_t* data, std::uint32_t* size) {
    Location at;
    RegResult rc = Resolve(key, false, &at);
    if (rc != kErrorSuccess) return rc;
    if (at.slot < 0) return kErrorFileNotFound;
    Value value;
    rc = FindValue(at, AnsiToUtf8(name), &value);
    if (rc != kErrorSuccess) return rc;
    if (IsTextType(value.type)) {
        std::string ansi = Utf16ToAnsi(Utf16FromLeBytes(value.data), codePage_);
        value.data.assign(ansi.begin(), ansi.end());
    }
    return CopyOut(value.data, value.type, type, data, size);
}

RegResult HiveRegistryStore::SetValueW(KeyHandle key, const std::string& name, std::uint32_t type,
                                       const std::uint8_t* data, std::uint32_t size) {
    if (size && !data) return kErrorInvalidParameter;
    return Store(key, AnsiToUtf8(name), type, data, size);
}

// The key a value is set in or deleted from, when the handle may change its
// values. As on Windows, a handle opened without KEY_SET_VALUE cannot write;
// a predefined root carries every right.
RegResult HiveRegistryStore::ResolveForValueChange(KeyHandle key, Location* at) {
    RegResult rc = Resolve(key, true, at);
    if (rc != kErrorSuccess) return rc;
    if (at->slot < 0) return kErrorAccessDenied;
    auto handle = handles_.find(key);
    if (handle != handles_.end() && (handle->second.access & kKeySetValue) == 0) return kErrorAccessDenied;
    return Writable(at->slot);
}

RegResult HiveRegistryStore::Store(KeyHandle key, const std::string& name, std::uint32_t type,
                                   const std::uint8_t* data, std::uint32_t size) {
    if (size && !data) return kErrorInvalidParameter;
    Location at;
    RegResult rc = ResolveForValueChange(key, &at);
    if (rc != kErrorSuccess) return rc;
    // A key whose values a deletion emptied stays in the batch with none:
    // it is not read from the hive again.
    const bool wasPending = pending_.count(NodeKey(at.slot, at.node)) != 0;
    auto& values = pending_[NodeKey(at.slot, at.node)];
    if (!wasPending && !ReadValues(at, &values)) {
        pending_.erase(NodeKey(at.slot, at.node));
        return kErrorBadDb;
    }
    auto it = std::find_if(values.begin(), values.end(), [&](const Value& v) { return SameAsciiNoCase(v.name, name); });
    if (it == values.end()) {
        values.push_back(Value{name, type, {}});
        it = values.end() - 1;
    }
    // A replaced value keeps its place and the spelling of its name.
    it->type = type;
    it->data.assign(data, data + size);
    Hive(at.slot)->MarkChanged();
    return kErrorSuccess;
}

RegResult HiveRegistryStore::SetValue(KeyHandle key, const std::string& name, std::uint32_t type,
                                      const std::uint8_t* data, std::uint32_t size) {
    if (size && !data) return kErrorInvalidParameter;
    if (IsTextType(type)) {
        const std::vector<std::uint8_t> wide = Utf16LeBytes(AnsiToUtf16(std::string(data, data + size), codePage_));
        return Store(key, AnsiToUtf8(name), type, wide.data(), static_cast<std::uint32_t>(wide.size()));
    }
    return Store(key, AnsiToUtf8(name), type, data, size);
}

RegResult HiveRegistryStore::QueryInfoKey(KeyHandle key, std::uint32_t* subKeys, std::uint32_t* maxSubKeyLen) {
    Location at;
    RegResult rc = Resolve(key, false, &at);
    if (rc != kErrorSuccess) return rc;
    std::uint32_t count = 0, longest = 0;
    if (at.slot < 0) {
        if (Hive(kSoftware)) ++count, longest = 8;
        if (Hive(kSystem)) ++count, longest = std::max(longest, 6u);
    } else {
        std::vector<std::size_t> children;
        rc = SubKeys(at, &children);
        if (rc != kErrorSuccess) return rc;
        hive_h* h = Hive(at.slot)->Handle();
        for (std::size_t child : children) {
            ++count;
            longest = std::max(longest, static_cast<std::uint32_t>(Utf8ToUtf16(Take(hivex_node_name(h, child))).size()));
        }
    }
    if (subKeys) *subKeys = count;
    if (maxSubKeyLen) *maxSubKeyLen = longest;
    return kErrorSuccess;
}

namespace {

// A name handed out as RegEnumKeyEx and RegEnumValue hand it: with its NUL,
// the length without it, or kErrorMoreData where the buffer is too short.
RegResult CopyName(const std::string& found, char* name, std::uint32_t* nameLen) {
    if (found.size() + 1 > *nameLen) return kErrorMoreData;
    std::memcpy(name, found.c_str(), found.size() + 1);
    *nameLen = static_cast<std::uint32_t>(found.size());
    return kErrorSuccess;
}

}  // namespace

RegResult HiveRegistryStore::EnumKey(KeyHandle key, std::uint32_t index, char* name, std::uint32_t* nameLen) {
    Location at;
    RegResult rc = Resolve(key, false, &at);
    if (rc != kErrorSuccess) return rc;
    if (!name || !nameLen) return kErrorInvalidParameter;
    std::string child;
    if (at.slot < 0) {
        std::vector<std::string> mounted;
        if (Hive(kSoftware)) mounted.push_back("SOFTWARE");
        if (Hive(kSystem)) mounted.push_back("SYSTEM");
        if (index >= mounted.size()) return kErrorNoMoreItems;
        child = mounted[index];
    } else {
        std::vector<std::size_t> children;
        rc = SubKeys(at, &children);
        if (rc != kErrorSuccess) return rc;
        if (index >= children.size()) return kErrorNoMoreItems;
        child = Utf8ToAnsi(Take(hivex_node_name(Hive(at.slot)->Handle(), children[index])));
    }
    return CopyName(child, name, nameLen);
}

RegResult HiveRegistryStore::DeleteKey(KeyHandle base, const std::string& name) {
    Location from, target;
    RegResult rc = Resolve(base, false, &from);
    if (rc != kErrorSuccess) return rc;
    std::string last;
    rc = Walk(from, name, false, &target, &last);
    if (rc != kErrorSuccess) return rc;
    // Neither a hive's root, nor HKEY_CLASSES_ROOT itself, nor the control
    // set Windows boots from, whatever it is called.
    if (target.slot < 0 || last.empty() || target.node == hivex_root(Hive(target.slot)->Handle()) ||
        SameAsciiNoCase(last, "CurrentControlSet"))
        return kErrorAccessDenied;
    hive_h* h = Hive(target.slot)->Handle();
    errno = 0;
    std::size_t children = hivex_node_nr_children(h, target.node);
    if (errno) return kErrorBadDb;
    if (children > 0) return kErrorAccessDenied;
    rc = Writable(target.slot);
    if (rc != kErrorSuccess) return rc;
    if (hivex_node_delete_child(h, target.node) != 0) return kErrorBadDb;
    pending_.erase(NodeKey(target.slot, target.node));
    for (auto& entry : handles_)
        if (entry.second.at.slot == target.slot && entry.second.at.node == target.node) entry.second.deleted = true;
    Hive(target.slot)->MarkChanged();
    return kErrorSuccess;
}

RegResult HiveRegistryStore::DeleteValue(KeyHandle key, const std::string& name) {
    Location at;
    RegResult rc = ResolveForValueChange(key, &at);
    if (rc != kErrorSuccess) return rc;
    // The key's values as they will be written: a deletion is one more
    // change to the batch.
    const NodeKey node(at.slot, at.node);
    const bool wasPending = pending_.count(node) != 0;
    auto& values = pending_[node];
    if (!wasPending && !ReadValues(at, &values)) {
        pending_.erase(node);
        return kErrorBadDb;
    }
    const std::string utf8 = AnsiToUtf8(name);
    auto it = std::find_if(values.begin(), values.end(), [&](const Value& v) { return SameAsciiNoCase(v.name, utf8); });
    if (it == values.end()) {
        if (!wasPending) pending_.erase(node);
        return kErrorFileNotFound;
    }
    values.erase(it);
    Hive(at.slot)->MarkChanged();
    return kErrorSuccess;
}

RegResult HiveRegistryStore::EnumValue(KeyHandle key, std::uint32_t index, char* name, std::uint32_t* nameLen) {
    Location at;
    RegResult rc = Resolve(key, false, &at);
    if (rc != kErrorSuccess) return rc;
    if (!name || !nameLen) return kErrorInvalidParameter;
    if (at.slot < 0) return kErrorNoMoreItems;  // HKEY_LOCAL_MACHINE itself holds no values
    std::vector<Value> read;
    const auto pending = pending_.find(NodeKey(at.slot, at.node));
    if (pending == pending_.end() && !ReadValues(at, &read)) return kErrorBadDb;
    const std::vector<Value>& values = pending == pending_.end() ? read : pending->second;
    if (index >= values.size()) return kErrorNoMoreItems;
    return CopyName(Utf8ToAnsi(values[index].name), name, nameLen);
}

RegResult HiveRegistryStore::CloseKey(KeyHandle key) {
    if (key == kHkeyClassesRoot || key == kHkeyCurrentUser || key == kHkeyLocalMachine) return kErrorSuccess;
    return handles_.erase(key) ? kErrorSuccess : kErrorInvalidHandle;
}

std::vector<std::string> HiveRegistryStore::Refusals() const {
    std::vector<std::string> out;
    for (const auto& hive : hives_)
        if (hive && hive->Refused()) out.push_back(hive->WriteRefusal());
    for (const std::string& problem : treeProblem_)
        if (!problem.empty()) out.push_back(problem);
    return out;
}

bool HiveRegistryStore::HasChanges() const {
    if (!pending_.empty()) return true;
    for (const auto& hive : hives_)
        if (hive && hive->Changed()) return true;
    return false;
}

std::vector<std::string> HiveRegistryStore::ChangedFiles() const {
    std::vector<std::string> out;
    for (int slot : {kSystem, kSoftware, kUser}) {
        HiveFile* hive = Hive(slot);
        if (hive && hive->Changed()) out.push_back(hive->Path());
    }
    return out;
}

bool HiveRegistryStore::FlushValues(int slot, std::string* error) {
    hive_h* h = Hive(slot)->Handle();
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (it->first.first != slot) {
            ++it;
            continue;
        }
        // One batch per key: hivex rewrites the whole value list anyway.
        std::vector<hive_set_value> batch;
        for (Value& v : it->second) {
            hive_set_value entry{&v.name[0], hive_t_none, v.data.size(), reinterpret_cast<char*>(v.data.data())};
            // A value kept from the hive may have a type beyond hivex's enum:
            // it goes back as the same number, not through an enum cast.
            static_assert(sizeof entry.t == sizeof v.type, "hive_type is a 32-bit field");
            std::memcpy(&entry.t, &v.type, sizeof v.type);
            batch.push_back(entry);
        }
        errno = 0;
        if (hivex_node_set_values(h, it->first.second, batch.size(), batch.data(), 0) != 0) {
            *error = Localized("%1: cannot store the new values (%2). The file was left as it was.", Hive(slot)->Path(),
                               std::strerror(errno ? errno : EIO));
            return false;
        }
        it = pending_.erase(it);
    }
    return true;
}

bool HiveRegistryStore::Commit(const HiveFile::CommitOptions& options, std::string* error,
                               std::vector<std::string>* written, std::vector<std::string>* backups) {
    // The end of the write, however it ends: other writers may have the
    // hives again.
    struct Unlock {
        HiveRegistryStore& store;
        ~Unlock() {
            for (int slot : {kSystem, kSoftware, kUser})
                if (HiveFile* hive = store.Hive(slot)) hive->Unlock();
        }
    } unlock{*this};
    for (int slot : {kSystem, kSoftware, kUser}) {
        HiveFile* hive = Hive(slot);
        if (!hive || !hive->Changed()) continue;
        if (!FlushValues(slot, error)) return false;
        std::string why = hive->Commit(options);
        if (!why.empty()) {
            *error = why;
            return false;
        }
        if (written) written->push_back(hive->Path());
        if (backups && !hive->BackupPath().empty()) backups->push_back(hive->BackupPath());
        if (backups)
            for (const std::string& log : hive->LogBackupPaths()) backups->push_back(log);
    }
    return true;
}

}  // namespace kestro
