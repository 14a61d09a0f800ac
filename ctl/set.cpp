// kestroctl set: one setting through the window's own writer.
#include "ctl/command_context.h"
#include "ctl/messages.h"

#include "ctl/prior_state.h"
#include "ctl/writes.h"

#include <CLI/CLI.hpp>

namespace kestro {

void DeclareSet(CLI::App& command, Options& options) {
    command.add_option("NAME", options.name, Tr("a setting's name, as list shows it"))->required();
    command.add_option("VALUE", options.value, Tr("on or off for a toggle, a number, or a text"))->required();
}

int RunSet(Context& context) {
    int code = kExitOk;
    const Setting* row = LookUp(context, context.options.name, &code);
    if (!row) return code;
    SettingValue value;
    std::string error;
    if (!ParseSettingValue(*row, context.options.value, &value, &error) || !Prepare(context, *row, &value, &error))
        return context.Fail(kExitUsage, error);
    PriorState prior;
    prior.Add(*row);
    return WriteAllOrNothing(context, prior, [&]() -> std::string {
        try {
            WriteSetting(*row, value);
        } catch (const std::exception& failure) {
            return std::string(row->name) + ": " + failure.what();
        }
        NoteIfIgnored(context, *row);
        return std::string();
    });
}

}  // namespace kestro
