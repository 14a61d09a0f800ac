#include "ctl/policy_lift.h"

#include "ctl/messages.h"

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

namespace {

std::string RefusalMessage(const Context& context, const LiftRefusal& refusal) {
    const std::string gptIni = GroupPolicyFiles::WindowsName(GroupPolicyFiles::File::GptIni);
    switch (refusal.why) {
        case LiftRefusal::Why::UnreadableFile:
            return Tr("%1: %2; nothing was written (mend or remove the file first)", refusal.row->name, refusal.detail);
        case LiftRefusal::Why::Domain: {
            // Changed on a volume, it would come back from the domain controller.
            return context.stores.WritesAtClose()
                       ? Tr("%1: set by the domain's Group Policy %2; only its domain's administrator can change it "
                            "there; nothing was written (changed on this volume, it would come back when the computer "
                            "next reaches its domain controller)",
                            refusal.row->name, QuotedNames(refusal.domain))
                       : Tr("%1: set by the domain's Group Policy %2; only its domain's administrator can change it "
                            "there; nothing was written",
                            refusal.row->name, QuotedNames(refusal.domain));
        }
        case LiftRefusal::Why::UnreadableGptIni:
            return Tr("%1 cannot be read: %2; nothing was written", gptIni, refusal.detail);
        case LiftRefusal::Why::BadGptVersion: return Tr("%1: its Version is not a number; nothing was written", gptIni);
        case LiftRefusal::Why::NoRights: {
            const Setting& row = *refusal.row;
            return Tr("%1 holds %2 for every account of this computer and wins over the user's value; only an "
                      "administrator can change it (error %3); nothing was written",
                      PlaceName(kHkeyLocalMachine, row.keyPath, row.valueNames[0]), row.name, refusal.rc);
        }
    }
    return std::string();
}

std::string FailureMessage(const LiftFailure& failure) {
    if (failure.inFile) return GroupPolicyFiles::WindowsName(failure.file) + ": " + failure.error;
    const Setting& row = *failure.row;
    return PlaceName(kHkeyLocalMachine, row.keyPath, row.valueNames[0]) + ": " +
           (failure.rc == kErrorAccessDenied ? std::string(Tr("only an administrator can delete it"))
                                             : Tr("error %1", failure.rc));
}

// Each change of the lift on a line of its own; a store that writes at its
// close reports the machine's copies only once they are kept.
LiftReport ConsoleReport(Context& context) {
    LiftReport report;
    report.entriesTakenOut = [&context](GroupPolicyFiles::File file, const std::vector<std::string>& settings) {
        std::string names;
        for (const std::string& n : settings) names += (names.empty() ? "" : ", ") + n;
        context.console.Out(
            Tr("%1: the local Group Policy's entry for %2 taken out", GroupPolicyFiles::WindowsName(file), names) + "\n");
    };
    report.versionRaised = [&context](bool userSide, bool machineSide) {
        const std::string gptIni = GroupPolicyFiles::WindowsName(GroupPolicyFiles::File::GptIni);
        // The sides' folders keep their names: User, Machine.
        context.console.Out(
            (userSide && machineSide
                 ? Tr("%1: version raised, so that Group Policy reads the changed User and Machine file again", gptIni)
                 : Tr("%1: version raised, so that Group Policy reads the changed %2 file again", gptIni,
                      kSideFolder[userSide ? kUser : kMachine])) +
            "\n");
    };
    report.machineCopyDeleted = [&context](const Setting& row, std::int32_t held) {
        const std::string line = Tr("%1: the machine's copy (%2) deleted",
                                    PlaceName(kHkeyLocalMachine, row.keyPath, row.valueNames[0]), StateWord(row, held)) +
                                 "\n";
        if (context.stores.WritesAtClose()) context.unconfirmedMachine.emplace_back(row.keyPath, line);
        else context.console.Out(line);
    };
    return report;
}

}  // namespace

bool PlanLift(Context& context, PolicyLift& lift, const std::vector<std::pair<const Setting*, SettingValue>>& wanted,
              int* code) {
    std::vector<LiftAsk> asks;
    for (const auto& entry : wanted) {
        LiftAsk ask;
        ask.row = entry.first;
        ask.hasNumber = StoredNumber(*entry.first, entry.second, &ask.number);
        asks.push_back(ask);
    }
    LiftRefusal refusal;
    if (lift.Plan(context.store, asks, &refusal) && lift.CheckRights(context.store, &refusal)) return true;
    *code = context.Fail(kExitFailed, RefusalMessage(context, refusal));
    return false;
}

