// kestroctl apply: a profile, or a .reg or Registry.pol file that export
// wrote, checked whole before anything is written.
#include "ctl/command_context.h"
#include "ctl/messages.h"

#include "ctl/policy_lift.h"
#include "ctl/prior_state.h"
#include "ctl/writes.h"
#include "formats/entry_match.h"
#include "formats/file_bytes.h"
#include "formats/layout.h"
#include "formats/policy_file.h"
#include "formats/reg_file.h"
#include "core/text.h"

#include <CLI/CLI.hpp>

#include <algorithm>

namespace kestro {

namespace {

bool EndsWithIgnoringCase(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && SameAsciiNoCase(text.substr(text.size() - end.size()), end);
}

// The folder a policy file lies in says whose it is, as in a GPO.
bool PolicyScopeOf(const std::string& file, const std::string& given, PolicyScope* scope) {
    if (!given.empty()) {
        *scope = SameAsciiNoCase(given, "user") ? PolicyScope::User : PolicyScope::Machine;
        return true;
    }
    const std::size_t end = file.find_last_of("/\\");
    if (end == std::string::npos || end == 0) return false;
    const std::size_t start = file.find_last_of("/\\", end - 1);
    const std::string folder = file.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1));
    if (SameAsciiNoCase(folder, layout::kPolUserFolder)) *scope = PolicyScope::User;
    else if (SameAsciiNoCase(folder, layout::kPolMachineFolder)) *scope = PolicyScope::Machine;
    else return false;
    return true;
}

// Every setting as the match sees it: the values its writer stores for a
// state, computed by the writers themselves.
std::vector<SettingShape> SettingShapes() {
    std::vector<SettingShape> shapes;
    for (const Setting& row : kCatalogue) {
        const ValueKind kind = KindOf(row);
        if (kind == ValueKind::Action) continue;
        const Setting* r = &row;
        shapes.push_back({row.name,
                          kind == ValueKind::Toggle   ? SettingShape::Kind::Toggle
                          : kind == ValueKind::Number ? SettingShape::Kind::Number
                                                      : SettingShape::Kind::Text,
                          [r, kind](const std::string& state) {
                              Profile one;
                              one.entries.push_back({r, SettingValueOfState(kind, state), 0});
                              return RegistryValuesFor(one);
                          }});
    }
    return shapes;
}

// The changes of an undo file that go past the writers: values with their
// exact bytes (hex) or deleted, and the search history's key tree.
struct RawEdits {
    std::vector<RegEdit> edits;
    std::vector<std::string> labels;
};

// Whether the place is a value one of Kestro's settings stores.
bool IsSettingValue(const RegValue& value) {
    for (const Setting& row : kCatalogue) {
        // The machine's copy of a row that Windows reads there first is the
        // row's too: an undo file puts it back.
        const bool root = row.root == value.root || (row.HasMachineCopy() && value.root == kHkeyLocalMachine);
        if (!row.HasState() || !root || !SameAsciiNoCase(row.keyPath, value.keyPath)) continue;
        for (std::size_t i = 0; i < row.ValueCount(); ++i)
            if (SameAsciiNoCase(row.valueNames[i], value.name)) return true;
    }
    return false;
}

// Whether the key is the search history's, or below it.
bool InSearchHistory(KeyHandle root, const std::string& keyPath) {
    const Setting& row = CatalogueRow(SettingId::SearchHistory);
    const std::string tree = std::string(row.keyPath) + "\\" + row.valueNames[0];
    return root == row.root && (SameAsciiNoCase(keyPath, tree) ||
                                (keyPath.size() > tree.size() && keyPath[tree.size()] == '\\' &&
                                 SameAsciiNoCase(keyPath.substr(0, tree.size()), tree)));
}

