// kestroctl set: one setting through the window's own writer.
#include "ctl/command_context.h"
#include "ctl/messages.h"

#include "ctl/policy_lift.h"
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
    // Where Windows reads it first (the machine's copy, the local Group
    // Policy), what contradicts the state asked for goes too.
    PolicyLift lift;
    if (!PlanLift(context, lift, {{row, value}}, &code)) return code;
    PriorState prior;
    prior.Add(*row);
    AddLiftTo(lift, prior);
    context.saveUndoFiles = [&lift](const std::string& undo, std::vector<std::string>* lines, std::string* error) {
        return SaveUndoCopies(lift, undo, lines, error);
    };
    return WriteAllOrNothing(context, prior, [&]() -> std::string {
        std::string failure = WriteLift(context, lift);
        if (failure.empty()) {
            try {
                WriteSetting(*row, value);
            } catch (const std::exception& e) {
                failure = std::string(row->name) + ": " + e.what();
            }
        }
        if (!failure.empty()) {
            PutBackFiles(context, lift.FilesBefore());
        } else {
            context.putBackFiles = PutBackFilesLater(context, lift.FilesBefore());
            NoteIfIgnored(context, *row);
        }
        return failure;
    });
}

}  // namespace kestro
