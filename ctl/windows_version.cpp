#include "ctl/windows_version.h"

#include "core/bytes.h"
#include "core/text.h"

#include <cstdlib>
#include <vector>

namespace kestro {

namespace {

constexpr char kCurrentVersion[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

class Key {
public:
    explicit Key(RegistryStore& store) : store_(store) {
        open_ = store_.OpenKey(kHkeyLocalMachine, kCurrentVersion, kKeyRead, &key_) == kErrorSuccess;
    }
    ~Key() {
        if (open_) store_.CloseKey(key_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    // A REG_SZ as UTF-8; empty when absent or of another type.
    std::string Text(const char* name) const {
        std::uint32_t type = 0, size = 0;
        if (!open_ || store_.QueryValueW(key_, name, &type, nullptr, &size) != kErrorSuccess || type != kRegSz ||
            size > 4096)
            return std::string();
        std::vector<std::uint8_t> data(size);
        if (size == 0 || store_.QueryValueW(key_, name, &type, data.data(), &size) != kErrorSuccess) return std::string();
        data.resize(size);
        std::u16string units = Utf16FromLeBytes(data);
        while (!units.empty() && units.back() == u'\0') units.pop_back();
        return Utf16ToUtf8(units);
    }
    bool Dword(const char* name, unsigned* value) const {
        std::uint32_t type = 0, size = 4;
        std::uint8_t data[4] = {};
        if (!open_ || store_.QueryValue(key_, name, &type, data, &size) != kErrorSuccess || type != kRegDword ||
            size != 4)
            return false;
        *value = LoadLe32(data);
        return true;
    }

private:
    RegistryStore& store_;
    KeyHandle key_ = 0;
    bool open_ = false;
};

unsigned Number(const std::string& text) { return static_cast<unsigned>(std::strtoul(text.c_str(), nullptr, 10)); }

// ProductName names the edition, but only the hive's own numbers are sure
// to match it: a kernel's numbers get the plain name.
WindowsIdentity Identify(const Key* key, unsigned major, unsigned minor, unsigned build) {
    WindowsIdentity identity;
    if (!VersionOfNt(major, minor, build, &identity.version)) return identity;
    identity.known = true;
    std::string product = key ? key->Text("ProductName") : std::string();
    // Windows 11 keeps "Windows 10" in ProductName.
    if (identity.version == WindowsVersion::Eleven && product.compare(0, 10, "Windows 10") == 0)
        product.replace(8, 2, "11");
    if (product.empty()) product = std::string("Windows ") + WindowsVersionName(identity.version);
    identity.name = product + " (" + std::to_string(major) + "." + std::to_string(minor) +
                    (build ? "." + std::to_string(build) : std::string()) + ")";
    return identity;
}

}  // namespace

WindowsIdentity IdentifyWindows(RegistryStore& store) {
    const Key key(store);
    unsigned major = 0, minor = 0;
    if (!key.Dword("CurrentMajorVersionNumber", &major) || !key.Dword("CurrentMinorVersionNumber", &minor)) {
        const std::string version = key.Text("CurrentVersion");
        const std::size_t dot = version.find('.');
        if (dot == std::string::npos) return WindowsIdentity();
        major = Number(version.substr(0, dot));
        minor = Number(version.substr(dot + 1));
    }
    std::string build = key.Text("CurrentBuildNumber");
    if (build.empty()) build = key.Text("CurrentBuild");
    return Identify(&key, major, minor, Number(build));
}

WindowsIdentity IdentifyWindows(unsigned major, unsigned minor, unsigned build) {
    return Identify(nullptr, major, minor, build);
}

}  // namespace kestro
