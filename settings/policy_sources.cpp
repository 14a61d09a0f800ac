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

std::vector<std::string> DomainSide(RegistryStore& store, KeyHandle root) {
    std::vector<std::string> names;
    KeyHandle history = 0;
    if (store.OpenKey(root, kRegistryExtensionHistory, kReadAccess, &history) != kErrorSuccess) return names;
    UniqueKey ownedHistory(store, history);
    for (std::uint32_t i = 0; i < 1000; ++i) {
        char entry[256] = {};
        std::uint32_t length = sizeof entry;
        if (store.EnumKey(history, i, entry, &length) != kErrorSuccess) break;
        KeyHandle key = 0;
        if (store.OpenKey(history, std::string(entry, length), kReadAccess, &key) != kErrorSuccess) continue;
        UniqueKey owned(store, key);
        std::uint32_t type = 0;
        std::uint8_t data[4] = {};
        std::uint32_t size = sizeof data;
        if (store.QueryValue(key, "GPOLink", &type, data, &size) != kErrorSuccess || type != kRegDword || size != 4)
            continue;
        const std::uint32_t link = LoadLe32(data);
        if (link < kLinkSite || link > kLinkOrganizationalUnit) continue;
        // The name as Windows stores it, UTF-16; one past 255 characters is cut.
        std::uint8_t text[512] = {};
        std::uint32_t textSize = sizeof text;
        type = 0;
        std::string name;
        if (store.QueryValueW(key, "DisplayName", &type, text, &textSize) == kErrorSuccess &&
            (type == kRegSz || type == kRegExpandSz)) {
            std::u16string wide = Utf16FromLeBytes(text, textSize & ~1u);
            wide = wide.substr(0, wide.find(u'\0'));
            name = Utf16ToUtf8(wide);
        }
        if (name.empty()) name = std::string(entry, length);  // no name of its own: its place in the history
        if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    }
    return names;
}

}  // namespace

