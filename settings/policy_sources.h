// Where a setting's state comes from when Windows reads it from more than
// one place (Setting::sources): the machine's copy under HKEY_LOCAL_MACHINE,
// the local Group Policy object's Registry.pol files, and the user's own
// value. What the window shows and kestroctl prints is the state in force;
// lifting a lock takes out every copy that contradicts the state asked for.
#pragma once

#include "formats/reg_value.h"
#include "registry/group_policy_files.h"
#include "registry/registry_store.h"
#include "settings/catalogue.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kestro {

// The places, as bits: several may hold the state in force.
enum SourceBit : unsigned {
    kSourceUser = 1,      // the user's own value
    kSourceMachine = 2,   // the copy under HKEY_LOCAL_MACHINE
    kSourceLocalGpo = 4,  // an entry of the local Group Policy object's Registry.pol
    kSourceDomain = 8,    // a domain's Group Policy
};

// "user", "machine", "local-gpo", "domain", several joined by "+", in that order.
std::string SourceNames(unsigned sources);

// The display names quoted and joined by ", ", each as one field of a line
// (core/display_text.h's ShownField).
std::string QuotedNames(const std::vector<std::string>& names);

// One Registry.pol of the local Group Policy object, as read.
struct LocalPolicyFile {
    GroupPolicyFiles::File file = GroupPolicyFiles::File::UserPolicy;
    GroupPolicyFiles::Read read = GroupPolicyFiles::Read::Absent;
    bool valid = false;                 // read and well formed
    std::vector<std::uint8_t> bytes;    // as read
    std::vector<RegValue> entries;      // when valid
    std::vector<std::size_t> offsets;   // each entry's first byte
    std::string error;                  // why it cannot be used, naming the file (core/localized.h)
};

// The Group Policy objects of a site, a domain or an organizational unit
// that Windows last applied to registry settings, by their display names,
// as Windows records them under the key
// Software\Microsoft\Windows\CurrentVersion\Group Policy\History\{35378EAC-683F-11D2-A89A-00C04FBBCF62}\N
// of HKEY_LOCAL_MACHINE (the machine's side) and of the user's hive (KB 201453,
// "Group Policy History Stored in Registry"): each entry's GPOLink is
// userenv.h's GPO_LINK, 1 the local computer, 2 a site, 3 the domain, 4 an
// organizational unit.
//
// Where Windows keeps a copy of the object on the computer (Vista and
// later, GroupPolicyFiles::ReadDomainCopy), only the values its
// Registry.pol sets are the domain's. Where it keeps none (XP, which reads
// the domain controller's share) or the copy cannot be read, every value of
// that side that no local entry explains is taken for the domain's.
struct DomainPolicy {
    std::string name;         // its display name, or its place in the history
    std::string fileSysPath;  // as the history gives it
    bool known = false;       // its copy was read: `entries` is all it sets
    std::vector<RegValue> entries;
};
struct DomainPolicies {
    std::vector<DomainPolicy> user, machine;
    static DomainPolicies Read(RegistryStore& store);
    // Reads each object's copy, where the files reach one.
    void ReadCopies(GroupPolicyFiles& files);
    // The objects of a side that may hold the row's value, by name.
    static std::vector<std::string> Holding(const std::vector<DomainPolicy>& side, const Setting& row);
};

// Both Registry.pol files of the store's local Group Policy object, read
// once for all the rows of a command or of the window's start-up, and the
// domain's objects that Windows records as applied.
struct LocalGroupPolicy {
    bool reachable = false;  // the store has such files at all
    LocalPolicyFile user, machine;
    DomainPolicies domain;

    static LocalGroupPolicy Read(RegistryStore& store);
    const LocalPolicyFile& Side(bool machineSide) const { return machineSide ? machine : user; }
    // What cannot be read, one note a file.
    std::vector<std::string> Problems() const;
};

// A row's value in each place that can hold it.
struct PolicyPlaces {
    struct Place {
        bool present = false;
        std::int32_t value = 0;
    };
    Place machineValue;  // HKEY_LOCAL_MACHINE\<keyPath>\<value>
    Place machineEntry;  // Machine\Registry.pol
    Place userEntry;     // User\Registry.pol
    Place userValue;     // the user's own value, for the domain's side
    // The domain's objects that hold a side: a value of that side is there,
    // no local entry explains it, and a domain's object applied registry
    // settings to that side. Empty when none does.
    std::vector<std::string> domainMachine, domainUser;
    std::vector<std::string> notes;  // a copy of another type, a file that cannot be read

    // The value Windows takes from the machine's side, or from the user's
    // Registry.pol, when one holds it: the machine's side first.
    bool Decides(std::int32_t* value, unsigned* sources) const;
};

// The row's places other than the user's own value; a row that has none
// (SourceOrder::Own) gives an empty answer.
PolicyPlaces ReadPolicyPlaces(RegistryStore& store, const Setting& row, const LocalGroupPolicy& gpo);

// The state in force for a toggle or number whose user's own value reads
// `own` (0 when absent): *value the number in force, *sources who holds it.
void EffectiveNumber(const Setting& row, std::int32_t own, bool ownPresent, const PolicyPlaces& places,
                     std::int32_t* value, unsigned* sources);

// Registry.pol with the entries at `remove` (indexes into file.entries)
// taken out, every other byte kept as it was.
std::vector<std::uint8_t> WithoutEntries(const LocalPolicyFile& file, const std::vector<std::size_t>& remove);

// gpt.ini's text with its version raised by one on a side (the user's in
// the high 16 bits, the machine's in the low), so that Group Policy reads
// the side's file again; a missing file or version counts as 0. False
// when the text holds a version that is not a number.
bool RaiseGptVersion(const std::vector<std::uint8_t>& gptIni, bool machineSide, std::vector<std::uint8_t>* raised);

// The entries of `file` that set the row's value.
std::vector<std::size_t> EntriesFor(const LocalPolicyFile& file, const Setting& row);

}  // namespace kestro
