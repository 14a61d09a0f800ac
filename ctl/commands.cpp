#include "ctl/commands.h"

#include "ctl/current_state.h"
#include "ctl/export_gpo.h"
#include "ctl/notify.h"
#include "platform/files.h"
#include "ctl/writes.h"
#include "form/form_layout.h"
#include "platform/text.h"
#include "formats/entry_match.h"
#include "formats/file_bytes.h"
#include "formats/layout.h"
#include "formats/policy_file.h"
#include "formats/reg_file.h"
#include "settings/uFunctions.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <sstream>

namespace kestro {

namespace {

// Everything any command takes; each command declares the part it uses.
struct Options {
    std::string name;
    std::string value;
    std::string file;
    bool json = false;
    bool dryRun = false;
    std::string profile;    // export: the profile to export instead of this machine's state
    std::string format;     // export: "reg", "pol" or "gpo"
    std::string gpoName;    // export gpo: the GPO's display name
    std::string scope;      // apply: "user" or "machine" for a policy file outside User/Machine
    bool ignoreUnknown = false;
    bool noNotify = false;  // set, apply, clear-search-history: no WM_SETTINGCHANGE afterwards
};

struct Context {
    RegistryStore& store;
    Console& console;
    const Options& options;

    int Fail(int code, const std::string& message) {
        console.Err("kestroctl: " + message + "\n");
        return code;
    }
};

struct Command {
    const char* name;
    const char* summary;
    void (*declare)(CLI::App&, Options&);
    int (*run)(Context&);
    bool writes;  // may change the registry
};

// ---------------------------------------------------------------- shared

const char* ScopeName(const Setting& row) { return row.IsMachineWide() ? "machine" : "user"; }

const char* EffectName(Effect effect) {
    switch (effect) {
        case Effect::AtOnce: return "now";
        case Effect::ProgramStart: return "program";
        case Effect::NextLogon: return "logon";
        case Effect::Restart: return "restart";
#ifdef _WIN32
        case Effect::AtOnceWhenRunning: return "now";  // through user32, on the running Windows
#else
        case Effect::AtOnceWhenRunning: return "logon";  // written into the files of a Windows at rest
#endif
    }
    return "";
}

// The caption of the setting's control in the window, without the colon
// of a label.
std::string Caption(const Setting& row) {
    const ControlDef* def = FindControlDef(row.CaptionControl());
    if (!def || !def->caption) return std::string();
    std::wstring caption = def->caption;
    while (!caption.empty() && (caption.back() == L':' || caption.back() == L' ')) caption.pop_back();
    return WideToUtf8(caption);
}

const Setting* LookUp(Context& context, const std::string& name, int* code) {
    const Setting* row = FindSettingByName(name);
    if (!row) {
        *code = context.Fail(kExitUsage, "unknown setting '" + name + "' (kestroctl list shows the names)");
        return nullptr;
    }
    if (!row->HasState()) {
        *code = context.Fail(kExitUsage, std::string(row->name) + " is an action: kestroctl clear-search-history");
        return nullptr;
    }
    return row;
}

// What must hold on this machine before a value is written: the wallpaper,
// as in the window, is an existing file, and is stored with its full path.
// The empty text is no wallpaper (XP's "(None)"), stored as it is.
bool Prepare(const Setting& row, SettingValue* value, std::string* error) {
    if (&row != &CatalogueRow(SettingId::Wallpaper) || value->text.empty()) return true;
    const std::string path = WideToUtf8(value->text);
    if (!IsExistingFile(path)) {
        *error = "Wallpaper: no such file: " + path;
        return false;
    }
    value->text = Utf8ToWide(FullPath(path));
    return true;
}

// Whether Group Policy leaves the setting behind when its GPO is removed:
// every value outside the policy keys stays.
bool Tattoos(const Setting& row) {
    return TattoosWhenRemoved(RegValue{row.root, row.keyPath, row.valueNames[0], kRegNone, {}});
}

std::string StateText(const SettingState& state) {
    switch (state.status) {
        case SettingState::Status::Ok: return FormatSettingValue(state.value);
        case SettingState::Status::NotSet: return "(not set)";
        case SettingState::Status::WrongType: return "(wrong type: " + state.detail + ")";
        case SettingState::Status::Unreadable: return "(unreadable: " + state.detail + ")";
    }
    return std::string();
}

// ---------------------------------------------------------------- list

void DeclareList(CLI::App& command, Options& options) {
    command.add_flag("--json", options.json, "one JSON array, UTF-8");
}

nlohmann::json JsonItem(const Setting& row, const SettingState& state) {
    nlohmann::json item = {{"name", row.name},     {"caption", Caption(row)},
                           {"scope", ScopeName(row)}, {"effect", EffectName(row.effect)},
                           {"admin", row.IsMachineWide()}, {"tattoo", Tattoos(row)}};
    switch (state.status) {
        case SettingState::Status::Ok:
            item["status"] = "ok";
            if (state.value.kind == ValueKind::Toggle) item["value"] = state.value.on ? "on" : "off";
            else if (state.value.kind == ValueKind::Number) item["value"] = state.value.number;
            else item["value"] = WideToUtf8(state.value.text);
            break;
        case SettingState::Status::NotSet:
            item["status"] = "not-set";
            item["value"] = nullptr;
            break;
        case SettingState::Status::WrongType:
        case SettingState::Status::Unreadable:
            item["status"] = state.status == SettingState::Status::WrongType ? "wrong-type" : "unreadable";
            item["value"] = nullptr;
            item["error"] = state.detail;
            break;
    }
    return item;
}

int ListJson(Context& context) {
    nlohmann::json list = nlohmann::json::array();
    for (const Setting& row : kCatalogue)
        if (row.HasState()) list.push_back(JsonItem(row, ReadSettingState(context.store, row)));
    context.console.Json(list.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
    return kExitOk;
}

int ListTable(Context& context) {
    // TATTOO: stays behind when a GPO that set it is removed.
    struct Line {
        std::string name, state, scope, effect, admin, tattoo, caption;
    };
    std::vector<Line> lines = {{"NAME", "STATE", "SCOPE", "EFFECT", "ADMIN", "TATTOO", "CAPTION"}};
    for (const Setting& row : kCatalogue) {
        if (!row.HasState()) continue;
        lines.push_back({row.name, StateText(ReadSettingState(context.store, row)), ScopeName(row),
                         EffectName(row.effect), row.IsMachineWide() ? "yes" : "no", Tattoos(row) ? "yes" : "no",
                         Caption(row)});
    }
    // Columns as wide as their longest entry; a long text value only
    // pushes its own line's caption along.
    std::size_t name = 0, state = 0;
    for (const Line& line : lines) {
        name = std::max(name, line.name.size());
        if (line.state.size() <= 12) state = std::max(state, line.state.size());
    }
    const auto pad = [](const std::string& s, std::size_t width) {
        return s.size() >= width ? s + " " : s + std::string(width - s.size() + 1, ' ');
    };
    for (const Line& line : lines)
        context.console.Out(pad(line.name, name) + pad(line.state, state) + pad(line.scope, 7) +
                            pad(line.effect, 7) + pad(line.admin, 5) + pad(line.tattoo, 6) + line.caption + "\n");
    return kExitOk;
}

int RunList(Context& context) { return context.options.json ? ListJson(context) : ListTable(context); }

// ---------------------------------------------------------------- get, set

void DeclareGet(CLI::App& command, Options& options) {
    command.add_option("NAME", options.name, "a setting's name, as list shows it")->required();
}

int RunGet(Context& context) {
    int code = kExitOk;
    const Setting* row = LookUp(context, context.options.name, &code);
    if (!row) return code;
    const SettingState state = ReadSettingState(context.store, *row);
    switch (state.status) {
        case SettingState::Status::Ok:
            context.console.Out(DisplaySettingValue(state.value) + "\n");
            return kExitOk;
        case SettingState::Status::NotSet:
            context.console.Out("\n");
            return kExitOk;
        case SettingState::Status::WrongType:
        case SettingState::Status::Unreadable:
            break;
    }
    return context.Fail(kExitFailed, std::string(row->name) + ": " + state.message + " (" + state.detail + ")");
}

void DeclareSet(CLI::App& command, Options& options) {
    command.add_option("NAME", options.name, "a setting's name, as list shows it")->required();
    command.add_option("VALUE", options.value, "on or off for a toggle, a number, or a text")->required();
}

int RunSet(Context& context) {
    int code = kExitOk;
    const Setting* row = LookUp(context, context.options.name, &code);
    if (!row) return code;
    SettingValue value;
    std::string error;
    if (!ParseSettingValue(*row, context.options.value, &value, &error) || !Prepare(*row, &value, &error))
        return context.Fail(kExitUsage, error);
    try {
        WriteSetting(*row, value);
    } catch (const std::exception& failure) {
        return context.Fail(kExitFailed, std::string(row->name) + ": " + failure.what());
    }
    return kExitOk;
}

// ---------------------------------------------------------------- actions

int RunClearSearchHistory(Context&) {
    Zfunctions::ClearSearchHistory();
    return kExitOk;
}

// ---------------------------------------------------------------- profiles

void DeclareSave(CLI::App& command, Options& options) {
    command.add_option("FILE", options.file, "the profile to write")->required();
}

int RunSave(Context& context) {
    Profile profile;
    std::vector<std::string> notes;
    const bool complete = CurrentProfile(context.store, &profile, &notes);
    std::string error;
    if (!WriteFileAtomically(context.options.file, WriteProfile(profile, notes), &error))
        return context.Fail(kExitFailed, "cannot write " + context.options.file + ": " + error);
    if (complete) return kExitOk;
    for (const std::string& note : notes) context.console.Err("kestroctl: " + note + "\n");
    return kExitFailed;
}

void DeclareApply(CLI::App& command, Options& options) {
    command.add_option("FILE", options.file, "a profile, or a .reg or Registry.pol file that export wrote")->required();
    command.add_flag("--dry-run", options.dryRun, "say what would change, write nothing");
    command.add_flag("--ignore-unknown", options.ignoreUnknown,
                     ".reg/.pol: pass over values that are not Kestro settings instead of refusing the file");
    command.add_option("--scope", options.scope, "a .pol file outside a User or Machine folder: user or machine")
        ->check(CLI::IsMember({"user", "machine"}, CLI::ignore_case));
}

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
                              SettingValue value = kind == ValueKind::Toggle   ? SettingValue::Toggle(state == "on")
                                                   : kind == ValueKind::Number ? SettingValue::Number(std::stoi(state))
                                                                               : SettingValue::Text(Utf8ToWide(state));
                              one.entries.push_back({r, value, 0});
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
        const ValueKind kind = KindOf(*row);
        profile->entries.push_back({row,
                                    kind == ValueKind::Toggle   ? SettingValue::Toggle(found.state == "on")
                                    : kind == ValueKind::Number ? SettingValue::Number(std::stoi(found.state))
                                                                : SettingValue::Text(Utf8ToWide(found.state)),
                                    0});
        labels->push_back(file);
    }
    return true;
}

// A profile file; false, having said why, when it cannot be read or is
// malformed.
bool ReadProfileFile(Context& context, const std::string& file, Profile* profile, int* code) {
    std::string bytes, error;
    if (!ReadWholeFile(file, kMaxProfileBytes, &bytes, &error)) {
        *code = context.Fail(kExitUsage, "cannot read " + file + ": " + error);
        return false;
    }
    ProfileError fault;
    if (!ReadProfile(bytes, profile, &fault)) {
        *code = context.Fail(kExitUsage,
                             file + (fault.line ? ":" + std::to_string(fault.line) : std::string()) + ": " + fault.message);
        return false;
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
            context.console.Out(std::string(entry.row->name) + " = " + DisplaySettingValue(entry.value) + "\n");
        } catch (const std::exception& failure) {
            ++failures;
            context.Fail(kExitFailed, labels[i] + ": " + entry.row->name + ": " + failure.what());
        }
    }
    if (failures == 0) return kExitOk;
    return context.Fail(kExitFailed, std::to_string(failures) + " of " + std::to_string(profile.entries.size()) +
                                         " settings were not written");
}

