#include "ctl/policy_lift.h"

#include "core/files.h"
#include "core/text.h"
#include "formats/layout.h"
#include "registry/key_tree.h"

#include <algorithm>

namespace kestro {

namespace {

constexpr std::size_t kUser = 0, kMachine = 1;

const char* const kSideFolder[2] = {"User", "Machine"};

std::string StateWord(const Setting& row, std::int32_t number) {
    if (KindOf(row) == ValueKind::Toggle) return number == row.down[0] ? "on" : "off";
    return std::to_string(number);
}

// The copy's name beside the undo file, by the file it keeps.
const char* CopySuffix(GroupPolicyFiles::File file) {
    switch (file) {
        case GroupPolicyFiles::File::UserPolicy: return ".User-Registry.pol";
        case GroupPolicyFiles::File::MachinePolicy: return ".Machine-Registry.pol";
        case GroupPolicyFiles::File::GptIni: return ".gpt.ini";
    }
    return "";
}

constexpr const char* kSavedPrefix = "; Kestro saved ";
constexpr const char* kAbsentPrefix = "; Kestro found no ";

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NameOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool StoredNumber(const Setting& row, const SettingValue& value, std::int32_t* number) {
    if (value.isDefault) return false;
    *number = value.kind == ValueKind::Toggle ? (value.on ? row.down[0] : row.up[0]) : value.number;
    return true;
}

bool PolicyLift::Plan(Context& context, const std::vector<std::pair<const Setting*, SettingValue>>& wanted, int* code) {
    bool any = false;
    for (const auto& entry : wanted) any = any || entry.first->HasMachineCopy();
    if (!any) return true;
    gpo_ = LocalGroupPolicy::Read(context.store);
    for (const auto& entry : wanted) {
        const Setting& row = *entry.first;
        if (!row.HasMachineCopy()) continue;
        std::int32_t asked = 0;
        const bool hasNumber = StoredNumber(row, entry.second, &asked);
        // A default leaves no value anywhere: every copy goes.
        const auto contradicts = [&](const PolicyPlaces::Place& place) {
            return place.present && (!hasNumber || place.value != asked);
        };
        // A file that cannot be read may hold an entry that puts the lock
        // back: nothing is written until it can be read.
        for (const LocalPolicyFile* file : {&gpo_.user, &gpo_.machine})
            if (!file->error.empty()) {
                *code = context.Fail(kExitFailed, std::string(row.name) + ": " + file->error +
                                                      "; nothing was written (mend or remove the file first)");
                return false;
            }
        const PolicyPlaces places = ReadPolicyPlaces(context.store, row, gpo_);
        // A domain's object writes its value again at the computer's next
        // refresh, whatever is changed here: not ours to lift.
        const std::vector<std::string>* domain = nullptr;
        if (!places.domainMachine.empty() && contradicts(places.machineValue)) domain = &places.domainMachine;
        else if (!places.domainUser.empty() && contradicts(places.userValue)) domain = &places.domainUser;
        if (domain) {
            std::string message = std::string(row.name) + ": set by the domain's Group Policy " + QuotedNames(*domain) +
                                  "; only its domain's administrator can change it there; nothing was written";
            if (context.stores.WritesAtClose())
                message += " (changed on this volume, it would come back when the computer next reaches its "
                           "domain controller)";
            *code = context.Fail(kExitFailed, message);
            return false;
        }
        const bool machineEntryGoes = contradicts(places.machineEntry);
        // Group Policy wrote the machine's copy from the entry: it goes
        // with the entry, unless it already holds what was asked.
        if (contradicts(places.machineValue) ||
            (machineEntryGoes && places.machineValue.present && !(hasNumber && places.machineValue.value == asked)))
            machineValues_.emplace_back(&row, places.machineValue.value);
        for (std::size_t side : {kUser, kMachine}) {
            const LocalPolicyFile& file = gpo_.Side(side == kMachine);
            const PolicyPlaces::Place& place = side == kMachine ? places.machineEntry : places.userEntry;
            if (!contradicts(place)) continue;
            for (std::size_t i : EntriesFor(file, row)) removals_[side].push_back(i);
            removalNames_[side].push_back(row.name);
        }
    }
    if (removals_[kUser].empty() && removals_[kMachine].empty()) return true;
    // gpt.ini must be raised, so it must be readable and hold a number.
    std::string error;
    GroupPolicyFiles& files = *context.store.LocalGroupPolicy();
    const GroupPolicyFiles::Read read = files.ReadFile(GroupPolicyFiles::File::GptIni, 64 * 1024, &gptIni_, &error);
    const std::string name = GroupPolicyFiles::WindowsName(GroupPolicyFiles::File::GptIni);
    if (read == GroupPolicyFiles::Read::Failed) {
        *code = context.Fail(kExitFailed, name + " cannot be read: " + error + "; nothing was written");
        return false;
    }
    gptIniPresent_ = read == GroupPolicyFiles::Read::Ok;
    std::vector<std::uint8_t> check;
    if (!RaiseGptVersion(gptIni_, false, &check)) {
        *code = context.Fail(kExitFailed, name + ": its Version is not a number; nothing was written");
        return false;
    }
    return true;
}

void PolicyLift::AddTo(PriorState& prior) const {
    for (const auto& value : machineValues_) prior.AddValue(kHkeyLocalMachine, value.first->keyPath, value.first->valueNames[0]);
}

bool PolicyLift::CheckRights(Context& context, int* code) const {
    for (const auto& value : machineValues_) {
        const Setting& row = *value.first;
        KeyHandle key = 0;
        const RegResult rc = context.store.OpenKey(kHkeyLocalMachine, row.keyPath, kKeySetValue | kKeyWow64_64Key, &key);
        if (rc == kErrorSuccess) {
            context.store.CloseKey(key);
            continue;
        }
        if (rc == kErrorFileNotFound) continue;
        *code = context.Fail(kExitFailed, PlaceName(kHkeyLocalMachine, row.keyPath, row.valueNames[0]) +
                                              " holds " + row.name + " for every account of this computer and "
                                              "wins over the user's value; only an administrator can change it "
                                              "(error " + std::to_string(rc) + "); nothing was written");
        return false;
    }
    return true;
}

std::string PolicyLift::Write(Context& context) {
    if (!removals_[kUser].empty() || !removals_[kMachine].empty()) {
        GroupPolicyFiles& files = *context.store.LocalGroupPolicy();
        std::vector<std::uint8_t> gpt = gptIni_;
        for (std::size_t side : {kUser, kMachine}) {
            if (removals_[side].empty()) continue;
            const LocalPolicyFile& file = gpo_.Side(side == kMachine);
            before_.push_back({file.file, true, file.bytes});
            std::string error;
            if (!files.WriteFile(file.file, WithoutEntries(file, removals_[side]), &error))
                return GroupPolicyFiles::WindowsName(file.file) + ": " + error;
            std::string names;
            for (const std::string& n : removalNames_[side]) names += (names.empty() ? "" : ", ") + n;
            context.console.Out(GroupPolicyFiles::WindowsName(file.file) + ": the local Group Policy's entry for " +
                                names + " taken out\n");
            std::vector<std::uint8_t> raised;
            RaiseGptVersion(gpt, side == kMachine, &raised);
            gpt = raised;
        }
        before_.push_back({GroupPolicyFiles::File::GptIni, gptIniPresent_, gptIni_});
        std::string error;
        const std::string name = GroupPolicyFiles::WindowsName(GroupPolicyFiles::File::GptIni);
        if (!files.WriteFile(GroupPolicyFiles::File::GptIni, gpt, &error)) return name + ": " + error;
        const std::string text(gpt.begin(), gpt.end());
        context.console.Out(name + ": version raised, so that Group Policy reads the changed " +
                            (removals_[kUser].empty() ? std::string(kSideFolder[kMachine])
                             : removals_[kMachine].empty() ? std::string(kSideFolder[kUser])
                                                           : std::string("User and Machine")) +
                            " file again\n");
    }
    for (const auto& value : machineValues_) {
        const Setting& row = *value.first;
        StoredValue absent;
        absent.root = kHkeyLocalMachine;
        absent.keyPath = row.keyPath;
        absent.name = row.valueNames[0];
        const RegResult rc = WriteStoredValue(context.store, absent);  // deletes it
        const std::string where = PlaceName(kHkeyLocalMachine, row.keyPath, row.valueNames[0]);
        if (rc != kErrorSuccess) {
            return where + ": " + (rc == kErrorAccessDenied ? "only an administrator can delete it"
                                                            : "error " + std::to_string(rc));
        }
        const std::string line = where + ": the machine's copy (" + StateWord(row, value.second) + ") deleted\n";
        if (context.stores.WritesAtClose()) context.unconfirmedMachine.emplace_back(row.keyPath, line);
        else context.console.Out(line);
    }
    return std::string();
}

bool PolicyLift::SaveUndoCopies(const std::string& undo, std::vector<std::string>* lines, std::string* error) const {
    std::vector<FileBefore> changed;
    for (std::size_t side : {kUser, kMachine})
        if (!removals_[side].empty()) changed.push_back({gpo_.Side(side == kMachine).file, true, gpo_.Side(side == kMachine).bytes});
    if (changed.empty()) return true;
    changed.push_back({GroupPolicyFiles::File::GptIni, gptIniPresent_, gptIni_});
    for (const FileBefore& file : changed) {
        const std::string name = GroupPolicyFiles::WindowsName(file.file);
        if (!file.present) {
            lines->push_back(kAbsentPrefix + name);
            continue;
        }
        const std::string copy = undo + CopySuffix(file.file);
        if (!WriteFileAtomically(copy, std::string(file.bytes.begin(), file.bytes.end()), error)) {
            *error = "cannot write " + copy + ": " + *error;
            return false;
        }
        lines->push_back(kSavedPrefix + name + " as " + NameOf(copy));
    }
    return true;
}

bool ReadUndoFileCopies(Context& context, const std::vector<std::uint8_t>& undoFile,
                        std::vector<PolicyLift::FileBefore>* copies, int* code) {
    const std::string text = Utf16ToUtf8(Utf16FromLeBytes(undoFile));
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        for (GroupPolicyFiles::File file : {GroupPolicyFiles::File::UserPolicy, GroupPolicyFiles::File::MachinePolicy,
                                             GroupPolicyFiles::File::GptIni}) {
            const std::string name = GroupPolicyFiles::WindowsName(file);
            if (line == kAbsentPrefix + name) {
                copies->push_back({file, false, {}});
            } else if (line.rfind(kSavedPrefix + name + " as ", 0) == 0) {
                // Only a name beside the undo file: never a path elsewhere.
                const std::string copy = line.substr(std::string(kSavedPrefix).size() + name.size() + 4);
                if (copy.empty() || copy.find_first_of("/\\:") != std::string::npos || copy == "." || copy == "..") {
                    *code = context.Fail(kExitUsage, context.options.file + ": names " + copy +
                                                         ", which is not a file beside it; nothing was written");
                    return false;
                }
                std::string bytes, error;
                const std::string path = FolderOf(context.options.file) + copy;
                if (!ReadWholeFile(path, layout::kMaxFileBytes, &bytes, &error)) {
                    *code = context.Fail(kExitFailed, "cannot read " + path + ", which " + context.options.file +
                                                          " names: " + error + "; nothing was written");
                    return false;
                }
                copies->push_back({file, true, std::vector<std::uint8_t>(bytes.begin(), bytes.end())});
            }
        }
    }
    if (!copies->empty() && !context.store.LocalGroupPolicy()) {
        *code = context.Fail(kExitFailed, context.options.file +
                                              ": names Group Policy files, and this registry has none to put back; "
                                              "nothing was written");
        return false;
    }
    return true;
}

bool RestoreFiles(Context& context, const std::vector<PolicyLift::FileBefore>& copies,
                  std::vector<PolicyLift::FileBefore>* before, std::string* error) {
    GroupPolicyFiles& files = *context.store.LocalGroupPolicy();
    for (const PolicyLift::FileBefore& copy : copies) {
        PolicyLift::FileBefore was{copy.file, false, {}};
        std::string ignored;
        was.present = files.ReadFile(copy.file, layout::kMaxFileBytes, &was.bytes, &ignored) ==
                      GroupPolicyFiles::Read::Ok;
        before->push_back(was);
        const bool done = copy.present ? files.WriteFile(copy.file, copy.bytes, error) : files.RemoveFile(copy.file, error);
        if (!done) {
            *error = GroupPolicyFiles::WindowsName(copy.file) + ": " + *error;
            return false;
        }
        context.console.Out(GroupPolicyFiles::WindowsName(copy.file) +
                            (copy.present ? ": put back as the undo file's copy has it\n" : ": deleted, as it was absent\n"));
    }
    return true;
}

namespace {

void PutBack(GroupPolicyFiles* files, const std::vector<PolicyLift::FileBefore>& before, Console& console) {
    if (!files) return;
    for (auto it = before.rbegin(); it != before.rend(); ++it) {
        std::string error;
        const bool back = it->present ? files->WriteFile(it->file, it->bytes, &error) : files->RemoveFile(it->file, &error);
        if (!back)
            console.Err("kestroctl: " + GroupPolicyFiles::WindowsName(it->file) + ": could not be put back as it was: " +
                        error + "\n");
    }
}

}  // namespace

void PutBackFiles(Context& context, const std::vector<PolicyLift::FileBefore>& before) {
    PutBack(context.store.LocalGroupPolicy(), before, context.console);
}

std::function<void()> PutBackFilesLater(Context& context, const std::vector<PolicyLift::FileBefore>& before) {
    if (before.empty()) return nullptr;
    GroupPolicyFiles* files = context.store.LocalGroupPolicy();
    Console* console = &context.console;
    return [files, console, before]() { PutBack(files, before, *console); };
}

void PolicyLift::PutBackFiles(Context& context) const {
    PutBack(context.store.LocalGroupPolicy(), before_, context.console);
}

std::function<void()> PolicyLift::PutBackLater(Context& context) const {
    if (before_.empty()) return nullptr;
    GroupPolicyFiles* files = context.store.LocalGroupPolicy();
    Console* console = &context.console;
    std::vector<FileBefore> before = before_;
    return [files, console, before]() { PutBack(files, before, *console); };
}

}  // namespace kestro