// Sorts a .reg file's changes: plain values go to the match, like any
// export; deletions and raw values only where Kestro keeps its own, and
// key lines only inside the search history (elsewhere they only head the
// values below them). The places of what is refused go to `refused`.
void SortEdits(const std::vector<RegEdit>& edits, const std::vector<std::size_t>& lines, std::vector<RegValue>* plain,
               std::vector<std::size_t>* plainLines, RawEdits* raw, std::vector<std::size_t>* refused) {
    for (std::size_t i = 0; i < edits.size(); ++i) {
        const RegEdit& edit = edits[i];
        const bool history = InSearchHistory(edit.value.root, edit.value.keyPath);
        bool own = history;
        switch (edit.kind) {
            case RegEdit::Kind::Key:
                if (!history) continue;
                break;
            case RegEdit::Kind::Value:
                if (!edit.raw && !history) {
                    plain->push_back(edit.value);
                    plainLines->push_back(lines[i]);
                    continue;
                }
                own = own || IsSettingValue(edit.value);
                break;
            case RegEdit::Kind::DeleteValue: own = own || IsSettingValue(edit.value); break;
            case RegEdit::Kind::DeleteKey: break;
        }
        if (!own) {
            refused->push_back(lines[i]);
            continue;
        }
        raw->edits.push_back(edit);
        raw->labels.push_back(Tr("line %1", lines[i]));
    }
}

// A .reg or Registry.pol file as a profile: only Kestro's settings, each in
// a state its writer gives, and from an undo file the raw changes to its own
// values and keys. False, having said why, when the file is malformed or
// holds something else.
bool ReadExportedFile(Context& context, bool policy, Profile* profile, std::vector<std::string>* labels, RawEdits* raw,
                      int* code) {
    const std::string& file = context.options.file;
    PolicyScope scope = PolicyScope::User;
    if (policy && !PolicyScopeOf(file, context.options.scope, &scope)) {
        *code = context.Fail(kExitUsage,
                             Tr("%1: not in a User or Machine folder; say whose it is with --scope user|machine", file));
        return false;
    }
    std::vector<RegValue> entries;
    std::vector<std::size_t> places;
    std::vector<std::size_t> refused;
    try {
        const std::vector<std::uint8_t> bytes = ReadFileBytes(file, layout::kMaxFileBytes);
        if (policy) {
            entries = ReadPolicyFile(bytes, scope, &places);
        } else {
            std::vector<std::size_t> lines;
            const std::vector<RegEdit> edits = ReadRegEdits(bytes, &lines);
            SortEdits(edits, lines, &entries, &places, raw, &refused);
        }
    } catch (const FileError& e) {
        *code = context.Fail(kExitUsage, Tr("cannot read %1", e.what()));
        return false;
    } catch (const FormatError& e) {
        *code = context.Fail(kExitUsage, Tr("%1: %2; nothing was written", file, e.what()));
        return false;
    }
    EntryMatch match =
        MatchEntries(entries, places, policy ? "offset" : "line", SettingShapes(), context.options.ignoreUnknown);
    for (std::size_t line : refused) {
        const std::string what =
            Tr("line %1: a deletion, a raw (hex) value or a key outside Kestro's own values and keys", line);
        if (context.options.ignoreUnknown) match.ignored.push_back(what);
        else match.errors.push_back(what);
    }
    for (const std::string& ignored : match.ignored) context.console.Err("kestroctl: " + Tr("%1: %2, passed over", file, ignored) + "\n");
    if (!match.errors.empty()) {
        for (const std::string& error : match.errors) context.console.Err("kestroctl: " + file + ": " + error + "\n");
        *code = context.Fail(kExitUsage,
                             context.options.ignoreUnknown
                                 ? Tr("%1: %2 entries are not Kestro settings as its writers store them; nothing was "
                                      "written",
                                      file, match.errors.size())
                                 : Tr("%1: %2 entries are not Kestro settings as its writers store them (--ignore-unknown "
                                      "passes over other values); nothing was written",
                                      file, match.errors.size()));
        return false;
    }
    for (const FoundSetting& found : match.settings) {
        const Setting* row = FindSettingByName(found.name);
        profile->entries.push_back({row, SettingValueOfState(KindOf(*row), found.state), 0});
        labels->push_back(file);
    }
    return true;
}

// What apply is to set, by the file's name: a .reg, a .pol or a profile,
// each entry labelled with where it came from, for messages.
bool ReadApplyFile(Context& context, Profile* profile, std::vector<std::string>* labels, RawEdits* raw, int* code) {
    const std::string& file = context.options.file;
    const bool policy = EndsWithIgnoringCase(file, ".pol");
    if (policy || EndsWithIgnoringCase(file, ".reg"))
        return ReadExportedFile(context, policy, profile, labels, raw, code);
    if (!ReadProfileFile(context, file, profile, code)) return false;
    for (const ProfileEntry& entry : profile->entries) labels->push_back(file + ":" + std::to_string(entry.line));
    return true;
}

