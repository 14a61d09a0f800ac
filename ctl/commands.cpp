#include "ctl/commands.h"

#include "ctl/current_state.h"
#include "ctl/files.h"
#include "ctl/utf8.h"
#include "ctl/writes.h"
#include "settings/uFunctions.h"
#include "ui/form_layout.h"

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
    return Utf8FromWide(caption);
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
bool Prepare(const Setting& row, SettingValue* value, std::string* error) {
    if (&row != &CatalogueRow(SettingId::Wallpaper)) return true;
    const std::string path = Utf8FromWide(value->text);
    if (!IsExistingFile(path)) {
        *error = "Wallpaper: no such file: " + path;
        return false;
    }
    value->text = WideFromUtf8(FullPath(path));
    return true;
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

int RunList(Context& context) {
    if (context.options.json) {
        nlohmann::json list = nlohmann::json::array();
        for (const Setting& row : kCatalogue) {
            if (!row.HasState()) continue;
            const SettingState state = ReadSettingState(context.store, row);
            nlohmann::json item = {{"name", row.name},     {"caption", Caption(row)},
                                   {"scope", ScopeName(row)}, {"effect", EffectName(row.effect)},
                                   {"admin", row.IsMachineWide()}};
            switch (state.status) {
                case SettingState::Status::Ok:
                    item["status"] = "ok";
                    if (state.value.kind == ValueKind::Toggle) item["value"] = state.value.on ? "on" : "off";
                    else if (state.value.kind == ValueKind::Number) item["value"] = state.value.number;
                    else item["value"] = Utf8FromWide(state.value.text);
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
            list.push_back(std::move(item));
        }
        context.console.Json(list.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
        return kExitOk;
    }

    struct Line {
        std::string name, state, scope, effect, admin, caption;
    };
    std::vector<Line> lines = {{"NAME", "STATE", "SCOPE", "EFFECT", "ADMIN", "CAPTION"}};
    for (const Setting& row : kCatalogue) {
        if (!row.HasState()) continue;
        lines.push_back({row.name, StateText(ReadSettingState(context.store, row)), ScopeName(row),
                         EffectName(row.effect), row.IsMachineWide() ? "yes" : "no", Caption(row)});
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
                            pad(line.effect, 7) + pad(line.admin, 5) + line.caption + "\n");
    return kExitOk;
}

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
    command.add_option("FILE", options.file, "the profile to read")->required();
    command.add_flag("--dry-run", options.dryRun, "say what would change, write nothing");
}

int RunApply(Context& context) {
    const std::string& file = context.options.file;
    std::string bytes, error;
    if (!ReadWholeFile(file, &bytes, &error)) return context.Fail(kExitUsage, "cannot read " + file + ": " + error);
    Profile profile;
    ProfileError fault;
    if (!ReadProfile(bytes, &profile, &fault))
        return context.Fail(kExitUsage, file + (fault.line ? ":" + std::to_string(fault.line) : std::string()) + ": " +
                                            fault.message);
    // All of it is checked before anything is written.
    for (ProfileEntry& entry : profile.entries)
        if (!Prepare(*entry.row, &entry.value, &error))
            return context.Fail(kExitUsage, file + ":" + std::to_string(entry.line) + ": " + error);

    if (context.options.dryRun) {
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

    int failures = 0;
    for (const ProfileEntry& entry : profile.entries) {
        try {
            WriteSetting(*entry.row, entry.value);
            context.console.Out(std::string(entry.row->name) + " = " + DisplaySettingValue(entry.value) + "\n");
        } catch (const std::exception& failure) {
            ++failures;
            context.Fail(kExitFailed, file + ":" + std::to_string(entry.line) + ": " + entry.row->name + ": " +
                                          failure.what());
        }
    }
    if (failures == 0) return kExitOk;
    return context.Fail(kExitFailed, std::to_string(failures) + " of " + std::to_string(profile.entries.size()) +
                                         " settings were not written");
}

// ---------------------------------------------------------------- the table

const Command kCommands[] = {
    {"list", "every setting: name, state, scope, when it takes effect, admin, caption", DeclareList, RunList, false},
    {"get", "one setting's state: on or off, a number, or a text", DeclareGet, RunGet, false},
    {"set", "sets one setting through the window's own writer", DeclareSet, RunSet, true},
    {"clear-search-history", "deletes the search assistant's history", nullptr, RunClearSearchHistory, true},
    {"save", "writes every setting's state to a profile", DeclareSave, RunSave, false},
    {"apply", "sets every setting of a profile; checks all of it first", DeclareApply, RunApply, true},
};

const char kFooter[] =
    "Names ignore case; for a toggle, on means the window's button down. A profile is UTF-8 text:\n"
    "  [Kestro]\n"
    "  NoRun = on\n"
    "  MaxRecentDocs = 15\n"
    "  RecycleBinName = \"Trash\"\n"
    "with ; or # comments. Exit codes: 0 done, 1 a write failed, 2 a wrong command line or profile\n"
    "(nothing written). kestroctl COMMAND --help (or /?) tells more.";

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
        sub->callback([&chosen, &command] { chosen = &command; });
    }
    const std::vector<OwnCommand> own = stores.OwnCommands();
    const OwnCommand* chosenOwn = nullptr;
    for (const OwnCommand& command : own)
        app.add_subcommand(command.name, command.summary)->callback([&chosenOwn, &command] { chosenOwn = &command; });

    // A misspelt command is named as such, not taken for a missing one.
    if (!arguments.empty() && !arguments[0].empty() && arguments[0][0] != '-' && arguments[0] != "/?" &&
        std::none_of(std::begin(kCommands), std::end(kCommands),
                     [&](const Command& command) { return arguments[0] == command.name; }) &&
        std::none_of(own.begin(), own.end(), [&](const OwnCommand& command) { return arguments[0] == command.name; })) {
        console.Err("kestroctl: unknown command '" + arguments[0] + "'\nkestroctl --help lists the commands.\n");
        return kExitUsage;
    }

    std::vector<std::string> words = {"kestroctl"};
    for (const std::string& argument : arguments) words.push_back(argument == "/?" ? "--help" : argument);
    std::vector<const char*> argv;
    for (const std::string& word : words) argv.push_back(word.c_str());
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::ParseError& error) {
        std::ostringstream out, err;
        const int code = app.exit(error, out, err);
        if (!out.str().empty()) console.Out(out.str());
        if (code == 0) return kExitOk;
        console.Err("kestroctl: " + std::string(error.what()) + "\nkestroctl --help lists the commands.\n");
        return kExitUsage;
    }
    if (chosenOwn) return chosenOwn->run(console);
    if (!chosen) return kExitUsage;

    StoreUse use;
    use.writes = chosen->writes && !options.dryRun;
    if (!options.name.empty()) {
        // One named setting: HKEY_CURRENT_USER only for a user's setting (a
        // name that is none is reported by the command itself).
        const Setting* row = FindSettingByName(options.name);
        use.userKeys = row && !row->IsMachineWide();
    }
    std::string why;
    int openFailure = kExitUsage;
    RegistryStore* store = stores.Open(use, &why, &openFailure);
    if (!store) {
        console.Err("kestroctl: " + why + "\n");
        return openFailure;
    }
    // The engine's writers work on the active store.
    int code;
    {
        ScopedRegistryStore active(*store);
        Context context{*store, console, options};
        try {
            code = chosen->run(context);
        } catch (const std::exception& failure) {
            code = context.Fail(kExitFailed, failure.what());
        }
    }
    if (!stores.Close(code == kExitOk, &why)) {
        console.Err("kestroctl: " + why + "\n");
        if (code == kExitOk) code = kExitFailed;
    }
    return code;
}

}  // namespace kestro
