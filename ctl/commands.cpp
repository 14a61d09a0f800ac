// The command line: the one table of verbs, the parsing, and the store a
// command runs on. The verbs themselves are in files of their own.
#include "ctl/commands.h"

#include "ctl/command_context.h"
#include "ctl/messages.h"
#include "ctl/notify.h"
#include "ctl/writes.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <sstream>

namespace kestro {

namespace {

struct Command {
    const char* name;
    const char* summary;
    void (*declare)(CLI::App&, Options&);
    int (*run)(Context&);
    bool writes;  // may change the registry
    // Whether these options leave the command no use for a registry (an
    // export of a profile); null when it always has one.
    bool (*storeless)(const Options&) = nullptr;
};

// A profile's export, and the template, which is the catalogue's alone.
bool ExportsAProfile(const Options& options) { return !options.profile.empty() || options.format == "admx"; }

// The store of a command that needs none: every call fails, so that a
// command that reached for the registry after all could not pass for one
// that read it.
class NoRegistry final : public RegistryStore {
public:
    RegResult CreateKey(KeyHandle, const std::string&, std::uint32_t, KeyHandle*) override { return kNone; }
    RegResult OpenKey(KeyHandle, const std::string&, std::uint32_t, KeyHandle*) override { return kNone; }
    RegResult QueryValue(KeyHandle, const std::string&, std::uint32_t*, std::uint8_t*, std::uint32_t*) override {
        return kNone;
    }
    RegResult SetValue(KeyHandle, const std::string&, std::uint32_t, const std::uint8_t*, std::uint32_t) override {
        return kNone;
    }
    RegResult SetValueW(KeyHandle, const std::string&, std::uint32_t, const std::uint8_t*, std::uint32_t) override {
        return kNone;
    }
    RegResult QueryValueW(KeyHandle, const std::string&, std::uint32_t*, std::uint8_t*, std::uint32_t*) override {
        return kNone;
    }
    RegResult QueryInfoKey(KeyHandle, std::uint32_t*, std::uint32_t*) override { return kNone; }
    RegResult EnumKey(KeyHandle, std::uint32_t, char*, std::uint32_t*) override { return kNone; }
    RegResult DeleteKey(KeyHandle, const std::string&) override { return kNone; }
    RegResult DeleteValue(KeyHandle, const std::string&) override { return kNone; }
    RegResult EnumValue(KeyHandle, std::uint32_t, char*, std::uint32_t*) override { return kNone; }
    RegResult CloseKey(KeyHandle) override { return kNone; }

private:
    static constexpr RegResult kNone = kErrorInvalidHandle;
};

const Command kCommands[] = {
    {"list", N_("every setting: name, state, scope, when it takes effect, admin, caption"), DeclareList, RunList, false},
    {"get", N_("one setting's state: on or off, a number, or a text"), DeclareGet, RunGet, false},
    {"set", N_("sets one setting through the window's own writer"), DeclareSet, RunSet, true},
    {"clear-search-history", N_("deletes the search assistant's history"), nullptr, RunClearSearchHistory, true},
    {"save", N_("writes every setting's state to a profile"), DeclareSave, RunSave, false},
    {"apply", N_("sets every setting of a profile, .reg or .pol file; checks all of it first"), DeclareApply, RunApply,
     true},
    {"export", N_("writes the settings as a .reg file, Group Policy Registry.pol files or a whole GPO"), DeclareExport,
     RunExport, false, ExportsAProfile},
};

// The footer of every help; its profile example in the reader's language
// (a profile's texts are any UTF-8).
const char* const kFooter = N_(
    "Names ignore case; for a toggle, on means the window's button down. A profile is UTF-8 text:\n"
    "  [Kestro]\n"
    "  NoRun = on\n"
    "  MaxRecentDocs = 15\n"
    "  RecycleBinName = \"Trash\"\n"
    "with ; or # comments; NAME = default removes the setting's values. Exit codes: 0 done, 1 a write\n"
    "failed (what was written is put back, or named), 2 a wrong command line, profile or .reg/.pol file\n"
    "(nothing written). --undo U.reg keeps the way back: kestroctl apply U.reg. kestroctl COMMAND --help\n"
    "(or /?) tells more; list's TATTOO column\n"
    "marks the settings a removed GPO leaves behind. On a running Windows, once set, apply or\n"
    "clear-search-history has changed a value, the running programs are told as after Group Policy\n"
    "(WM_SETTINGCHANGE \"Policy\"); --no-notify after the command does not tell them.");

// --lang ru|en, wherever it stands, chooses the language of everything
// shown from here on; `words` are the other arguments. False, having said
// why, when the language is none of those.
bool TakeLanguage(const std::vector<std::string>& arguments, std::vector<std::string>* words, Console& console) {
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        std::string value;
        if (argument == "--lang") {
            if (i + 1 == arguments.size()) {
                console.Err("kestroctl: " + std::string(Tr("--lang needs ru or en")) + "\n");
                return false;
            }
            value = arguments[++i];
        } else if (argument.compare(0, 7, "--lang=") == 0) {
            value = argument.substr(7);
        } else {
            words->push_back(argument);
            continue;
        }
        if (value == "ru") UseLanguage(Language::Russian);
        else if (value == "en") UseLanguage(Language::English);
        else {
            console.Err("kestroctl: " + Tr("--lang %1: give ru or en", value) + "\n");
            return false;
        }
    }
    return true;
}

// CLI11's help, its columns lined up by characters rather than bytes, so
// that Cyrillic names and words keep the descriptions in one column.
class HelpFormatter final : public CLI::Formatter {
public:
    std::string make_option(const CLI::Option* option, bool positional) const override {
        const std::string name = "  " + make_option_name(option, positional) + make_option_opts(option);
        const std::string description = make_option_desc(option);
        const std::size_t width = get_column_width();
        const std::string indent(width, ' ');
        std::string out = name;
        const std::size_t size = DisplayWidth(name);
        if (size < width) out += std::string(width - size, ' ');
        if (!description.empty()) {
            if (size >= width) out += "\n" + indent;
            for (const char c : description) {
                out += c;
                if (c == '\n') out += indent;
            }
        }
        return out + "\n";
    }
};

// CLI11's own words in its help, in the chosen language.
void SpeakTheLanguage(CLI::App& app) {
    if (!app.get_parent()) app.formatter(std::make_shared<HelpFormatter>());
    const auto formatter = app.get_formatter();
    for (const char* label : {N_("Usage"), N_("OPTIONS"), N_("SUBCOMMAND"), N_("SUBCOMMANDS"), N_("Positionals"),
                              N_("REQUIRED"), N_("TEXT"), N_("INT")})
        formatter->label(label, Tr(label));
    app.set_help_flag("-h,--help", Tr("Print this help message and exit"));
    app.option_defaults()->group(Tr("Options"));
    if (app.get_help_ptr()) app.get_help_ptr()->group(Tr("Options"));
    app.group(Tr("Subcommands"));
}

// CLI11's refusal of an option's value, "--scope: VALUE not in {user,machine}"
// or "--keep-backups: Value VALUE not in range 0 to 10000", in the chosen
// language; empty for any other message.
std::string RefusedValueText(const std::string& what) {
    const std::size_t colon = what.find(": ");
    if (what.compare(0, 2, "--") != 0 || colon == std::string::npos) return "";
    const std::string option = what.substr(0, colon), why = what.substr(colon + 2);
    const std::size_t member = why.rfind(" not in {");
    if (member != std::string::npos && why.back() == '}')
        return Tr("%1: %2 is not one of %3", option, why.substr(0, member), why.substr(member + 8));
    const std::string value = "Value ", range = " not in range ", to = " to ";
    const std::size_t inRange = why.find(range);
    if (why.compare(0, value.size(), value) != 0 || inRange == std::string::npos) return "";
    const std::string bounds = why.substr(inRange + range.size());
    const std::size_t split = bounds.find(to);
    if (split == std::string::npos) return "";
    return Tr("%1: %2 is not a whole number from %3 to %4", option, why.substr(value.size(), inRange - value.size()),
              bounds.substr(0, split), bounds.substr(split + to.size()));
}

// CLI11's message for a wrong command line, in the chosen language where
// it is one of those a user meets.
std::string ParseErrorText(const CLI::ParseError& error) {
    const std::string what = error.what();
    const auto after = [&](const std::string& head) { return what.substr(head.size()); };
    const auto startsWith = [&](const std::string& head) { return what.compare(0, head.size(), head) == 0; };
    if (what == "A subcommand is required") return Tr("a command is required");
    if (startsWith("The following argument was not expected: "))
        return Tr("an argument that has no place: %1", after("The following argument was not expected: "));
    if (startsWith("The following arguments were not expected: "))
        return Tr("arguments that have no place: %1", after("The following arguments were not expected: "));
    const std::string required = " is required";
    if (what.size() > required.size() && what.compare(what.size() - required.size(), required.size(), required) == 0)
        return Tr("%1 is required", what.substr(0, what.size() - required.size()));
    const std::string refused = RefusedValueText(what);
    return refused.empty() ? what : refused;
}

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
        console.Err("kestroctl: " + ParseErrorText(error) + "\n" + Tr("kestroctl --help lists the commands.") + "\n");
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
    if (command.storeless && command.storeless(options)) {
        // No registry to open, offline or not: a Linux machine exports a
        // profile as well as a Windows one does.
        NoRegistry none;
        Context context{none, console, options, stores, {}, nullptr, {}, {}, {}};
        try {
            return command.run(context);
        } catch (const std::exception& failure) {
            return context.Fail(kExitFailed, failure.what());
        }
    }
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
    std::vector<std::pair<const Setting*, std::string>> unconfirmed;
    std::vector<std::pair<std::string, std::string>> unconfirmedMachine;
    std::function<void()> putBackFiles;
    {
        ScopedRegistryStore active(recorder);
        Context context{recorder, console, options, stores, {}, &recorder, {}, {}, {}};
        try {
            code = command.run(context);
        } catch (const std::exception& failure) {
            code = context.Fail(kExitFailed, failure.what());
        }
        unconfirmed = std::move(context.unconfirmed);
        unconfirmedMachine = std::move(context.unconfirmedMachine);
        putBackFiles = std::move(context.putBackFiles);
    }
    const bool kept = stores.Close(code == kExitOk, &why);
    // Only what reached the files is reported as set.
    for (const auto& entry : unconfirmedMachine)
        if (stores.Kept(kHkeyLocalMachine, entry.first)) console.Out(entry.second);
    for (const auto& entry : unconfirmed)
        if (stores.Kept(entry.first->root, entry.first->keyPath)) console.Out(entry.second);
    // All or nothing across the hives and the Group Policy files: when the
    // hives' part is lost, the files go back as they were.
    if (!kept && code == kExitOk && putBackFiles) putBackFiles();
    if (!kept) {
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
    std::vector<std::string> words;
    if (!TakeLanguage(arguments, &words, console)) return kExitUsage;
    CLI::App app{Tr("Kestro's Windows settings from the command line."), "kestroctl"};
    SpeakTheLanguage(app);
    app.require_subcommand(1);
    app.footer(Tr(kFooter));
    std::string language;
    app.add_option("--lang", language,
                   Tr("the language of the texts: ru (Russian) or en (English); by default the user's"))
        ->type_name("ru|en");
    stores.AddOptions(app);
    const Command* chosen = nullptr;
    for (const Command& command : kCommands) {
        CLI::App* sub = app.add_subcommand(command.name, Tr(command.summary));
        SpeakTheLanguage(*sub);
        if (command.declare) command.declare(*sub, options);
        // export's own subcommands (reg, pol, gpo, admx) too.
        for (CLI::App* inner : sub->get_subcommands([](CLI::App*) { return true; })) SpeakTheLanguage(*inner);
        if (command.writes) {
            sub->add_flag("--no-notify", options.noNotify,
                          Tr("do not broadcast WM_SETTINGCHANGE \"Policy\" after writing (never sent offline)"));
            sub->add_option("--undo", options.undo,
                            Tr("before the first write, save what is there now as a .reg file: apply it to go back"));
        }
        sub->callback([&chosen, &command] { chosen = &command; });
    }
    const std::vector<OwnCommand> own = stores.OwnCommands();
    const OwnCommand* chosenOwn = nullptr;
    for (const OwnCommand& command : own) {
        CLI::App* sub = app.add_subcommand(command.name, command.summary);
        SpeakTheLanguage(*sub);
        if (command.declare) command.declare(*sub);
        sub->callback([&chosenOwn, &command] { chosenOwn = &command; });
    }

    if (IsUnknownCommand(words, own)) {
        console.Err("kestroctl: " + Tr("unknown command '%1'", words[0]) + "\n" + Tr("kestroctl --help lists the commands.") +
                    "\n");
        return kExitUsage;
    }
    int code = kExitOk;
    if (!ParseArguments(app, words, console, &code)) return code;
    if (chosenOwn) return chosenOwn->run(console);
    if (!chosen) return kExitUsage;
    return RunOnStore(*chosen, options, stores, console);
}

}  // namespace kestro
