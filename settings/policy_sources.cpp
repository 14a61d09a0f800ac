#include "settings/policy_sources.h"

#include "core/bytes.h"
#include "core/display_text.h"
#include "core/localized.h"
#include "core/text.h"
#include "formats/layout.h"
#include "formats/policy_file.h"
#include "formats/values.h"

#include <algorithm>
#include <cctype>

namespace kestro {

namespace {

constexpr std::uint32_t kReadAccess = kKeyRead | kKeyWow64_64Key;

// The machine's copy: absent when a key on the way or the value is, a note
// when it cannot be read or is not a REG_DWORD (SHRestricted reads no other).
PolicyPlaces::Place ReadMachineValue(RegistryStore& store, const Setting& row, std::vector<std::string>* notes,
                                     KeyHandle root = kHkeyLocalMachine) {
    PolicyPlaces::Place place;
    const std::string where = std::string(root == kHkeyLocalMachine ? "HKEY_LOCAL_MACHINE\\" : "HKEY_CURRENT_USER\\") +
                              row.keyPath + "\\" + row.valueNames[0];
    KeyHandle key = 0;
    const RegResult rc = store.OpenKey(root, row.keyPath, kReadAccess, &key);
    if (rc == kErrorFileNotFound) return place;
    if (rc != kErrorSuccess) {
        notes->push_back(Localized("%1 cannot be read (error %2)", where, rc));
        return place;
    }
    UniqueKey owned(store, key);
    std::uint32_t type = 0;
    std::uint8_t data[4] = {};
    std::uint32_t size = sizeof data;
    const RegResult query = store.QueryValue(key, row.valueNames[0], &type, data, &size);
    if (query == kErrorFileNotFound) return place;
    if (query != kErrorSuccess || type != kRegDword || size != 4) {
        notes->push_back(query == kErrorSuccess || query == kErrorMoreData
                             ? Localized("%1 is not a REG_DWORD; passed over", where)
                             : Localized("%1 cannot be read", where));
        return place;
    }
    place.present = true;
    place.value = static_cast<std::int32_t>(LoadLe32(data));
    return place;
}

// The last entry of the file for the row's value (Group Policy applies them
// in order, so the last one stays).
PolicyPlaces::Place FromFile(const LocalPolicyFile& file, const Setting& row, std::vector<std::string>* notes) {
    PolicyPlaces::Place place;
    for (std::size_t i : EntriesFor(file, row)) {
        const RegValue& entry = file.entries[i];
        if (entry.type != kRegDword || entry.data.size() != 4) {
            notes->push_back(Localized("%1: %2 is not a REG_DWORD; passed over",
                                       GroupPolicyFiles::WindowsName(file.file), row.valueNames[0]));
            continue;
        }
        place.present = true;
        place.value = static_cast<std::int32_t>(LoadLe32(entry.data.data()));
    }
    return place;
}

LocalPolicyFile ReadOne(GroupPolicyFiles& files, GroupPolicyFiles::File which) {
    LocalPolicyFile file;
    file.file = which;
    std::string error;
    file.read = files.ReadFile(which, layout::kMaxFileBytes, &file.bytes, &error);
    if (file.read == GroupPolicyFiles::Read::Failed) {
        file.error = Localized("%1 cannot be read: %2", GroupPolicyFiles::WindowsName(which), error);
        return file;
    }
    if (file.read == GroupPolicyFiles::Read::Absent) return file;
    try {
        file.entries = ReadPolicyFile(file.bytes, which == GroupPolicyFiles::File::MachinePolicy ? PolicyScope::Machine
                                                                                                 : PolicyScope::User,
                                      &file.offsets);
        file.valid = true;
    } catch (const FormatError& e) {
        file.error = Localized("%1 is not a valid Registry.pol: %2", GroupPolicyFiles::WindowsName(which), e.what());
        file.entries.clear();
        file.offsets.clear();
    }
    return file;
}

}  // namespace

std::string SourceNames(unsigned sources) {
    static const std::pair<unsigned, const char*> kNames[] = {
        {kSourceUser, "user"}, {kSourceMachine, "machine"}, {kSourceLocalGpo, "local-gpo"}, {kSourceDomain, "domain"}};
    std::string names;
    for (const auto& name : kNames)
        if (sources & name.first) names += (names.empty() ? "" : "+") + std::string(name.second);
    return names;
}

namespace {

// The history of the registry's client-side extension, the one that
// applies a Group Policy object's Registry.pol.
constexpr const char* kRegistryExtensionHistory =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Group Policy\\History\\{35378EAC-683F-11D2-A89A-00C04FBBCF62}";
// userenv.h's GPO_LINK: GPLinkSite, GPLinkDomain, GPLinkOrganizationalUnit.
constexpr std::uint32_t kLinkSite = 2, kLinkOrganizationalUnit = 4;

// A text value of the history's entry, as Windows stores it (UTF-16); one
// past 255 characters is cut.
std::string HistoryText(RegistryStore& store, KeyHandle key, const char* name) {
    std::uint8_t text[512] = {};
    std::uint32_t textSize = sizeof text, type = 0;
    if (store.QueryValueW(key, name, &type, text, &textSize) != kErrorSuccess ||
        (type != kRegSz && type != kRegExpandSz))
        return std::string();
    std::u16string wide = Utf16FromLeBytes(text, textSize & ~1u);
    wide = wide.substr(0, wide.find(u'\0'));
    return Utf16ToUtf8(wide);
}

// The history's entry `entry`, when it is a site's, a domain's or an OU's.
bool ReadHistoryEntry(RegistryStore& store, KeyHandle history, const std::string& entry, DomainPolicy* policy) {
    KeyHandle key = 0;
    if (store.OpenKey(history, entry, kReadAccess, &key) != kErrorSuccess) return false;
    UniqueKey owned(store, key);
    std::uint32_t type = 0;
    std::uint8_t data[4] = {};
    std::uint32_t size = sizeof data;
    if (store.QueryValue(key, "GPOLink", &type, data, &size) != kErrorSuccess || type != kRegDword || size != 4)
        return false;
    const std::uint32_t link = LoadLe32(data);
    if (link < kLinkSite || link > kLinkOrganizationalUnit) return false;
    policy->name = HistoryText(store, key, "DisplayName");
    if (policy->name.empty()) policy->name = entry;  // no name of its own: its place in the history
    policy->fileSysPath = HistoryText(store, key, "FileSysPath");
    return true;
}

std::vector<DomainPolicy> DomainSide(RegistryStore& store, KeyHandle root) {
    std::vector<DomainPolicy> policies;
    KeyHandle history = 0;
    if (store.OpenKey(root, kRegistryExtensionHistory, kReadAccess, &history) != kErrorSuccess) return policies;
    UniqueKey ownedHistory(store, history);
    for (std::uint32_t i = 0; i < 1000; ++i) {
        char entry[256] = {};
        std::uint32_t length = sizeof entry;
        if (store.EnumKey(history, i, entry, &length) != kErrorSuccess) break;
        DomainPolicy policy;
        if (ReadHistoryEntry(store, history, std::string(entry, length), &policy)) policies.push_back(policy);
    }
    return policies;
}

}  // namespace

DomainPolicies DomainPolicies::Read(RegistryStore& store) {
    DomainPolicies domain;
    domain.machine = DomainSide(store, kHkeyLocalMachine);
    domain.user = DomainSide(store, kHkeyCurrentUser);
    return domain;
}

void DomainPolicies::ReadCopies(GroupPolicyFiles& files) {
    for (std::vector<DomainPolicy>* side : {&user, &machine})
        for (DomainPolicy& policy : *side) {
            const GroupPolicyFiles::DomainCopy copy = files.ReadDomainCopy(policy.fileSysPath, layout::kMaxFileBytes);
            if (copy.kind == GroupPolicyFiles::DomainCopy::Kind::NoRegistryPol) policy.known = true;
            if (copy.kind != GroupPolicyFiles::DomainCopy::Kind::Read) continue;
            // A copy that is not a valid Registry.pol tells nothing: the
            // side's values stay the domain's.
            try {
                policy.entries = ReadPolicyFile(copy.bytes, side == &machine ? PolicyScope::Machine : PolicyScope::User);
                policy.known = true;
            } catch (const FormatError&) {
                policy.entries.clear();
            }
        }
}

std::vector<std::string> DomainPolicies::Holding(const std::vector<DomainPolicy>& side, const Setting& row) {
    std::vector<std::string> names;
    for (const DomainPolicy& policy : side) {
        const bool sets = !policy.known || std::any_of(policy.entries.begin(), policy.entries.end(), [&row](const RegValue& e) {
            return SameAsciiNoCase(e.keyPath, row.keyPath) && SameAsciiNoCase(e.name, row.valueNames[0]);
        });
        if (sets && std::find(names.begin(), names.end(), policy.name) == names.end()) names.push_back(policy.name);
    }
    return names;
}

std::string QuotedNames(const std::vector<std::string>& names) {
    std::string text;
    // A name is the volume's or the registry's: one field, never a line of its own.
    for (const std::string& name : names) text += (text.empty() ? "\"" : ", \"") + ShownField(name) + "\"";
    return text;
}

LocalGroupPolicy LocalGroupPolicy::Read(RegistryStore& store) {
    LocalGroupPolicy gpo;
    gpo.user.file = GroupPolicyFiles::File::UserPolicy;
    gpo.machine.file = GroupPolicyFiles::File::MachinePolicy;
    gpo.domain = DomainPolicies::Read(store);
    GroupPolicyFiles* files = store.LocalGroupPolicy();
    if (!files) return gpo;
    gpo.reachable = true;
    gpo.domain.ReadCopies(*files);
    gpo.user = ReadOne(*files, GroupPolicyFiles::File::UserPolicy);
    gpo.machine = ReadOne(*files, GroupPolicyFiles::File::MachinePolicy);
    return gpo;
}

std::vector<std::string> LocalGroupPolicy::Problems() const {
    std::vector<std::string> problems;
    for (const LocalPolicyFile* file : {&user, &machine})
        if (!file->error.empty()) problems.push_back(file->error);
    return problems;
}

std::vector<std::size_t> EntriesFor(const LocalPolicyFile& file, const Setting& row) {
    std::vector<std::size_t> found;
    if (!file.valid) return found;
    for (std::size_t i = 0; i < file.entries.size(); ++i) {
        const RegValue& entry = file.entries[i];
        if (SameAsciiNoCase(entry.keyPath, row.keyPath) && SameAsciiNoCase(entry.name, row.valueNames[0]))
            found.push_back(i);
    }
    return found;
}

PolicyPlaces ReadPolicyPlaces(RegistryStore& store, const Setting& row, const LocalGroupPolicy& gpo) {
    PolicyPlaces places;
    if (!row.HasMachineCopy()) return places;
    places.machineValue = ReadMachineValue(store, row, &places.notes);
    places.machineEntry = FromFile(gpo.machine, row, &places.notes);
    places.userEntry = FromFile(gpo.user, row, &places.notes);
    const std::vector<std::string> machineSide = DomainPolicies::Holding(gpo.domain.machine, row);
    if (!machineSide.empty() && places.machineValue.present && !places.machineEntry.present)
        places.domainMachine = machineSide;
    const std::vector<std::string> userSide = DomainPolicies::Holding(gpo.domain.user, row);
    if (!userSide.empty()) {
        places.userValue = ReadMachineValue(store, row, &places.notes, kHkeyCurrentUser);
        if (places.userValue.present && !places.userEntry.present) places.domainUser = userSide;
    }
    return places;
}

bool PolicyPlaces::Decides(std::int32_t* value, unsigned* sources) const {
    // A domain's object writes its value again at every refresh.
    if (!domainMachine.empty()) {
        *value = machineValue.value;
        *sources = kSourceDomain;
        return true;
    }
    // Group Policy writes its entry over the copy at the next refresh: the
    // file's value is the one that lasts.
    if (machineEntry.present || machineValue.present) {
        *value = machineEntry.present ? machineEntry.value : machineValue.value;
        *sources = 0;
        if (machineEntry.present) *sources |= kSourceLocalGpo;
        if (machineValue.present && machineValue.value == *value) *sources |= kSourceMachine;
        return true;
    }
    if (userEntry.present) {
        *value = userEntry.value;
        *sources = kSourceLocalGpo;
        return true;
    }
    if (!domainUser.empty()) {
        *value = userValue.value;
        *sources = kSourceDomain;
        return true;
    }
    return false;
}

void EffectiveNumber(const Setting&, std::int32_t own, bool ownPresent, const PolicyPlaces& places,
                     std::int32_t* value, unsigned* sources) {
    if (!places.Decides(value, sources)) {
        *value = own;
        *sources = kSourceUser;
        return;
    }
    // The user's value a domain's object wrote is the domain's, not the user's.
    if (ownPresent && own == *value && !(*sources & kSourceDomain && !places.domainUser.empty())) *sources |= kSourceUser;
}

std::vector<std::uint8_t> WithoutEntries(const LocalPolicyFile& file, const std::vector<std::size_t>& remove) {
    std::vector<std::uint8_t> out(file.bytes.begin(), file.bytes.begin() + static_cast<std::ptrdiff_t>(
                                                                               file.offsets.empty() ? file.bytes.size()
                                                                                                    : file.offsets[0]));
    for (std::size_t i = 0; i < file.offsets.size(); ++i) {
        if (std::find(remove.begin(), remove.end(), i) != remove.end()) continue;
        const std::size_t end = i + 1 < file.offsets.size() ? file.offsets[i + 1] : file.bytes.size();
        out.insert(out.end(), file.bytes.begin() + static_cast<std::ptrdiff_t>(file.offsets[i]),
                   file.bytes.begin() + static_cast<std::ptrdiff_t>(end));
    }
    return out;
}

bool RaiseGptVersion(const std::vector<std::uint8_t>& gptIni, bool machineSide, std::vector<std::uint8_t>* raised) {
    std::string text(gptIni.begin(), gptIni.end());
    // A UTF-16 file, or one with a zero byte, is not the INI text Windows writes here.
    if (text.find('\0') != std::string::npos) return false;
    const auto bump = [machineSide](std::uint32_t version) {
        std::uint32_t user = version >> 16, machine = version & 0xFFFFu;
        if (machineSide) machine = (machine + 1) & 0xFFFFu;
        else user = (user + 1) & 0xFFFFu;
        return user << 16 | machine;
    };
    const std::string newline = text.find("\r\n") != std::string::npos || text.empty() ? "\r\n" : "\n";
    // Find Version= at the start of a line in [General].
    bool inGeneral = false;
    std::size_t pos = 0;
    std::size_t generalEnd = std::string::npos;
    while (pos <= text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::size_t first = line.find_first_not_of(" \t");
        const std::string trimmed = first == std::string::npos ? std::string() : line.substr(first);
        if (!trimmed.empty() && trimmed[0] == '[') {
            if (inGeneral && generalEnd == std::string::npos) generalEnd = pos;
            inGeneral = SameAsciiNoCase(trimmed.substr(0, trimmed.find(']') + 1), "[General]");
        } else if (inGeneral && trimmed.size() >= 8 && SameAsciiNoCase(trimmed.substr(0, 7), "Version") &&
                   trimmed.find('=') != std::string::npos &&
                   trimmed.substr(7, trimmed.find('=') - 7).find_first_not_of(" \t") == std::string::npos) {
            std::string number = trimmed.substr(trimmed.find('=') + 1);
            number.erase(0, number.find_first_not_of(" \t"));
            number.erase(number.find_last_not_of(" \t") + 1);
            if (number.empty() || number.size() > 10 ||
                !std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }))
                return false;
            const unsigned long long old = std::stoull(number);
            if (old > 0xFFFFFFFFull) return false;
            // Only the digits change: the spacing around them stays.
            const std::size_t valueAt = pos + line.find(number, line.find('=') + 1);
            text.replace(valueAt, number.size(), std::to_string(bump(static_cast<std::uint32_t>(old))));
            raised->assign(text.begin(), text.end());
            return true;
        }
        if (end == text.size()) break;
        pos = end + 1;
    }
    const std::string line = "Version=" + std::to_string(bump(0)) + newline;
    if (inGeneral && generalEnd == std::string::npos) {
        if (!text.empty() && text.back() != '\n') text += newline;
        text += line;
    } else if (generalEnd != std::string::npos) {
        text.insert(generalEnd, line);
    } else {
        if (!text.empty() && text.back() != '\n') text += newline;
        text += "[General]" + newline + line;
    }
    raised->assign(text.begin(), text.end());
    return true;
}

}  // namespace kestro
