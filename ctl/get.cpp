// kestroctl get: one setting's state.
#include "ctl/command_context.h"
#include "ctl/messages.h"
#include "core/display_text.h"

#include <CLI/CLI.hpp>

namespace kestro {

void DeclareGet(CLI::App& command, Options& options) {
    command.add_option("NAME", options.name, Tr("a setting's name, as list shows it"))->required();
}

int RunGet(Context& context) {
    int code = kExitOk;
    const Setting* row = LookUp(context, context.options.name, &code);
    if (!row) return code;
    // The state Windows enforces, and where it comes from when that is not
    // the user's own value.
    const LocalGroupPolicy gpo = row->HasMachineCopy() ? LocalGroupPolicy::Read(context.store) : LocalGroupPolicy();
    const SettingState state = ReadEnforcedState(context.store, *row, gpo);
    for (const std::string& problem : gpo.Problems()) context.console.Err("kestroctl: " + Tr("note: %1", problem) + "\n");
    for (const std::string& note : state.notes) context.console.Err("kestroctl: " + Tr("note: %1", note) + "\n");
    switch (state.status) {
        case SettingState::Status::Ok:
            context.console.Out(ShownField(DisplaySettingValue(state.value)) +
                                (state.sources == kSourceUser ? std::string() : " (" + SourceNames(state.sources) + ")") +
                                "\n");
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

}  // namespace kestro
