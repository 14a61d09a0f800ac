// kestroctl list: every setting with its state, as a table or as JSON.
#include "ctl/command_context.h"
#include "ctl/messages.h"

#include "form/form_layout.h"
#include "core/text.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>

namespace kestro {

namespace {

// JSON's words are the format's, the table's the reader's.
const char* ScopeName(const Setting& row) { return row.IsMachineWide() ? N_("machine") : N_("user"); }

const char* EffectName(Effect effect) {
    switch (effect) {
        case Effect::AtOnce: return N_("now");
        case Effect::ProgramStart: return N_("program");
        case Effect::NextLogon: return N_("logon");
        case Effect::Restart: return N_("restart");
#ifdef _WIN32
        case Effect::AtOnceWhenRunning: return N_("now");  // through user32, on the running Windows
#else
        case Effect::AtOnceWhenRunning: return N_("logon");  // written into the files of a Windows at rest
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


// Where the state comes from: the machine-wide rows' own value is the
// machine's.
std::string SourceText(const Setting& row, const SettingState& state) {
    if (row.IsMachineWide()) return "machine";
    return SourceNames(state.sources);
}

nlohmann::json JsonItem(const Setting& row, const SettingState& state) {
    nlohmann::json item = {{"name", row.name},     {"caption", Caption(row)},
                           {"scope", ScopeName(row)}, {"source", SourceText(row, state)},
                           {"effect", EffectName(row.effect)},
                           {"admin", row.IsMachineWide()}, {"tattoo", Tattoos(row)},
                           {"windows", WindowsRangeText(HonouredBy(row))}};
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

// The local Group Policy's files, read once for every row, and what could
// not be read of them or of the machine's copies said on the error stream.
LocalGroupPolicy ReadPolicyFiles(Context& context) {
    LocalGroupPolicy gpo = LocalGroupPolicy::Read(context.store);
    for (const std::string& problem : gpo.Problems()) context.console.Err("kestroctl: " + Tr("note: %1", problem) + "\n");
    return gpo;
}

SettingState ReadListed(Context& context, const Setting& row, const LocalGroupPolicy& gpo) {
    SettingState state = ReadEnforcedState(context.store, row, gpo);
    for (const std::string& note : state.notes) context.console.Err("kestroctl: " + Tr("note: %1", note) + "\n");
    return state;
}

int ListJson(Context& context) {
    nlohmann::json list = nlohmann::json::array();
    const LocalGroupPolicy gpo = ReadPolicyFiles(context);
    for (const Setting& row : kCatalogue)
        if (row.HasState()) list.push_back(JsonItem(row, ReadListed(context, row, gpo)));
    context.console.Json(list.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
    return kExitOk;
}

int ListTable(Context& context) {
    // TATTOO: stays behind when a GPO that set it is removed.
    // SOURCE: where Windows takes the state from (user, machine, local-gpo,
    // domain; several joined by +).
    struct Line {
        std::string name, state, source, scope, effect, admin, tattoo, windows, caption;
    };
    std::vector<Line> lines = {{Tr("NAME"), Tr("STATE"), Tr("SOURCE"), Tr("SCOPE"), Tr("EFFECT"), Tr("ADMIN"),
                                Tr("TATTOO"), Tr("WINDOWS"), Tr("CAPTION")}};
    const std::string yes = Tr("yes"), no = Tr("no");
    const LocalGroupPolicy gpo = ReadPolicyFiles(context);
    for (const Setting& row : kCatalogue) {
        if (!row.HasState()) continue;
        const SettingState state = ReadListed(context, row, gpo);
        lines.push_back({row.name, StateText(state), SourceText(row, state), Tr(ScopeName(row)),
                         Tr(EffectName(row.effect)), row.IsMachineWide() ? yes : no, Tattoos(row) ? yes : no,
                         WindowsRangeText(HonouredBy(row)), Caption(row)});
    }
    // Columns as wide as their longest entry; a long text value only
    // pushes its own line's caption along.
    std::size_t name = 0, state = 0, source = 0, scope = 7, effect = 7, admin = 5, tattoo = 6, windows = 0;
    for (const Line& line : lines) {
        name = std::max(name, DisplayWidth(line.name));
        if (DisplayWidth(line.state) <= 12) state = std::max(state, DisplayWidth(line.state));
        source = std::max(source, DisplayWidth(line.source));
        scope = std::max(scope, DisplayWidth(line.scope));
        effect = std::max(effect, DisplayWidth(line.effect));
        admin = std::max(admin, DisplayWidth(line.admin));
        tattoo = std::max(tattoo, DisplayWidth(line.tattoo));
        windows = std::max(windows, DisplayWidth(line.windows));
    }
    const auto pad = [](const std::string& s, std::size_t width) {
        const std::size_t size = DisplayWidth(s);
        return size >= width ? s + " " : s + std::string(width - size + 1, ' ');
    };
    for (const Line& line : lines)
        context.console.Out(pad(line.name, name) + pad(line.state, state) + pad(line.source, source) +
                            pad(line.scope, scope) + pad(line.effect, effect) + pad(line.admin, admin) +
                            pad(line.tattoo, tattoo) + pad(line.windows, windows) + line.caption + "\n");
    return kExitOk;
}

}  // namespace

void DeclareList(CLI::App& command, Options& options) {
    command.add_flag("--json", options.json, Tr("one JSON array, UTF-8"));
}

int RunList(Context& context) { return context.options.json ? ListJson(context) : ListTable(context); }

}  // namespace kestro