int RunApply(Context& context) {
    Profile profile;
    std::vector<std::string> labels;
    int code = kExitOk;
    if (!ReadApplyFile(context, &profile, &labels, &code)) return code;
    // All of it is checked before anything is written.
    std::string error;
    for (std::size_t i = 0; i < profile.entries.size(); ++i)
        if (!Prepare(*profile.entries[i].row, &profile.entries[i].value, &error))
            return context.Fail(kExitUsage, labels[i] + ": " + error);
    return context.options.dryRun ? ReportDryRun(context, profile) : WriteEntries(context, profile, labels);
}

// ---------------------------------------------------------------- export

std::string TattooNames() {
    std::string names;
    for (const Setting& row : kCatalogue)
        if (row.HasState() && Tattoos(row)) names += std::string(names.empty() ? "" : ", ") + row.name;
    return names;
}

void DeclareExport(CLI::App& command, Options& options) {
    command.require_subcommand(1);
    CLI::App* reg = command.add_subcommand("reg", "a .reg file for regedit and reg import (UTF-16LE)");
    reg->add_option("FILE", options.file, "the .reg file to write")->required();
    reg->add_option("--profile", options.profile, "export this profile instead of this machine's settings");
    reg->callback([&options] { options.format = "reg"; });
    CLI::App* pol = command.add_subcommand("pol", "Group Policy: DIR/User/Registry.pol and DIR/Machine/Registry.pol");
    pol->add_option("DIR", options.file, "the folder to write into, as a GPO's folder in SYSVOL")->required();
    pol->add_option("--profile", options.profile, "export this profile instead of this machine's settings");
    pol->callback([&options] { options.format = "pol"; });
    CLI::App* gpo = command.add_subcommand(
        "gpo", "a whole GPO: DIR/windows for Import-GPO and LGPO.exe, DIR/samba for a Samba domain controller");
    gpo->add_option("DIR", options.file, "a new folder for the export")->required();
    gpo->add_option("--name", options.gpoName, "the GPO's display name")->required();
    gpo->add_option("--profile", options.profile, "export this profile instead of this machine's settings");
    gpo->callback([&options] { options.format = "gpo"; });
    command.footer(
        "The values are exactly those the window's writers store. The search history is an action, not a\n"
        "setting, and is not exported. HKEY_CLASSES_ROOT values go to the machine's Registry.pol under\n"
        "Software\\Classes. These settings stay behind (\"tattoo\") when their GPO is removed, as they lie\n"
        "outside the Policies keys: " + TattooNames() + ".");
}