DomainPolicies DomainPolicies::Read(RegistryStore& store) {
    DomainPolicies domain;
    domain.machine = DomainSide(store, kHkeyLocalMachine);
    domain.user = DomainSide(store, kHkeyCurrentUser);
    return domain;
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
    if (!gpo.domain.machine.empty() && places.machineValue.present && !places.machineEntry.present)
        places.domainMachine = gpo.domain.machine;
    if (!gpo.domain.user.empty()) {
        places.userValue = ReadMachineValue(store, row, &places.notes, kHkeyCurrentUser);
        if (places.userValue.present && !places.userEntry.present) places.domainUser = gpo.domain.user;
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

namespace kestro {

namespace {

constexpr std::size_t kGptIniLimit = 64 * 1024;

std::string MachineValueName(const Setting& row) {
    return std::string("HKEY_LOCAL_MACHINE\\") + row.keyPath + "\\" + row.valueNames[0];
}

bool FailMachineValue(const Setting& row, RegResult rc, PolicyLiftResult* result) {
    result->denied = rc == kErrorAccessDenied;
    result->error = Localized("%1: error %2", MachineValueName(row), rc);
    return false;
}

// Asked before anything is written, so that without the right to change
// the machine's copy nothing is.
bool MachineValueWritable(RegistryStore& store, const Setting& row, PolicyLiftResult* result) {
    KeyHandle key = 0;
    const RegResult rc = store.OpenKey(kHkeyLocalMachine, row.keyPath, kKeySetValue | kKeyWow64_64Key, &key);
    if (rc != kErrorSuccess) return FailMachineValue(row, rc, result);
    store.CloseKey(key);
    return true;
}

bool DeleteMachineValue(RegistryStore& store, const Setting& row, PolicyLiftResult* result) {
    KeyHandle key = 0;
    RegResult rc = store.OpenKey(kHkeyLocalMachine, row.keyPath, kKeySetValue | kKeyWow64_64Key, &key);
    if (rc == kErrorSuccess) {
        rc = store.DeleteValue(key, row.valueNames[0]);
        store.CloseKey(key);
    }
    if (rc != kErrorSuccess && rc != kErrorFileNotFound) return FailMachineValue(row, rc, result);
    return true;
}

// The Group Policy files as they were, put back in reverse order should a
// later step fail.
class GroupPolicyUndo {
public:
    explicit GroupPolicyUndo(GroupPolicyFiles* files) : files_(files) {}
    void Keep(GroupPolicyFiles::File file, bool present, std::vector<std::uint8_t> bytes) {
        before_.push_back({file, present, std::move(bytes)});
    }
    void PutBack() const {
        std::string ignored;
        for (auto it = before_.rbegin(); it != before_.rend(); ++it)
            it->present ? files_->WriteFile(it->file, it->bytes, &ignored) : files_->RemoveFile(it->file, &ignored);
    }

private:
    struct Before {
        GroupPolicyFiles::File file;
        bool present;
        std::vector<std::uint8_t> bytes;
    };
    GroupPolicyFiles* files_;
    std::vector<Before> before_;
};

// `message` (an N_ text) names the file in %1 and gives `why` in %2.
bool FailFile(GroupPolicyFiles::File file, const char* message, const std::string& why, PolicyLiftResult* result) {
    result->error = Localized(message, GroupPolicyFiles::WindowsName(file), why);
    return false;
}

// Takes the row's entries out of each side's Registry.pol that contradicts
// the state asked, and raises gpt.ini's version on those sides.
bool LiftLocalEntries(GroupPolicyFiles* files, const LocalGroupPolicy& gpo, const Setting& row, bool machineEntry,
                      bool userEntry, GroupPolicyUndo* undo, PolicyLiftResult* result) {
    const auto gptIni = GroupPolicyFiles::File::GptIni;
    std::vector<std::uint8_t> gpt, raised;
    std::string error;
    const GroupPolicyFiles::Read read = files->ReadFile(gptIni, kGptIniLimit, &gpt, &error);
    if (read == GroupPolicyFiles::Read::Failed || !RaiseGptVersion(gpt, false, &raised))
        return FailFile(gptIni, N_("%1 cannot be read: %2"), error, result);
    const std::vector<std::uint8_t> gptBefore = gpt;
    for (const LocalPolicyFile* file : {&gpo.user, &gpo.machine}) {
        const bool machineSide = file == &gpo.machine;
        if (!(machineSide ? machineEntry : userEntry)) continue;
        undo->Keep(file->file, true, file->bytes);
        if (!files->WriteFile(file->file, WithoutEntries(*file, EntriesFor(*file, row)), &error)) {
            undo->PutBack();
            return FailFile(file->file, N_("%1: %2"), error, result);
        }
        RaiseGptVersion(std::vector<std::uint8_t>(gpt), machineSide, &gpt);
    }
    const bool gptPresent = read == GroupPolicyFiles::Read::Ok;
    undo->Keep(gptIni, gptPresent, gptPresent ? gptBefore : std::vector<std::uint8_t>());
    if (!files->WriteFile(gptIni, gpt, &error)) {
        undo->PutBack();
        return FailFile(gptIni, N_("%1: %2"), error, result);
    }
    return true;
}

}  // namespace

PolicyLiftResult LiftPolicyPlaces(RegistryStore& store, const Setting& row, std::int32_t asked) {
    PolicyLiftResult result;
    const LocalGroupPolicy gpo = LocalGroupPolicy::Read(store);
    if (!gpo.Problems().empty()) {
        result.error = gpo.Problems().front();
        return result;
    }
    const PolicyPlaces places = ReadPolicyPlaces(store, row, gpo);
    const auto contradicts = [asked](const PolicyPlaces::Place& place) { return place.present && place.value != asked; };
    const bool machineEntry = contradicts(places.machineEntry);
    const bool machineValue =
        contradicts(places.machineValue) || (machineEntry && places.machineValue.present && places.machineValue.value != asked);
    const bool userEntry = contradicts(places.userEntry);
    if (machineValue && !MachineValueWritable(store, row, &result)) return result;
    GroupPolicyFiles* files = store.LocalGroupPolicy();
    GroupPolicyUndo undo(files);
    if ((machineEntry || userEntry) && files &&
        !LiftLocalEntries(files, gpo, row, machineEntry, userEntry, &undo, &result))
        return result;
    if (machineValue && !DeleteMachineValue(store, row, &result)) {
        undo.PutBack();
        return result;
    }
    result.ok = true;
    return result;
}

}  // namespace kestro
