#include "registry/memory_registry.h"

#include "core/text.h"

#include <algorithm>
#include <cstring>
#include <sstream>

namespace kestro {

namespace {

int RootIndex(KeyHandle key) {
    switch (key) {
        case kHkeyClassesRoot: return 0;
        case kHkeyCurrentUser: return 1;
        case kHkeyLocalMachine: return 2;
        default: return -1;
    }
}

const char* const kRootNames[3] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"};

// The rights that change a key (winnt.h): KEY_SET_VALUE, KEY_CREATE_SUB_KEY,
// KEY_CREATE_LINK, DELETE, WRITE_DAC and WRITE_OWNER.
constexpr std::uint32_t kChangeRights = kKeySetValue | 0x0004 | 0x0020 | 0x10000 | 0x40000 | 0x80000;

}  // namespace

struct MemoryRegistryStore::Node {
    std::string name;            // as first created
    Node* parent = nullptr;      // null for a root and for a deleted key
    bool deleted = false;
    std::map<std::string, NodePtr> children;  // by upper-case name: enumerated in sorted order
    struct NamedValue {
        std::string name;
        Value value;
    };
    std::map<std::string, NamedValue> values;  // by upper-case name

    std::string FullPath() const {  // "ROOT\\A\\B" as created
        return parent ? parent->FullPath() + "\\" + name : name;
    }
};

MemoryRegistryStore::MemoryRegistryStore(CodePage codePage) : codePage_(codePage) {
    for (int i = 0; i < 3; ++i) {
        roots_[i] = std::make_shared<Node>();
        roots_[i]->name = kRootNames[i];
    }
}

MemoryRegistryStore::~MemoryRegistryStore() = default;

bool MemoryRegistryStore::Fails(Op op, const std::string& name, bool withData, RegResult* error) {
    journal_.push_back({op, name, withData});
    ++calls_[op];
    ++calls_[Op::Any];
    for (auto armed = armed_.begin(); armed != armed_.end(); ++armed) {
        if ((armed->op != Op::Any && armed->op != op) || calls_[armed->op] != armed->at) continue;
        *error = armed->error;
        armed_.erase(armed);
        return true;
    }
    return false;
}

MemoryRegistryStore::NodePtr MemoryRegistryStore::Resolve(KeyHandle key) const {
    int root = RootIndex(key);
    if (root >= 0) return roots_[root];
    auto it = handles_.find(key);
    return it == handles_.end() ? nullptr : it->second.node;
}

bool MemoryRegistryStore::MayWrite(KeyHandle key, const NodePtr& node) const {
    if (IsWriteDenied(node->FullPath())) return false;
    // A predefined root carries every right its key grants.
    auto it = handles_.find(key);
    return it == handles_.end() || (it->second.access & kKeySetValue) != 0;
}

bool MemoryRegistryStore::Covers(const std::vector<std::string>& prefixes, const std::string& path) {
    std::string upper = AsciiUpper(path);
    for (const std::string& denied : prefixes) {
        if (upper == denied) return true;
        if (upper.size() > denied.size() && upper.compare(0, denied.size(), denied) == 0 &&
            upper[denied.size()] == '\\')
            return true;
    }
    return false;
}

RegResult MemoryRegistryStore::Enter(Op op, const std::string& name, bool withData, KeyHandle key, NodePtr* node) {
    RegResult error;
    if (Fails(op, name, withData, &error)) return error;
    *node = Resolve(key);
    if (!*node) return kErrorInvalidHandle;
    if ((*node)->deleted) return kErrorKeyDeleted;
    return kErrorSuccess;
}

// The sub-key `name` of `node`, made when missing.
MemoryRegistryStore::NodePtr MemoryRegistryStore::MakeChild(const NodePtr& node, const std::string& name) {
    NodePtr& child = node->children[AsciiUpper(name)];
    if (!child) {
        child = std::make_shared<Node>();
        child->name = name;
        child->parent = node.get();
    }
    return child;
}

KeyHandle MemoryRegistryStore::NewHandle(const NodePtr& node, std::uint32_t access) {
    KeyHandle handle = nextHandle_;
    nextHandle_ += 4;
    handles_[handle] = OpenHandle{node, access};
    return handle;
}

RegResult MemoryRegistryStore::CreateKey(KeyHandle base, const std::string& name, std::uint32_t access,
                                         KeyHandle* result) {
    NodePtr node;
    if (RegResult error = Enter(Op::CreateKey, name, false, base, &node)) return error;
    if (!name.empty() && name[0] == '\\') return kErrorBadPathname;
    std::vector<std::string> names = SplitKeyPath(name);
    // Check the rights on the whole way first, so that a denied level
    // creates nothing below it.
    std::string path = node->FullPath();
    const Node* existing = node.get();
    for (const std::string& n : names) {
        path += "\\" + n;
        if (IsDenied(path)) return kErrorAccessDenied;
        if (existing) {
            auto it = existing->children.find(AsciiUpper(n));
            existing = it == existing->children.end() ? nullptr : it->second.get();
        }
        if (!existing && IsWriteDenied(path)) return kErrorAccessDenied;  // would be created
    }
    if (names.empty() && IsDenied(path)) return kErrorAccessDenied;
    if ((access & kChangeRights) && IsWriteDenied(path)) return kErrorAccessDenied;
    for (const std::string& n : names) {
        node = MakeChild(node, n);
    }
    *result = NewHandle(node, access);
    return kErrorSuccess;
}

RegResult MemoryRegistryStore::OpenKey(KeyHandle base, const std::string& name, std::uint32_t access,
                                       KeyHandle* result) {
    NodePtr node;
    if (RegResult error = Enter(Op::OpenKey, name, false, base, &node)) return error;
    for (const std::string& n : SplitKeyPath(name)) {
        auto it = node->children.find(AsciiUpper(n));
        if (it == node->children.end()) return kErrorFileNotFound;
        node = it->second;
    }
    if (IsDenied(node->FullPath())) return kErrorAccessDenied;
    if ((access & kChangeRights) && IsWriteDenied(node->FullPath())) return kErrorAccessDenied;
    *result = NewHandle(node, access);
    return kErrorSuccess;
}

MemoryRegistryStore::Value MemoryRegistryStore::ToAnsiView(const Value& kept) const {
    if (!IsTextType(kept.type)) return kept;
    Value view;
    view.type = kept.type;
    std::string ansi = Utf16ToAnsi(Utf16FromLeBytes(kept.data), codePage_);
    view.data.assign(ansi.begin(), ansi.end());
    return view;
}

MemoryRegistryStore::Value MemoryRegistryStore::FromAnsiView(std::uint32_t type, const std::uint8_t* data,
                                                             std::uint32_t size) const {
    Value kept;
    kept.type = type;
    if (size) kept.data.assign(data, data + size);
    if (IsTextType(type))
        kept.data = Utf16LeBytes(AnsiToUtf16(std::string(kept.data.begin(), kept.data.end()), codePage_));
    return kept;
}

RegResult MemoryRegistryStore::Query(Op op, KeyHandle key, const std::string& name, std::uint32_t* type,
                                     std::uint8_t* data, std::uint32_t* size) {
    NodePtr node;
    if (RegResult error = Enter(op, name, data != nullptr, key, &node)) return error;
    auto it = node->values.find(AsciiUpper(name));
    if (it == node->values.end()) return kErrorFileNotFound;
    const Value value = op == Op::QueryValue ? ToAnsiView(it->second.value) : it->second.value;
    if (data && !size) return kErrorInvalidParameter;
    if (type) *type = value.type;
    std::uint32_t needed = static_cast<std::uint32_t>(value.data.size());
    if (data) {
        if (*size < needed) {
            *size = needed;
            return kErrorMoreData;
        }
        if (needed) std::memcpy(data, value.data.data(), needed);
    }
    if (size) *size = needed;
    return kErrorSuccess;
}

RegResult MemoryRegistryStore::Set(Op op, KeyHandle key, const std::string& name, std::uint32_t type,
                                   const std::uint8_t* data, std::uint32_t size) {
    NodePtr node;
    if (RegResult error = Enter(op, name, true, key, &node)) return error;
    if (size && !data) return kErrorInvalidParameter;
    if (!MayWrite(key, node)) return kErrorAccessDenied;
    auto& slot = node->values[AsciiUpper(name)];
    if (slot.name.empty()) slot.name = name;
    if (op == Op::SetValue) {
        slot.value = FromAnsiView(type, data, size);
    } else {
        slot.value.type = type;
        slot.value.data.assign(data, data + size);
    }
    return kErrorSuccess;
}

RegResult MemoryRegistryStore::QueryValue(KeyHandle key, const std::string& name, std::uint32_t* type,
                                          std::uint8_t* data, std::uint32_t* size) {
    return Query(Op::QueryValue, key, name, type, data, size);
}

RegResult MemoryRegistryStore::QueryValueW(KeyHandle key, const std::string& name, std::uint32_t* type,
                                           std::uint8_t* data, std::uint32_t* size) {
    return Query(Op::QueryValueW, key, name, type, data, size);
}

RegResult MemoryRegistryStore::SetValue(KeyHandle key, const std::string& name, std::uint32_t type,
                                        const std::uint8_t* data, std::uint32_t size) {
    return Set(Op::SetValue, key, name, type, data, size);
}

RegResult MemoryRegistryStore::SetValueW(KeyHandle key, const std::string& name, std::uint32_t type,
                                         const std::uint8_t* data, std::uint32_t size) {
    return Set(Op::SetValueW, key, name, type, data, size);
}

RegResult MemoryRegistryStore::QueryInfoKey(KeyHandle key, std::uint32_t* subKeys, std::uint32_t* maxSubKeyLen) {
    NodePtr node;
    if (RegResult error = Enter(Op::QueryInfoKey, std::string(), false, key, &node)) return error;
    std::uint32_t longest = 0;
    for (const auto& child : node->children)
        longest = std::max(longest, static_cast<std::uint32_t>(child.second->name.size()));
    if (subKeys) *subKeys = static_cast<std::uint32_t>(node->children.size());
    if (maxSubKeyLen) *maxSubKeyLen = longest;
    return kErrorSuccess;
}

RegResult MemoryRegistryStore::EnumKey(KeyHandle key, std::uint32_t index, char* name, std::uint32_t* nameLen) {
    NodePtr node;
    if (RegResult error = Enter(Op::EnumKey, std::string(), false, key, &node)) return error;
    if (!name || !nameLen) return kErrorInvalidParameter;
    if (index >= node->children.size()) return kErrorNoMoreItems;
    auto it = node->children.begin();
    std::advance(it, index);
    const std::string& childName = it->second->name;
    if (childName.size() + 1 > *nameLen) return kErrorMoreData;
    std::memcpy(name, childName.c_str(), childName.size() + 1);
    *nameLen = static_cast<std::uint32_t>(childName.size());
    return kErrorSuccess;
}

RegResult MemoryRegistryStore::DeleteKey(KeyHandle base, const std::string& name) {
    NodePtr node;
    if (RegResult error = Enter(Op::DeleteKey, name, false, base, &node)) return error;
    NodePtr target = node;
    for (const std::string& n : SplitKeyPath(name)) {
        auto it = target->children.find(AsciiUpper(n));
        if (it == target->children.end()) return kErrorFileNotFound;
        target = it->second;
    }
    if (!target->parent) return kErrorAccessDenied;  // a root cannot be deleted
    if (IsDenied(target->FullPath()) || IsWriteDenied(target->FullPath())) return kErrorAccessDenied;
    if (!target->children.empty()) return kErrorAccessDenied;
    Node* parent = target->parent;
    target->deleted = true;
    target->parent = nullptr;
    parent->children.erase(AsciiUpper(target->name));
    return kErrorSuccess;
}

RegResult MemoryRegistryStore::DeleteValue(KeyHandle key, const std::string& name) {
    NodePtr node;
    if (RegResult error = Enter(Op::DeleteValue, name, false, key, &node)) return error;
    if (!MayWrite(key, node)) return kErrorAccessDenied;
    return node->values.erase(AsciiUpper(name)) ? kErrorSuccess : kErrorFileNotFound;
}

RegResult MemoryRegistryStore::EnumValue(KeyHandle key, std::uint32_t index, char* name, std::uint32_t* nameLen) {
    NodePtr node;
    if (RegResult error = Enter(Op::EnumValue, std::string(), false, key, &node)) return error;
    if (!name || !nameLen) return kErrorInvalidParameter;
    if (index >= node->values.size()) return kErrorNoMoreItems;
    auto it = node->values.begin();
    std::advance(it, index);
    const std::string& valueName = it->second.name;
    if (valueName.size() + 1 > *nameLen) return kErrorMoreData;
    std::memcpy(name, valueName.c_str(), valueName.size() + 1);
    *nameLen = static_cast<std::uint32_t>(valueName.size());
    return kErrorSuccess;
}

RegResult MemoryRegistryStore::CloseKey(KeyHandle key) {
    RegResult error;
    bool injected = Fails(Op::CloseKey, std::string(), false, &error);
    if (RootIndex(key) >= 0) return injected ? error : kErrorSuccess;
    auto it = handles_.find(key);
    if (it == handles_.end()) return kErrorInvalidHandle;
    handles_.erase(it);
    return injected ? error : kErrorSuccess;
}

void MemoryRegistryStore::Deny(KeyHandle root, const std::string& path) {
    int index = RootIndex(root);
    if (index < 0) return;
    std::string full = kRootNames[index];
    for (const std::string& n : SplitKeyPath(path)) full += "\\" + n;
    denied_.push_back(AsciiUpper(full));
}

void MemoryRegistryStore::DenyWrite(KeyHandle root, const std::string& path) {
    int index = RootIndex(root);
    if (index < 0) return;
    std::string full = kRootNames[index];
    for (const std::string& n : SplitKeyPath(path)) full += "\\" + n;
    writeDenied_.push_back(AsciiUpper(full));
}

void MemoryRegistryStore::FailCall(Op op, int n, RegResult error) {
    armed_.clear();
    AlsoFailCall(op, n, error);
}

void MemoryRegistryStore::AlsoFailCall(Op op, int n, RegResult error) {
    // Counted from now: the armed number is relative to the calls so far.
    armed_.push_back(Armed{op, n + calls_[op], error});
}

void MemoryRegistryStore::ClearFailure() { armed_.clear(); }

int MemoryRegistryStore::OpenHandleCount() const { return static_cast<int>(handles_.size()); }

int MemoryRegistryStore::CallCount(Op op) const {
    auto it = calls_.find(op);
    return it == calls_.end() ? 0 : it->second;
}

void MemoryRegistryStore::ResetCallCounts() {
    calls_.clear();
    journal_.clear();
    armed_.clear();
}

MemoryRegistryStore::NodePtr MemoryRegistryStore::Walk(KeyHandle root, const std::string& path) const {
    int index = RootIndex(root);
    if (index < 0) return nullptr;
    NodePtr node = roots_[index];
    for (const std::string& n : SplitKeyPath(path)) {
        auto it = node->children.find(AsciiUpper(n));
        if (it == node->children.end()) return nullptr;
        node = it->second;
    }
    return node;
}

MemoryRegistryStore::NodePtr MemoryRegistryStore::WalkOrCreate(KeyHandle root, const std::string& path) {
    int index = RootIndex(root);
    if (index < 0) return nullptr;
    NodePtr node = roots_[index];
    for (const std::string& n : SplitKeyPath(path)) {
        node = MakeChild(node, n);
    }
    return node;
}

bool MemoryRegistryStore::KeyExists(KeyHandle root, const std::string& path) const {
    return Walk(root, path) != nullptr;
}

bool MemoryRegistryStore::GetValueW(KeyHandle root, const std::string& path, const std::string& name,
                                    Value* value) const {
    NodePtr node = Walk(root, path);
    if (!node) return false;
    auto it = node->values.find(AsciiUpper(name));
    if (it == node->values.end()) return false;
    if (value) *value = it->second.value;
    return true;
}

void MemoryRegistryStore::PutValueW(KeyHandle root, const std::string& path, const std::string& name,
                                    std::uint32_t type, const std::vector<std::uint8_t>& data) {
    NodePtr node = WalkOrCreate(root, path);
    if (!node) return;
    auto& slot = node->values[AsciiUpper(name)];
    if (slot.name.empty()) slot.name = name;
    slot.value.type = type;
    slot.value.data = data;
}

bool MemoryRegistryStore::GetValue(KeyHandle root, const std::string& path, const std::string& name,
                                   Value* value) const {
    Value kept;
    if (!GetValueW(root, path, name, &kept)) return false;
    if (value) *value = ToAnsiView(kept);
    return true;
}

void MemoryRegistryStore::PutValue(KeyHandle root, const std::string& path, const std::string& name,
                                   std::uint32_t type, const std::vector<std::uint8_t>& data) {
    Value kept = FromAnsiView(type, data.data(), static_cast<std::uint32_t>(data.size()));
    PutValueW(root, path, name, kept.type, kept.data);
}

std::string MemoryRegistryStore::Dump() const {
    std::ostringstream out;
    struct Walker {
        std::ostringstream& out;
        void operator()(const Node& node) {
            out << '[' << node.FullPath() << "]\n";
            for (const auto& v : node.values) {
                out << "  " << v.second.name << " type=" << v.second.value.type << " data=";
                static const char* hex = "0123456789abcdef";
                for (std::uint8_t b : v.second.value.data) out << hex[b >> 4] << hex[b & 15];
                out << '\n';
            }
            for (const auto& c : node.children) (*this)(*c.second);
        }
    } walk{out};
    for (const NodePtr& root : roots_) walk(*root);
    return out.str();
}

}  // namespace kestro