int RunExport(Context& context) {
    const Options& options = context.options;
    Profile profile;
    if (!options.profile.empty()) {
        int code = kExitOk;
        if (!ReadProfileFile(context, options.profile, &profile, &code)) return code;
    } else {
        std::vector<std::string> notes;
        const bool complete = CurrentProfile(context.store, &profile, &notes);
        for (const std::string& note : notes) context.console.Err("kestroctl: " + note + "\n");
        // A part of the state is not this machine's state: write nothing.
        if (!complete) return context.Fail(kExitFailed, "not every setting could be read; nothing was exported");
    }
    const std::vector<RegValue> values = RegistryValuesFor(profile);
    if (options.format == "gpo") return ExportGpo(values, options.file, options.gpoName, NewGpoStamp(), context.console);
    try {
        if (options.format == "reg") {
            WriteFileBytes(options.file, WriteRegFile(values));
            context.console.Out(std::to_string(values.size()) + " values written to " + options.file + "\n");
        } else {
            const PolicyFiles files = WritePolicyFiles(values);
#ifdef _WIN32
            const std::string slash = "\\";
#else
            const std::string slash = "/";
#endif
            const std::string user = options.file + slash + layout::kPolUserFolder;
            const std::string machine = options.file + slash + layout::kPolMachineFolder;
            MakeDirectory(options.file);
            MakeDirectory(user);
            MakeDirectory(machine);
            WriteFileBytes(user + slash + layout::kPolFileName, files.user);
            WriteFileBytes(machine + slash + layout::kPolFileName, files.machine);
            context.console.Out(std::to_string(values.size()) + " values written to " + user + slash +
                                layout::kPolFileName + " and " + machine + slash + layout::kPolFileName + "\n");
        }
    } catch (const FormatError& e) {
        return context.Fail(kExitUsage, std::string("cannot export: ") + e.what());
    } catch (const FileError& e) {
        return context.Fail(kExitFailed, e.what());
    }
    return kExitOk;
}

