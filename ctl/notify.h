// After a command has changed values of the running system's registry,
// kestroctl tells the running programs as Group Policy does once it has
// applied: WM_SETTINGCHANGE with the text "Policy", wParam 1 for the
// machine's values and 0 for the user's. Explorer then drops its cache of
// restrictions. What was written is decided here, portably, over any
// store; the broadcast itself is behind PolicyBroadcaster.
#pragma once

#include "registry/registry_store.h"
#include "registry/system_parameters.h"

#include <map>

namespace kestro {

// Whose values a command changed.
struct WrittenScopes {
    bool user = false;     // HKEY_CURRENT_USER
    bool machine = false;  // HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT
    bool Any() const { return user || machine; }
};

// Passes every call on to another store, unchanged, and notes whose values
// each successful value write or key deletion changed. A key that is only
// opened or created changes no value and is not noted; a failed call
// changed nothing. So a run that failed before its first write notes
// nothing, and one that failed half-way notes what it wrote before.
class WriteRecordingStore final : public ForwardingRegistryStore {
public:
    explicit WriteRecordingStore(RegistryStore& store) : ForwardingRegistryStore(store) {}

    WrittenScopes Written() const { return written_; }
    // After what was written was put back, what stays changed.
    void SetWritten(const WrittenScopes& written) { written_ = written; }

    RegResult CreateKey(KeyHandle base, const std::string& name, std::uint32_t access,
                        KeyHandle* result) override;
    RegResult OpenKey(KeyHandle base, const std::string& name, std::uint32_t access,
                      KeyHandle* result) override;
    RegResult SetValue(KeyHandle key, const std::string& name, std::uint32_t type, const std::uint8_t* data,
                       std::uint32_t size) override;
    RegResult SetValueW(KeyHandle key, const std::string& name, std::uint32_t type, const std::uint8_t* data,
                        std::uint32_t size) override;
    RegResult DeleteKey(KeyHandle base, const std::string& name) override;
    RegResult CloseKey(KeyHandle key) override;
    // The rest, reads and OpenSystemParameters, go straight to the store: on
    // a running Windows, font smoothing goes through user32, which tells the
    // system itself (SPIF_SENDCHANGE).

private:
    // The predefined root a handle was opened below.
    KeyHandle RootOf(KeyHandle key) const;
    void Note(RegResult result, KeyHandle key);

    std::map<KeyHandle, KeyHandle> roots_;  // open handle -> its root
    WrittenScopes written_;
};

// Sends the notification. The system's broadcaster is Windows code of
// kestroctl.exe alone (ctl/policy_broadcast_win.cpp); an offline store has
// none, and the window sends nothing.
class PolicyBroadcaster {
public:
    virtual ~PolicyBroadcaster() = default;
    // "Policy" with wParam 1 when machine values were written, then with
    // wParam 0 when user values were; called only when something was.
    virtual void Broadcast(const WrittenScopes& written) = 0;
};

// Tells `broadcaster`, if there is one, of what a command wrote, if it
// wrote anything.
void NotifyWritten(const WrittenScopes& written, PolicyBroadcaster* broadcaster);

}  // namespace kestro
