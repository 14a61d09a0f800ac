// kestroctl apply: a profile, or a .reg or Registry.pol file that export
// wrote, checked whole before anything is written.
#include "ctl/command_context.h"

#include "ctl/writes.h"
#include "formats/entry_match.h"
#include "formats/file_bytes.h"
#include "formats/layout.h"
#include "formats/policy_file.h"
#include "formats/reg_file.h"
#include "platform/text.h"

#include <CLI/CLI.hpp>

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

// A .reg or Registry.pol file as a profile: only Kestro's settings, each in
// a state its writer gives. False, having said why, when the file is
// malformed or holds something else.
bool ReadExportedFile(Context& context, bool policy, Profile* profile, std::vector<std::string>* labels, int* code) {
    const std::string& file = context.options.file;
    PolicyScope scope = PolicyScope::User;
    if (policy && !PolicyScopeOf(file, context.options.scope, &scope)) {
        *code = context.Fail(kExitUsage, file + ": not in a User or Machine folder; say whose it is with --scope user|machine");
        return false;
    }
    std::vector<RegValue> entries;
    std::vector<std::size_t> places;
    try {
        const std::vector<std::uint8_t> bytes = ReadFileBytes(file, layout::kMaxFileBytes);
        entries = policy ? ReadPolicyFile(bytes, scope, &places) : ReadRegFile(bytes, &places);
    } catch (const FileError& e) {
        *code = context.Fail(kExitUsage, std::string("cannot read ") + e.what());
        return false;
    } catch (const FormatError& e) {
        *code = context.Fail(kExitUsage, file + ": " + e.what() + "; nothing was written");
        return false;
    }
    const EntryMatch match =
        MatchEntries(entries, places, policy ? "offset" : "line", SettingShapes(), context.options.ignoreUnknown);
    for (const std::string& ignored : match.ignored) context.console.Err("kestroctl: " + file + ": " + ignored + ", passed over\n");
    if (!match.errors.empty()) {
        for (const std::string& error : match.errors) context.console.Err("kestroctl: " + file + ": " + error + "\n");
        *code = context.Fail(kExitUsage, file + ": " + std::to_string(match.errors.size()) +
                                             " entries are not Kestro settings as its writers store them" +
                                             (context.options.ignoreUnknown ? "" : " (--ignore-unknown passes over other values)") +
                                             "; nothing was written");
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
bool ReadApplyFile(Context& context, Profile* profile, std::vector<std::string>* labels, int* code) {
    const std::string& file = context.options.file;
    const bool policy = EndsWithIgnoringCase(file, ".pol");
    if (policy || EndsWithIgnoringCase(file, ".reg")) return ReadExportedFile(context, policy, profile, labels, code);
    if (!ReadProfileFile(context, file, profile, code)) return false;
    for (const ProfileEntry& entry : profile->entries) labels->push_back(file + ":" + std::to_string(entry.line));
    return true;
}

int ReportDryRun(Context& context, const Profile& profile) {
    int changes = 0;
    for (const ProfileEntry& entry : profile.entries) {
        const SettingState state = ReadSettingState(context.store, *entry.row);
        if (state.status == SettingState::Status::Ok && state.value == entry.value) continue;
        ++changes;
        context.console.Out(std::string(entry.row->name) + ": " + StateText(state) + " -> " +
                            DisplaySettingValue(entry.value) + "\n");
    }
    context.console.Out(std::to_string(changes) + " of " + std::to_string(profile.entries.size()) +
                        " settings would change; nothing was written\n");
    return kExitOk;
}

// Every entry through its writer; one that fails does not stop the others.
int WriteEntries(Context& context, const Profile& profile, const std::vector<std::string>& labels) {
    int failures = 0;
    for (std::size_t i = 0; i < profile.entries.size(); ++i) {
        const ProfileEntry& entry = profile.entries[i];
        try {
            WriteSetting(*entry.row, entry.value);
            const std::string line = std::string(entry.row->name) + " = " + DisplaySettingValue(entry.value) + "\n";
            if (context.stores.WritesAtClose()) context.unconfirmed.emplace_back(entry.row, line);
            else context.console.Out(line);
        } catch (const std::exception& failure) {
            ++failures;
            context.Fail(kExitFailed, labels[i] + ": " + entry.row->name + ": " + failure.what());
        }
    }
    if (failures == 0) return kExitOk;
    return context.Fail(kExitFailed, std::to_string(failures) + " of " + std::to_string(profile.entries.size()) +
                                         " settings were not written");
}

}  // namespace

void DeclareApply(CLI::App& command, Options& options) {
    command.add_option("FILE", options.file, "a profile, or a .reg or Registry.pol file that export wrote")->required();
    command.add_flag("--dry-run", options.dryRun, "say what would change, write nothing");
    command.add_flag("--ignore-unknown", options.ignoreUnknown,
                     ".reg/.pol: pass over values that are not Kestro settings instead of refusing the file");
    command.add_option("--scope", options.scope, "a .pol file outside a User or Machine folder: user or machine")
        ->check(CLI::IsMember({"user", "machine"}, CLI::ignore_case));
}

int RunApply(Context& context) {
    Profile profile;
    std::vector<std::string> labels;
    int code = kExitOk;
    if (!ReadApplyFile(context, &profile, &labels, &code)) return code;
    // All of it is checked before anything is written.
    std::string error;
    for (std::size_t i = 0; i < profile.entries.size(); ++i)
        if (!Prepare(context, *profile.entries[i].row, &profile.entries[i].value, &error))
            return context.Fail(kExitUsage, labels[i] + ": " + error);
    return context.options.dryRun ? ReportDryRun(context, profile) : WriteEntries(context, profile, labels);
}

}  // namespace kestro