// ---------------------------------------------------------------- the table

const Command kCommands[] = {
    {"list", "every setting: name, state, scope, when it takes effect, admin, caption", DeclareList, RunList, false},
    {"get", "one setting's state: on or off, a number, or a text", DeclareGet, RunGet, false},
    {"set", "sets one setting through the window's own writer", DeclareSet, RunSet, true},
    {"clear-search-history", "deletes the search assistant's history", nullptr, RunClearSearchHistory, true},
    {"save", "writes every setting's state to a profile", DeclareSave, RunSave, false},
    {"apply", "sets every setting of a profile, .reg or .pol file; checks all of it first", DeclareApply, RunApply,
     true},
    {"export", "writes the settings as a .reg file, Group Policy Registry.pol files or a whole GPO", DeclareExport,
     RunExport, false},
};

const char kFooter[] =
    "Names ignore case; for a toggle, on means the window's button down. A profile is UTF-8 text:\n"
    "  [Kestro]\n"
    "  NoRun = on\n"
    "  MaxRecentDocs = 15\n"
    "  RecycleBinName = \"Trash\"\n"
    "with ; or # comments. Exit codes: 0 done, 1 a write failed, 2 a wrong command line, profile or\n"
    ".reg/.pol file (nothing written). kestroctl COMMAND --help (or /?) tells more; list's TATTOO column\n"
    "marks the settings a removed GPO leaves behind. On a running Windows, once set, apply or\n"
    "clear-search-history has changed a value, the running programs are told as after Group Policy\n"
    "(WM_SETTINGCHANGE \"Policy\"); --no-notify after the command does not tell them.";

