#include "tests/support/windows_volume.h"

#include "core/bytes.h"
#include <sys/stat.h>

#include <sys/xattr.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

namespace kestro::test {

namespace {

// ntfs-3g's names, then the kernel ntfs3 driver's.
constexpr const char* kDescriptorNames[] = {"system.ntfs_acl", "system.ntfs_security"};
constexpr char kAttributes[] = "system.ntfs_attrib_be";
constexpr char kCreated[] = "system.ntfs_crtime";

// One attribute's value, or empty. The size is asked first: ntfs-3g
// answers a buffer too small with EIO rather than ERANGE.
std::string Get(const std::string& path, const char* name) {
    ssize_t size = ::lgetxattr(path.c_str(), name, nullptr, 0);
    if (size <= 0) return std::string();
    std::string value(static_cast<std::size_t>(size), '\0');
    size = ::lgetxattr(path.c_str(), name, &value[0], value.size());
    if (size < 0) return std::string();
    value.resize(static_cast<std::size_t>(size));
    return value;
}

const char* DescriptorName(const std::string& path) {
    for (const char* name : kDescriptorNames)
        if (::lgetxattr(path.c_str(), name, nullptr, 0) > 0) return name;
    return nullptr;
}

std::string Sid(std::uint8_t authority, std::initializer_list<std::uint32_t> subs) {
    std::string sid{'\x01', static_cast<char>(subs.size()), 0, 0, 0, 0, 0, static_cast<char>(authority)};
    for (std::uint32_t sub : subs) {
        char le[4];
        StoreLe32(le, sub);
        sid.append(le, 4);
    }
    return sid;
}

void Append16(std::string* out, std::uint16_t v) {
    char le[2];
    StoreLe16(le, v);
    out->append(le, 2);
}

void Append32(std::string* out, std::uint32_t v) {
    char le[4];
    StoreLe32(le, v);
    out->append(le, 4);
}

}  // namespace

std::string ScratchRoot() {
    for (const char* name : {"KESTRO_SCRATCH_ROOT", "TMPDIR"}) {
        const char* value = std::getenv(name);
        if (value && *value) return value;
    }
    return "/tmp";
}

WindowsMetadata ReadWindowsMetadata(const std::string& path) {
    WindowsMetadata m;
    if (const char* name = DescriptorName(path)) m.descriptor = Get(path, name);
    m.attributes = Get(path, kAttributes);
    m.created = Get(path, kCreated);
    return m;
}

bool HasWindowsMetadata(const std::string& path) { return DescriptorName(path) != nullptr; }

std::string WindowsLikeDescriptor(unsigned rid) {
    const std::string user = Sid(5, {21, 1111, 2222, 3333, rid});
    const std::string system = Sid(5, {18});
    const std::string admins = Sid(5, {32, 544});
    std::string aces;
    for (const std::string* sid : {&system, &admins, &user}) {
        aces += '\x00';  // ACCESS_ALLOWED
        aces += '\x10';  // INHERITED_ACE
        Append16(&aces, static_cast<std::uint16_t>(8 + sid->size()));
        Append32(&aces, 0x001F01FF);  // full control
        aces += *sid;
    }
    std::string dacl{'\x02', '\x00'};
    Append16(&dacl, static_cast<std::uint16_t>(8 + aces.size()));
    Append16(&dacl, 3);
    Append16(&dacl, 0);
    dacl += aces;
    const std::uint32_t owner = 20, group = owner + user.size(), daclAt = group + system.size();
    std::string sd{'\x01', '\x00'};
    Append16(&sd, 0x8004);  // self-relative, DACL present
    Append32(&sd, owner);
    Append32(&sd, group);
    Append32(&sd, 0);  // no SACL
    Append32(&sd, daclAt);
    return sd + user + system + dacl;
}

bool GiveWindowsMetadata(const std::string& path, unsigned rid) {
    const char* name = DescriptorName(path);
    if (!name) return true;
    const std::string sd = WindowsLikeDescriptor(rid);
    const char attributes[4] = {0, 0, 0, static_cast<char>(kHiveAttributes)};
    return ::lsetxattr(path.c_str(), name, sd.data(), sd.size(), 0) == 0 &&
           ::lsetxattr(path.c_str(), kAttributes, attributes, sizeof attributes, 0) == 0 &&
           Get(path, name) == sd;
}

void SetReadOnly(const std::string& path, bool readOnly) {
    ::chmod(path.c_str(), readOnly ? 0444 : 0644);
    std::string attributes = Get(path, kAttributes);
    if (attributes.size() != 4) return;
    attributes[3] = static_cast<char>(readOnly ? attributes[3] | 1 : attributes[3] & ~1);
    ::lsetxattr(path.c_str(), kAttributes, attributes.data(), attributes.size(), 0);
}

}  // namespace kestro::test
