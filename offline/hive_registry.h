// The registry of a Windows that is not running, read and written through
// its hive files: HKEY_LOCAL_MACHINE\SOFTWARE and \SYSTEM, HKEY_CLASSES_ROOT
// as the SOFTWARE hive's Classes, and HKEY_CURRENT_USER as one user's
// NTUSER.DAT. Keys and values follow the registry's rules (names without
// regard to case, a replaced value keeping its stored spelling);
// CurrentControlSet, which exists only in a running Windows, is the control
// set that SYSTEM\Select\Current names.
//
// Changes stay in memory until Commit, and the values of one key are written
// in one batch there, because hivex never reuses the space it frees.
//
// A hive holds text as UTF-16LE, which the wide value calls pass through
// unchanged. The 8-bit calls convert REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ
// data through an ANSI code page, as RegSetValueExA and RegQueryValueExA do:
// by default Windows-1251, that of the Russian Windows these hives come
// from. Key and value names go through the same code page.
#pragma once

#include "core/code_page.h"
#include "offline/hive_file.h"
#include "registry/registry_store.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kestro {

// ERROR_BADDB: hivex could not read a part of the hive.
constexpr RegResult kErrorBadDb = 1009;

class HiveRegistryStore final : public RegistryStore {
public:
    enum class Slot { Software, System, User };

    explicit HiveRegistryStore(CodePage codePage = CodePage::Windows1251);
    ~HiveRegistryStore() override;

    // Makes `hive` the file behind `slot`. A slot with no hive answers as a
    // key that does not exist and cannot be created.
    void Mount(Slot slot, std::unique_ptr<HiveFile> hive);
    HiveFile* Mounted(Slot slot) const;

    RegResult CreateKey(KeyHandle base, const std::string& name, std::uint32_t access,
                        KeyHandle* result) override;
    RegResult OpenKey(KeyHandle base, const std::string& name, std::uint32_t access,
                      KeyHandle* result) override;
    RegResult QueryValue(KeyHandle key, const std::string& name, std::uint32_t* type,
                         std::uint8_t* data, std::uint32_t* size) override;
    RegResult SetValue(KeyHandle key, const std::string& name, std::uint32_t type,
                       const std::uint8_t* data, std::uint32_t size) override;
    RegResult QueryInfoKey(KeyHandle key, std::uint32_t* subKeys, std::uint32_t* maxSubKeyLen) override;
    RegResult EnumKey(KeyHandle key, std::uint32_t index, char* name, std::uint32_t* nameLen) override;
    RegResult DeleteKey(KeyHandle base, const std::string& name) override;
    RegResult DeleteValue(KeyHandle key, const std::string& name) override;
    RegResult EnumValue(KeyHandle key, std::uint32_t index, char* name, std::uint32_t* nameLen) override;
    RegResult CloseKey(KeyHandle key) override;

    RegResult SetValueW(KeyHandle key, const std::string& name, std::uint32_t type, const std::uint8_t* data,
                        std::uint32_t size) override;
    RegResult QueryValueW(KeyHandle key, const std::string& name, std::uint32_t* type, std::uint8_t* data,
                          std::uint32_t* size) override;

    // Why changes to a hive were refused (its checks failed, or it is open
    // read-only), one line per hive; empty when nothing was refused.
    std::vector<std::string> Refusals() const;

    // Whether anything is waiting to be written.
    bool HasChanges() const;
    // The files that Commit would write.
    std::vector<std::string> ChangedFiles() const;

    // Writes every changed hive safely (see HiveFile::Commit), SYSTEM, then
    // SOFTWARE, then the user's, and then lets go of every hive's lock. Stops at the first failure: *error says
    // which file and why; the hives written before it stay written, and are
    // named in *written, with their backups (and those of their logs) in
    // *backups.
    bool Commit(const HiveFile::CommitOptions& options, std::string* error,
                std::vector<std::string>* written = nullptr, std::vector<std::string>* backups = nullptr);

    int OpenHandleCount() const { return static_cast<int>(handles_.size()); }

private:
    // Where a key is: a node of a mounted hive, or HKEY_LOCAL_MACHINE
    // itself, which holds the mounted SOFTWARE and SYSTEM.
    struct Location {
        int slot = -1;  // -1: HKEY_LOCAL_MACHINE
        std::size_t node = 0;
    };
    struct Handle {
        Location at;
        std::uint32_t access = 0;
        bool deleted = false;
    };
    struct Value {
        std::string name;  // UTF-8, as hivex gives it
        std::uint32_t type = 0;
        std::vector<std::uint8_t> data;
    };
    using NodeKey = std::pair<int, std::size_t>;

    RegResult Resolve(KeyHandle key, bool forChange, Location* at);
    RegResult Step(const Location& from, const std::string& name, bool create, Location* to);
    RegResult Walk(const Location& from, const std::string& path, bool create, Location* to,
                   std::string* lastName = nullptr);
    RegResult ClassesRoot(bool create, Location* at);
    RegResult CurrentControlSet(Location* to);
    RegResult Writable(int slot);
    // Before a hive's sub-keys are listed for a walk (a tree removed, a
    // tree read for the undo files): once per hive, that no key list leads
    // round in a loop (offline/hive_limits.h); an error where one does.
    RegResult WalkableTree(int slot);
    // A key's sub-keys, in the hive's order, once its tree is walkable.
    RegResult SubKeys(const Location& at, std::vector<std::size_t>* children);
    RegResult ResolveForValueChange(KeyHandle key, Location* at);
    HiveFile* Hive(int slot) const { return slot >= 0 && slot < 3 ? hives_[slot].get() : nullptr; }
    bool ReadValues(const Location& at, std::vector<Value>* values);
    RegResult FindValue(const Location& at, const std::string& name, Value* value);
    bool FlushValues(int slot, std::string* error);
    KeyHandle NewHandle(const Location& at, std::uint32_t access);
    RegResult Store(KeyHandle key, const std::string& utf8Name, std::uint32_t type, const std::uint8_t* data,
                    std::uint32_t size);
    std::string AnsiToUtf8(const std::string& text) const;
    std::string Utf8ToAnsi(const std::string& text) const;

    CodePage codePage_;

    std::unique_ptr<HiveFile> hives_[3];
    std::map<KeyHandle, Handle> handles_;
    KeyHandle nextHandle_ = 0x1000;
    // The values of each key changed since the last Commit, the whole list.
    std::map<NodeKey, std::vector<Value>> pending_;
    // Per hive: whether WalkableTree looked, and what it found.
    bool treeChecked_[3] = {false, false, false};
    std::string treeProblem_[3];
};

}  // namespace kestro