// A misspelt command is named as such, not taken for a missing one.
bool IsUnknownCommand(const std::vector<std::string>& arguments, const std::vector<OwnCommand>& own) {
    if (arguments.empty() || arguments[0].empty() || arguments[0][0] == '-' || arguments[0] == "/?") return false;
    const std::string& word = arguments[0];
    return std::none_of(std::begin(kCommands), std::end(kCommands),
                        [&](const Command& command) { return word == command.name; }) &&
           std::none_of(own.begin(), own.end(), [&](const OwnCommand& command) { return word == command.name; });
}

// Parses the arguments, "/?" taken for --help. False when that ends the
// run (help shown, or a wrong command line), with *code its exit code.
bool ParseArguments(CLI::App& app, const std::vector<std::string>& arguments, Console& console, int* code) {
    std::vector<std::string> words = {"kestroctl"};
    for (const std::string& argument : arguments) words.push_back(argument == "/?" ? "--help" : argument);
    std::vector<const char*> argv;
    for (const std::string& word : words) argv.push_back(word.c_str());
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
        return true;
    } catch (const CLI::ParseError& error) {
        std::ostringstream out, err;
        const int exit = app.exit(error, out, err);
        if (!out.str().empty()) console.Out(out.str());
        if (exit == 0) {
            *code = kExitOk;
            return false;
        }
        console.Err("kestroctl: " + std::string(error.what()) + "\nkestroctl --help lists the commands.\n");
        *code = kExitUsage;
        return false;
    }
}

// Which parts of the registry the command needs, and whether it writes.
StoreUse UseOf(const Command& command, const Options& options) {
    StoreUse use;
    use.writes = command.writes && !options.dryRun;
    if (!options.name.empty()) {
        // One named setting: HKEY_CURRENT_USER only for a user's setting (a
        // name that is none is reported by the command itself).
        const Setting* row = FindSettingByName(options.name);
        use.userKeys = row && !row->IsMachineWide();
    }
    return use;
}

// Runs the command on the store it needs, which keeps its changes only
// when the command succeeded.
int RunOnStore(const Command& command, const Options& options, StoreProvider& stores, Console& console) {
    std::string why;
    int openFailure = kExitUsage;
    const StoreUse use = UseOf(command, options);
    RegistryStore* store = stores.Open(use, &why, &openFailure);
    if (!store) {
        console.Err("kestroctl: " + why + "\n");
        return openFailure;
    }
    // The engine's writers work on the active store; what they change is
    // noted for the notification.
    WriteRecordingStore recorder(*store);
    int code;
    {
        ScopedRegistryStore active(recorder);
        Context context{recorder, console, options};
        try {
            code = command.run(context);
        } catch (const std::exception& failure) {
            code = context.Fail(kExitFailed, failure.what());
        }
    }
    if (!stores.Close(code == kExitOk, &why)) {
        console.Err("kestroctl: " + why + "\n");
        if (code == kExitOk) code = kExitFailed;
    } else if (use.writes && !options.noNotify) {
        // Also after a failure: what was written before it has changed.
        NotifyWritten(recorder.Written(), stores.Broadcaster());
    }
    return code;
}

}  // namespace

int RunKestroctl(const std::vector<std::string>& arguments, StoreProvider& stores, Console& console) {
    Options options;
    CLI::App app{"Kestro's Windows settings from the command line.", "kestroctl"};
    app.require_subcommand(1);
    app.footer(kFooter);
    stores.AddOptions(app);
    const Command* chosen = nullptr;
    for (const Command& command : kCommands) {
        CLI::App* sub = app.add_subcommand(command.name, command.summary);
        if (command.declare) command.declare(*sub, options);
        if (command.writes)
            sub->add_flag("--no-notify", options.noNotify,
                          "do not broadcast WM_SETTINGCHANGE \"Policy\" after writing (never sent offline)");
        sub->callback([&chosen, &command] { chosen = &command; });
    }
    const std::vector<OwnCommand> own = stores.OwnCommands();
    const OwnCommand* chosenOwn = nullptr;
    for (const OwnCommand& command : own)
        app.add_subcommand(command.name, command.summary)->callback([&chosenOwn, &command] { chosenOwn = &command; });

    if (IsUnknownCommand(arguments, own)) {
        console.Err("kestroctl: unknown command '" + arguments[0] + "'\nkestroctl --help lists the commands.\n");
        return kExitUsage;
    }
    int code = kExitOk;
    if (!ParseArguments(app, arguments, console, &code)) return code;
    if (chosenOwn) return chosenOwn->run(console);
    if (!chosen) return kExitUsage;
    return RunOnStore(*chosen, options, stores, console);
}

}  // namespace kestro
