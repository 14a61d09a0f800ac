// kestroctl list: every setting with its state, as a table or as JSON.
#include "ctl/command_context.h"

#include "form/form_layout.h"
#include "core/text.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>

namespace kestro {

namespace {

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

// The local Group Policy's files, read once for every row, and what could
// not be read of them or of the machine's copies said on the error stream.
LocalGroupPolicy ReadPolicyFiles(Context& context) {
    LocalGroupPolicy gpo = LocalGroupPolicy::Read(context.store);
    for (const std::string& problem : gpo.Problems()) context.console.Err("kestroctl: note: " + problem + "\n");
    return gpo;
}

SettingState ReadListed(Context& context, const Setting& row, const LocalGroupPolicy& gpo) {
    SettingState state = ReadEnforcedState(context.store, row, gpo);
    for (const std::string& note : state.notes) context.console.Err("kestroctl: note: " + note + "\n");
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
        std::string name, state, source, scope, effect, admin, tattoo, caption;
    };
    std::vector<Line> lines = {{"NAME", "STATE", "SOURCE", "SCOPE", "EFFECT", "ADMIN", "TATTOO", "CAPTION"}};
    const LocalGroupPolicy gpo = ReadPolicyFiles(context);
    for (const Setting& row : kCatalogue) {
        if (!row.HasState()) continue;
        const SettingState state = ReadListed(context, row, gpo);
        lines.push_back({row.name, StateText(state), SourceText(row, state), ScopeName(row), EffectName(row.effect),
                         row.IsMachineWide() ? "yes" : "no", Tattoos(row) ? "yes" : "no", Caption(row)});
    }
    // Columns as wide as their longest entry; a long text value only
    // pushes its own line's caption along.
    std::size_t name = 0, state = 0, source = 0;
    for (const Line& line : lines) {
        name = std::max(name, line.name.size());
        source = std::max(source, line.source.size());
        if (line.state.size() <= 12) state = std::max(state, line.state.size());
    }
    const auto pad = [](const std::string& s, std::size_t width) {
        return s.size() >= width ? s + " " : s + std::string(width - s.size() + 1, ' ');
    };
    for (const Line& line : lines)
        context.console.Out(pad(line.name, name) + pad(line.state, state) + pad(line.source, source) + pad(line.scope, 7) +
                            pad(line.effect, 7) + pad(line.admin, 5) + pad(line.tattoo, 6) + line.caption + "\n");
    return kExitOk;
}

}  // namespace

void DeclareList(CLI::App& command, Options& options) {
    command.add_flag("--json", options.json, "one JSON array, UTF-8");
}

int RunList(Context& context) { return context.options.json ? ListJson(context) : ListTable(context); }

}  // namespace kestro
