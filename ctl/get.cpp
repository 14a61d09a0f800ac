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
    const SettingState state = ReadSettingState(context.store, *row);
    switch (state.status) {
        case SettingState::Status::Ok:
            context.console.Out(ShownField(DisplaySettingValue(state.value)) + "\n");
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