// An undo file names the Group Policy files it saved: they go back too.
// False, having said why, where one it names cannot be read.
bool ReadUndoCopies(Context& context, std::vector<PolicyFileBefore>* copies, int* code) {
    if (!EndsWithIgnoringCase(context.options.file, ".reg")) return true;
    std::vector<std::uint8_t> bytes;
    try {
        bytes = ReadFileBytes(context.options.file, layout::kMaxFileBytes);
    } catch (const FileError& e) {
        *code = context.Fail(kExitFailed, Tr("cannot read %1", e.what()));
        return false;
    }
    return ReadUndoFileCopies(context, bytes, copies, code);
}

// What apply would change, as Windows enforces each setting: the Group
// Policy files an undo file puts back, the lift's changes to the machine's
// copies and the Group Policy files, then each setting whose state in force
// is not the one asked for, or whose other places the lift changes.
// Refused as apply would be.
int ReportDryRun(Context& context, const Profile& profile, const RawEdits& raw) {
    std::vector<PolicyFileBefore> copies;
    int code = kExitOk;
    if (!ReadUndoCopies(context, &copies, &code)) return code;
    for (const PolicyFileBefore& copy : copies) {
        const std::string name = GroupPolicyFiles::WindowsName(copy.file);
        context.console.Out((copy.present ? Tr("%1: would be put back as the undo file's copy has it", name)
                                          : Tr("%1: would be deleted, as it was absent", name)) +
                            "\n");
    }
    for (const RegEdit& edit : raw.edits)
        if (edit.kind != RegEdit::Kind::Key)
            context.console.Out(PlaceName(edit.value.root, edit.value.keyPath, edit.value.name) +
                                ": " + (edit.kind == RegEdit::Kind::Value ? Tr("set as the file has it") : Tr("deleted")) + "\n");
    std::vector<std::pair<const Setting*, SettingValue>> wanted;
    for (const ProfileEntry& entry : profile.entries) wanted.emplace_back(entry.row, entry.value);
    PolicyLift lift;
    if (!PlanLift(context, lift, wanted, &code)) return code;
    ReportLiftPlan(context, lift);
    const LocalGroupPolicy gpo = LocalGroupPolicy::Read(context.store);
    int changes = 0;
    for (const ProfileEntry& entry : profile.entries) {
        const SettingState state = ReadEnforcedState(context.store, *entry.row, gpo);
        if (!lift.Touches(*entry.row)) {
            if (entry.value.isDefault) {
                PriorState stored;
                stored.Add(*entry.row);
                std::string unread;
                if (stored.Read(context.store, &unread) &&
                    std::none_of(stored.Values().begin(), stored.Values().end(), [](const PriorValue& v) { return v.present; }))
                    continue;
            } else if (state.status == SettingState::Status::Ok && state.value == entry.value) {
                continue;
            }
        }
        ++changes;
        const std::string source = state.sources == kSourceUser ? std::string() : " (" + SourceNames(state.sources) + ")";
        context.console.Out(std::string(entry.row->name) + ": " + StateText(state) + source + " -> " +
                            DisplaySettingValue(entry.value) + "\n");
    }
    context.console.Out(Tr("%1 of %2 settings would change; nothing was written", changes, profile.entries.size()) +
                        "\n");
    return kExitOk;
}

// One raw change of an undo file, through the store.
RegResult WriteRaw(RegistryStore& store, const RegEdit& edit) {
    switch (edit.kind) {
        case RegEdit::Kind::Key: return MakeKey(store, edit.value.root, edit.value.keyPath);
        case RegEdit::Kind::Value: return WriteStoredValue(store, StoredValueOf(edit.value, true));
        case RegEdit::Kind::DeleteValue: return WriteStoredValue(store, StoredValueOf(edit.value, false));
        case RegEdit::Kind::DeleteKey: return DeleteKeyTree(store, edit.value.root, edit.value.keyPath);
    }
    return kErrorInvalidParameter;
}

std::string WriteLifted(Context& context, const Profile& profile, const std::vector<std::string>& labels,
                        const RawEdits& raw, PolicyLift& lift);

