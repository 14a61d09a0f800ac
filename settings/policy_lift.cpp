#include "settings/policy_lift.h"

#include "registry/key_tree.h"

#include <algorithm>

namespace kestro {

namespace {

constexpr std::size_t kUser = 0, kMachine = 1;
constexpr std::size_t kGptIniLimit = 64 * 1024;

}  // namespace

void PutBackPolicyFiles(GroupPolicyFiles* files, const std::vector<PolicyFileBefore>& before,
                        const std::function<void(GroupPolicyFiles::File, const std::string&)>& failed) {
    if (!files) return;
    for (auto it = before.rbegin(); it != before.rend(); ++it) {
        std::string error;
        const bool back = it->present ? files->WriteFile(it->file, it->bytes, &error) : files->RemoveFile(it->file, &error);
        if (!back && failed) failed(it->file, error);
    }
}

bool PolicyLift::Plan(RegistryStore& store, const std::vector<LiftAsk>& wanted, LiftRefusal* refusal) {
    if (std::none_of(wanted.begin(), wanted.end(), [](const LiftAsk& ask) { return ask.row->HasMachineCopy(); }))
        return true;
    gpo_ = LocalGroupPolicy::Read(store);
    for (const LiftAsk& ask : wanted)
        if (ask.row->HasMachineCopy() && !PlanRow(store, ask, refusal)) return false;
    if (removals_[kUser].empty() && removals_[kMachine].empty()) return true;
    return PlanGptIni(store, refusal);
}

bool PolicyLift::PlanRow(RegistryStore& store, const LiftAsk& ask, LiftRefusal* refusal) {
    const Setting& row = *ask.row;
    refusal->row = &row;
    // A file that cannot be read may hold an entry that puts the lock
    // back: nothing is written until it can be read.
    for (const LocalPolicyFile* file : {&gpo_.user, &gpo_.machine})
        if (!file->error.empty()) {
            refusal->why = LiftRefusal::Why::UnreadableFile;
            refusal->detail = file->error;
            return false;
        }
    // A default leaves no value anywhere: every copy goes.
    const auto contradicts = [&ask](const PolicyPlaces::Place& place) {
        return place.present && (!ask.hasNumber || place.value != ask.number);
    };
    const PolicyPlaces places = ReadPolicyPlaces(store, row, gpo_);
    // A domain's object writes its value again at the computer's next
    // refresh, whatever is changed here: not ours to lift.
    const std::vector<std::string>* domain = nullptr;
    if (!places.domainMachine.empty() && contradicts(places.machineValue)) domain = &places.domainMachine;
    else if (!places.domainUser.empty() && contradicts(places.userValue)) domain = &places.domainUser;
    if (domain) {
        refusal->why = LiftRefusal::Why::Domain;
        refusal->domain = *domain;
        return false;
    }
    // Group Policy wrote the machine's copy from the entry: it goes with
    // the entry, unless it already holds what was asked.
    const bool machineEntryGoes = contradicts(places.machineEntry);
    const bool copyHoldsAsked = ask.hasNumber && places.machineValue.value == ask.number;
    if (contradicts(places.machineValue) || (machineEntryGoes && places.machineValue.present && !copyHoldsAsked))
        machineValues_.emplace_back(&row, places.machineValue.value);
    for (std::size_t side : {kUser, kMachine}) {
        const LocalPolicyFile& file = gpo_.Side(side == kMachine);
        if (!contradicts(side == kMachine ? places.machineEntry : places.userEntry)) continue;
        for (std::size_t i : EntriesFor(file, row)) removals_[side].push_back(i);
        removalNames_[side].push_back(row.name);
    }
    return true;
}

// gpt.ini must be raised, so it must be readable and hold a number.
bool PolicyLift::PlanGptIni(RegistryStore& store, LiftRefusal* refusal) {
    refusal->row = nullptr;
    std::string error;
    const GroupPolicyFiles::Read read =
        store.LocalGroupPolicy()->ReadFile(GroupPolicyFiles::File::GptIni, kGptIniLimit, &gptIni_, &error);
    if (read == GroupPolicyFiles::Read::Failed) {
        refusal->why = LiftRefusal::Why::UnreadableGptIni;
        refusal->detail = error;
        return false;
    }
    gptIniPresent_ = read == GroupPolicyFiles::Read::Ok;
    std::vector<std::uint8_t> check;
    if (!RaiseGptVersion(gptIni_, false, &check)) {
        refusal->why = LiftRefusal::Why::BadGptVersion;
        return false;
    }
    return true;
}

bool PolicyLift::CheckRights(RegistryStore& store, LiftRefusal* refusal) const {
    for (const auto& value : machineValues_) {
        const Setting& row = *value.first;
        KeyHandle key = 0;
        const RegResult rc = store.OpenKey(kHkeyLocalMachine, row.keyPath, kKeySetValue | kKeyWow64_64Key, &key);
        if (rc == kErrorSuccess) store.CloseKey(key);
        if (rc == kErrorSuccess || rc == kErrorFileNotFound) continue;
        refusal->why = LiftRefusal::Why::NoRights;
        refusal->row = &row;
        refusal->rc = rc;
        return false;
    }
    return true;
}

bool PolicyLift::Write(RegistryStore& store, const LiftReport& report, LiftFailure* failure) {
    if ((!removals_[kUser].empty() || !removals_[kMachine].empty()) &&
        !WriteFiles(*store.LocalGroupPolicy(), report, failure))
        return false;
    return DeleteMachineCopies(store, report, failure);
}

bool PolicyLift::WriteFiles(GroupPolicyFiles& files, const LiftReport& report, LiftFailure* failure) {
    failure->inFile = true;
    std::vector<std::uint8_t> gpt = gptIni_;
    for (std::size_t side : {kUser, kMachine}) {
        if (removals_[side].empty()) continue;
        const LocalPolicyFile& file = gpo_.Side(side == kMachine);
        before_.push_back({file.file, true, file.bytes});
        if (!files.WriteFile(file.file, WithoutEntries(file, removals_[side]), &failure->error)) {
            failure->file = file.file;
            return false;
        }
        if (report.entriesTakenOut) report.entriesTakenOut(file.file, removalNames_[side]);
        std::vector<std::uint8_t> raised;
        RaiseGptVersion(gpt, side == kMachine, &raised);
        gpt = raised;
    }
    before_.push_back({GroupPolicyFiles::File::GptIni, gptIniPresent_, gptIni_});
    if (!files.WriteFile(GroupPolicyFiles::File::GptIni, gpt, &failure->error)) {
        failure->file = GroupPolicyFiles::File::GptIni;
        return false;
    }
    if (report.versionRaised) report.versionRaised(!removals_[kUser].empty(), !removals_[kMachine].empty());
    failure->inFile = false;
    return true;
}

bool PolicyLift::DeleteMachineCopies(RegistryStore& store, const LiftReport& report, LiftFailure* failure) const {
    for (const auto& value : machineValues_) {
        const Setting& row = *value.first;
        StoredValue absent;
        absent.root = kHkeyLocalMachine;
        absent.keyPath = row.keyPath;
        absent.name = row.valueNames[0];
        const RegResult rc = WriteStoredValue(store, absent);  // deletes it
        if (rc != kErrorSuccess) {
            failure->inFile = false;
            failure->row = &row;
            failure->rc = rc;
            return false;
        }
        if (report.machineCopyDeleted) report.machineCopyDeleted(row, value.second);
    }
    return true;
}

void PolicyLift::PutBackFiles(RegistryStore& store,
                              const std::function<void(GroupPolicyFiles::File, const std::string&)>& failed) const {
    PutBackPolicyFiles(store.LocalGroupPolicy(), before_, failed);
}

bool PolicyLift::Touches(const Setting& row) const {
    for (const auto& value : machineValues_)
        if (value.first == &row) return true;
    for (const auto& names : removalNames_)
        if (std::find(names.begin(), names.end(), row.name) != names.end()) return true;
    return false;
}

std::vector<PolicyFileBefore> PolicyLift::FilesToChange() const {
    std::vector<PolicyFileBefore> changed;
    for (std::size_t side : {kUser, kMachine})
        if (!removals_[side].empty()) changed.push_back({gpo_.Side(side == kMachine).file, true, gpo_.Side(side == kMachine).bytes});
    if (!changed.empty()) changed.push_back({GroupPolicyFiles::File::GptIni, gptIniPresent_, gptIni_});
    return changed;
}

namespace {

std::string MachineValueName(const Setting& row) {
    return std::string("HKEY_LOCAL_MACHINE\\") + row.keyPath + "\\" + row.valueNames[0];
}

// The refusal in a line of the window's box, below its own words.
std::string RefusalText(const LiftRefusal& refusal) {
    const std::string gptIni = GroupPolicyFiles::WindowsName(GroupPolicyFiles::File::GptIni);
    switch (refusal.why) {
        case LiftRefusal::Why::UnreadableFile: return refusal.detail;
        case LiftRefusal::Why::UnreadableGptIni: return gptIni + " cannot be read: " + refusal.detail;
        case LiftRefusal::Why::BadGptVersion: return gptIni + ": its Version is not a number";
        case LiftRefusal::Why::Domain: return QuotedNames(refusal.domain);
        case LiftRefusal::Why::NoRights: return MachineValueName(*refusal.row) + ": error " + std::to_string(refusal.rc);
    }
    return std::string();
}

}  // namespace

PolicyLiftResult LiftPolicyPlaces(RegistryStore& store, const Setting& row, std::int32_t asked) {
    PolicyLiftResult result;
    PolicyLift lift;
    LiftRefusal refusal;
    if (!lift.Plan(store, {{&row, true, asked}}, &refusal) || !lift.CheckRights(store, &refusal)) {
        result.denied = refusal.why == LiftRefusal::Why::NoRights && refusal.rc == kErrorAccessDenied;
        result.error = RefusalText(refusal);
        return result;
    }
    LiftFailure failure;
    if (!lift.Write(store, LiftReport(), &failure)) {
        lift.PutBackFiles(store);
        result.denied = !failure.inFile && failure.rc == kErrorAccessDenied;
        result.error = failure.inFile ? GroupPolicyFiles::WindowsName(failure.file) + ": " + failure.error
                                      : MachineValueName(*failure.row) + ": error " + std::to_string(failure.rc);
        return result;
    }
    result.ok = true;
    return result;
}

}  // namespace kestro
