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

// One Registry.pol of the local Group Policy object, as read.
struct LocalPolicyFile {
    GroupPolicyFiles::File file = GroupPolicyFiles::File::UserPolicy;
    GroupPolicyFiles::Read read = GroupPolicyFiles::Read::Absent;
    bool valid = false;                 // read and well formed
    std::vector<std::uint8_t> bytes;    // as read
    std::vector<RegValue> entries;      // when valid
    std::vector<std::size_t> offsets;   // each entry's first byte
    std::string error;                  // why it cannot be used, naming the file
};

// Both Registry.pol files of the store's local Group Policy object, read
// once for all the rows of a command or of the window's start-up.
struct LocalGroupPolicy {
    bool reachable = false;  // the store has such files at all
    LocalPolicyFile user, machine;

    static LocalGroupPolicy Read(RegistryStore& store);
    const LocalPolicyFile& Side(bool machineSide) const { return machineSide ? machine : user; }
    // What cannot be read, one line a file.
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

namespace kestro {

// What the window's click does when the user agrees: the machine's copy
// and the local Group Policy's entries that contradict `asked` go, as
// kestroctl's set takes them out (the files first, put back if the
// machine's copy cannot then be deleted).
struct PolicyLiftResult {
    bool ok = false;
    bool denied = false;       // no right to change the machine's copy: nothing was written
    std::string error;         // why not, naming the place
};
PolicyLiftResult LiftPolicyPlaces(RegistryStore& store, const Setting& row, std::int32_t asked);

}  // namespace kestro