// Every entry through its writer, all or nothing: the first that fails
// stops the rest, and what was written before it is put back.
int WriteEntries(Context& context, const Profile& profile, const std::vector<std::string>& labels, const RawEdits& raw) {
    // Where Windows reads a setting first, what contradicts the state the
    // file asks for goes too (an undo file's raw changes are exact and
    // carry the machine's copies themselves).
    std::vector<std::pair<const Setting*, SettingValue>> wanted;
    for (const ProfileEntry& entry : profile.entries) wanted.emplace_back(entry.row, entry.value);
    PolicyLift lift;
    int code = kExitOk;
    if (!PlanLift(context, lift, wanted, &code)) return code;
    std::vector<PolicyFileBefore> copies;
    if (!ReadUndoCopies(context, &copies, &code)) return code;
    PriorState prior;
    AddLiftTo(lift, prior);
    for (const ProfileEntry& entry : profile.entries) prior.Add(*entry.row);
    context.saveUndoFiles = [&lift](const std::string& undo, std::vector<std::string>* lines, std::string* error) {
        return SaveUndoCopies(lift, undo, lines, error);
    };
    for (const RegEdit& edit : raw.edits) {
        if (InSearchHistory(edit.value.root, edit.value.keyPath)) prior.Add(CatalogueRow(SettingId::SearchHistory));
        else prior.AddValue(edit.value.root, edit.value.keyPath, edit.value.name);
    }
    std::vector<PolicyFileBefore> restored;
    return WriteAllOrNothing(context, prior, [&]() -> std::string {
        std::string failure;
        if (!copies.empty() && !RestoreFiles(context, copies, &restored, &failure)) {
            PutBackFiles(context, restored);
            return failure;
        }
        failure = WriteLifted(context, profile, labels, raw, lift);
        if (!failure.empty()) {
            PutBackFiles(context, lift.FilesBefore());
            PutBackFiles(context, restored);
            return failure;
        }
        std::function<void()> lifted = PutBackFilesLater(context, lift.FilesBefore());
        std::function<void()> undone = PutBackFilesLater(context, restored);
        context.putBackFiles = [lifted, undone]() {
            if (lifted) lifted();
            if (undone) undone();
        };
        return failure;
    });
}

std::string WriteLifted(Context& context, const Profile& profile, const std::vector<std::string>& labels,
                        const RawEdits& raw, PolicyLift& lift) {
    {
        const std::string failure = WriteLift(context, lift);
        if (!failure.empty()) return failure;
        for (std::size_t i = 0; i < raw.edits.size(); ++i) {
            const RegEdit& edit = raw.edits[i];
            const RegResult rc = WriteRaw(context.store, edit);
            if (rc != kErrorSuccess)
                return context.options.file + ": " + raw.labels[i] + ": " +
                       PlaceName(edit.value.root, edit.value.keyPath, edit.value.name) + ": " + Tr("error %1", rc);
        }
        for (std::size_t i = 0; i < profile.entries.size(); ++i) {
            const ProfileEntry& entry = profile.entries[i];
            try {
                WriteSetting(*entry.row, entry.value);
            } catch (const std::exception& failure) {
                return labels[i] + ": " + entry.row->name + ": " + failure.what();
            }
            // A store that writes at its close reports only what it kept.
            const std::string line = std::string(entry.row->name) + " = " + DisplaySettingValue(entry.value) + "\n";
            if (context.stores.WritesAtClose()) context.unconfirmed.emplace_back(entry.row, line);
            else context.console.Out(line);
            NoteIfIgnored(context, *entry.row);
        }
        return std::string();
    }
}

}  // namespace

void DeclareApply(CLI::App& command, Options& options) {
    command.add_option("FILE", options.file, Tr("a profile, or a .reg or Registry.pol file that export wrote"))->required();
    command.add_flag("--dry-run", options.dryRun, Tr("say what would change, write nothing"));
    command.add_flag("--ignore-unknown", options.ignoreUnknown,
                     Tr(".reg/.pol: pass over values that are not Kestro settings instead of refusing the file"));
    AddScopeOption(command, options, N_("a .pol file outside a User or Machine folder: user or machine"));
}

int RunApply(Context& context) {
    Profile profile;
    std::vector<std::string> labels;
    RawEdits raw;
    int code = kExitOk;
    if (!ReadApplyFile(context, &profile, &labels, &raw, &code)) return code;
    // All of it is checked before anything is written.
    std::string error;
    for (std::size_t i = 0; i < profile.entries.size(); ++i)
        if (!Prepare(context, *profile.entries[i].row, &profile.entries[i].value, &error))
            return context.Fail(kExitUsage, labels[i] + ": " + error);
    return context.options.dryRun ? ReportDryRun(context, profile, raw) : WriteEntries(context, profile, labels, raw);
}

}  // namespace kestro
