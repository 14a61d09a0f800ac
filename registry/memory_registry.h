// A registry kept in memory that behaves as Windows' does wherever the engine
// depends on it, with the means tests need: denied keys, a failure injected
// at the Nth call, and a count of open handles.
//
// As on Windows, string values (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) are kept
// as UTF-16LE; the 8-bit calls convert through the ANSI code page the store
// is made with, so their byte counts are the ANSI counts and a character that
// code page lacks reads back as '?'.
#pragma once

#include "core/code_page.h"
#include "registry/registry_store.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kestro {

class MemoryRegistryStore final : public RegistryStore {
public:
    enum class Op {
        Any, CreateKey, OpenKey, QueryValue, SetValue, QueryInfoKey, EnumKey, DeleteKey, CloseKey,
        SetValueW, QueryValueW, DeleteValue, EnumValue
    };

    // Windows-1251 by default: the ANSI code page of the Russian Windows the
    // program is made for.
    explicit MemoryRegistryStore(CodePage codePage = CodePage::Windows1251);
    ~MemoryRegistryStore() override;

    RegResult CreateKey(KeyHandle base, const std::string& name, std::uint32_t access,
                        KeyHandle* result) override;
    RegResult OpenKey(KeyHandle base, const std::string& name, std::uint32_t access,
                      KeyHandle* result) override;
    RegResult QueryValue(KeyHandle key, const std::string& name, std::uint32_t* type,
                         std::uint8_t* data, std::uint32_t* size) override;
    RegResult SetValue(KeyHandle key, const std::string& name, std::uint32_t type,
                       const std::uint8_t* data, std::uint32_t size) override;
    RegResult SetValueW(KeyHandle key, const std::string& name, std::uint32_t type,
                        const std::uint8_t* data, std::uint32_t size) override;
    RegResult QueryValueW(KeyHandle key, const std::string& name, std::uint32_t* type,
                          std::uint8_t* data, std::uint32_t* size) override;
    RegResult QueryInfoKey(KeyHandle key, std::uint32_t* subKeys, std::uint32_t* maxSubKeyLen) override;
    RegResult EnumKey(KeyHandle key, std::uint32_t index, char* name, std::uint32_t* nameLen) override;
    RegResult DeleteKey(KeyHandle base, const std::string& name) override;
    RegResult DeleteValue(KeyHandle key, const std::string& name) override;
    RegResult EnumValue(KeyHandle key, std::uint32_t index, char* name, std::uint32_t* nameLen) override;
    RegResult CloseKey(KeyHandle key) override;

    // No right to open or create the key at `path` below `root`, nor any key
    // below it, as HKEY_LOCAL_MACHINE is for a user without administrator
    // rights. An empty path denies everything below the root.
    void Deny(KeyHandle root, const std::string& path);
    // The key at `path` and every key below it can be opened for reading
    // only: opening or creating it with any right to change it, creating a
    // key below it, deleting it and writing a value fail with
    // kErrorAccessDenied. An empty path covers everything below the root,
    // as HKEY_LOCAL_MACHINE is for a user without administrator rights.
    void DenyWrite(KeyHandle root, const std::string& path);

    // The `n`th call (1-based, counted from now) of `op` fails with `error`.
    // An injected failure of CloseKey still frees the handle: a caller has
    // no other way to release it.
    void FailCall(Op op, int n, RegResult error = kErrorAccessDenied);
    // As FailCall, but beside the failure already armed rather than in its
    // place: a write that fails and then the put-back of another.
    void AlsoFailCall(Op op, int n, RegResult error = kErrorAccessDenied);
    void ClearFailure();

    int OpenHandleCount() const;
    int CallCount(Op op = Op::Any) const;
    void ResetCallCounts();

    // Every call since the last reset, in order: the operation, the key or
    // value name it was given, and whether a value query asked for data.
    struct Call {
        Op op;
        std::string name;
        bool withData;
    };
    const std::vector<Call>& Journal() const { return journal_; }

    CodePage codePage() const { return codePage_; }

    // Test helpers that bypass handles, counting and injection. GetValue and
    // PutValue see string data as the 8-bit calls do; the W forms see the
    // UTF-16LE that the store keeps.
    struct Value {
        std::uint32_t type = kRegNone;
        std::vector<std::uint8_t> data;
    };
    bool KeyExists(KeyHandle root, const std::string& path) const;
    bool GetValue(KeyHandle root, const std::string& path, const std::string& name, Value* value) const;
    void PutValue(KeyHandle root, const std::string& path, const std::string& name, std::uint32_t type,
                  const std::vector<std::uint8_t>& data);
    bool GetValueW(KeyHandle root, const std::string& path, const std::string& name, Value* value) const;
    void PutValueW(KeyHandle root, const std::string& path, const std::string& name, std::uint32_t type,
                   const std::vector<std::uint8_t>& data);
    // Every key and value below the three roots, one line each, in a stable
    // order, string data as kept (UTF-16LE): a snapshot for "nothing else
    // changed" checks.
    std::string Dump() const;

private:
    struct Node;
    using NodePtr = std::shared_ptr<Node>;

    bool Fails(Op op, const std::string& name, bool withData, RegResult* error);
    // The start of every call: the injected failure, if any, then the key
    // the handle names, which must still exist.
    RegResult Enter(Op op, const std::string& name, bool withData, KeyHandle key, NodePtr* node);
    // The 8-bit view of a kept value and back.
    Value ToAnsiView(const Value& kept) const;
    Value FromAnsiView(std::uint32_t type, const std::uint8_t* data, std::uint32_t size) const;
    RegResult Query(Op op, KeyHandle key, const std::string& name, std::uint32_t* type, std::uint8_t* data,
                    std::uint32_t* size);
    RegResult Set(Op op, KeyHandle key, const std::string& name, std::uint32_t type, const std::uint8_t* data,
                  std::uint32_t size);
    NodePtr Resolve(KeyHandle key) const;
    static bool Covers(const std::vector<std::string>& prefixes, const std::string& fullPath);
    bool IsDenied(const std::string& fullPath) const { return Covers(denied_, fullPath); }
    bool IsWriteDenied(const std::string& fullPath) const { return Covers(writeDenied_, fullPath); }
    bool MayWrite(KeyHandle key, const NodePtr& node) const;
    KeyHandle NewHandle(const NodePtr& node, std::uint32_t access);
    static NodePtr MakeChild(const NodePtr& node, const std::string& name);
    NodePtr Walk(KeyHandle root, const std::string& path) const;
    NodePtr WalkOrCreate(KeyHandle root, const std::string& path);

    CodePage codePage_;
    NodePtr roots_[3];
    struct OpenHandle {
        NodePtr node;
        std::uint32_t access;
    };
    std::map<KeyHandle, OpenHandle> handles_;
    KeyHandle nextHandle_ = 0x1000;
    std::vector<std::string> denied_;       // "ROOT\PATH" in upper case
    std::vector<std::string> writeDenied_;  // likewise
    std::map<Op, int> calls_;
    std::vector<Call> journal_;
    struct Armed {
        Op op;
        int at;  // the call count of `op` that fails
        RegResult error;
    };
    std::vector<Armed> armed_;
};

}  // namespace kestro