void ReportLiftPlan(Context& context, const PolicyLift& lift) {
    for (const auto& value : lift.MachineValues()) {
        const Setting& row = *value.first;
        context.console.Out(Tr("%1: the machine's copy (%2) would be deleted",
                               PlaceName(kHkeyLocalMachine, row.keyPath, row.valueNames[0]),
                               StateWord(row, value.second)) +
                            "\n");
    }
    for (const PolicyFileBefore& file : lift.FilesToChange()) {
        const std::string name = GroupPolicyFiles::WindowsName(file.file);
        if (file.file == GroupPolicyFiles::File::GptIni) {
            context.console.Out(Tr("%1: its version would be raised", name) + "\n");
            continue;
        }
        std::string names;
        for (const std::string& n : lift.TakenOut(file.file == GroupPolicyFiles::File::MachinePolicy))
            names += (names.empty() ? "" : ", ") + n;
        context.console.Out(Tr("%1: the local Group Policy's entry for %2 would be taken out", name, names) + "\n");
    }
}

void AddLiftTo(const PolicyLift& lift, PriorState& prior) {
    for (const auto& value : lift.MachineValues())
        prior.AddValue(kHkeyLocalMachine, value.first->keyPath, value.first->valueNames[0]);
}

std::string WriteLift(Context& context, PolicyLift& lift) {
    LiftFailure failure;
    return lift.Write(context.store, ConsoleReport(context), &failure) ? std::string() : FailureMessage(failure);
}

bool SaveUndoCopies(const PolicyLift& lift, const std::string& undo, std::vector<std::string>* lines,
                    std::string* error) {
    for (const PolicyFileBefore& file : lift.FilesToChange()) {
        const std::string name = GroupPolicyFiles::WindowsName(file.file);
        if (!file.present) {
            lines->push_back(kAbsentPrefix + name);
            continue;
        }
        const std::string copy = undo + CopySuffix(file.file);
        if (!WriteFileAtomically(copy, std::string(file.bytes.begin(), file.bytes.end()), error)) {
            *error = Tr("cannot write %1: %2", copy, *error);
            return false;
        }
        lines->push_back(kSavedPrefix + name + " as " + NameOf(copy));
    }
    return true;
}

bool ReadUndoFileCopies(Context& context, const std::vector<std::uint8_t>& undoFile,
                        std::vector<PolicyFileBefore>* copies, int* code) {
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
                    *code = context.Fail(kExitUsage, Tr("%1: names %2, which is not a file beside it; nothing was "
                                                        "written",
                                                        context.options.file, copy));
                    return false;
                }
                std::string bytes, error;
                const std::string path = FolderOf(context.options.file) + copy;
                if (!ReadWholeFile(path, layout::kMaxFileBytes, &bytes, &error)) {
                    *code = context.Fail(kExitFailed, Tr("cannot read %1, which %2 names: %3; nothing was written",
                                                         path, context.options.file, error));
                    return false;
                }
                copies->push_back({file, true, std::vector<std::uint8_t>(bytes.begin(), bytes.end())});
            }
        }
    }
    if (!copies->empty() && !context.store.LocalGroupPolicy()) {
        *code = context.Fail(kExitFailed, Tr("%1: names Group Policy files, and this registry has none to put back; "
                                             "nothing was written",
                                             context.options.file));
        return false;
    }
    return true;
}

bool RestoreFiles(Context& context, const std::vector<PolicyFileBefore>& copies,
                  std::vector<PolicyFileBefore>* before, std::string* error) {
    GroupPolicyFiles& files = *context.store.LocalGroupPolicy();
    for (const PolicyFileBefore& copy : copies) {
        PolicyFileBefore was{copy.file, false, {}};
        std::string ignored;
        was.present = files.ReadFile(copy.file, layout::kMaxFileBytes, &was.bytes, &ignored) ==
                      GroupPolicyFiles::Read::Ok;
        before->push_back(was);
        const bool done = copy.present ? files.WriteFile(copy.file, copy.bytes, error) : files.RemoveFile(copy.file, error);
        if (!done) {
            *error = GroupPolicyFiles::WindowsName(copy.file) + ": " + *error;
            return false;
        }
        const std::string name = GroupPolicyFiles::WindowsName(copy.file);
        context.console.Out((copy.present ? Tr("%1: put back as the undo file's copy has it", name)
                                          : Tr("%1: deleted, as it was absent", name)) +
                            "\n");
    }
    return true;
}

namespace {

std::function<void(GroupPolicyFiles::File, const std::string&)> SayNotPutBack(Console* console) {
    return [console](GroupPolicyFiles::File file, const std::string& error) {
        console->Err("kestroctl: " +
                     Tr("%1: could not be put back as it was: %2", GroupPolicyFiles::WindowsName(file), error) + "\n");
    };
}

}  // namespace

void PutBackFiles(Context& context, const std::vector<PolicyFileBefore>& before) {
    PutBackPolicyFiles(context.store.LocalGroupPolicy(), before, SayNotPutBack(&context.console));
}

std::function<void()> PutBackFilesLater(Context& context, const std::vector<PolicyFileBefore>& before) {
    if (before.empty()) return nullptr;
    GroupPolicyFiles* files = context.store.LocalGroupPolicy();
    Console* console = &context.console;
    return [files, console, before]() { PutBackPolicyFiles(files, before, SayNotPutBack(console)); };
}

}  // namespace kestro
