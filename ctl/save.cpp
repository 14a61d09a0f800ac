// kestroctl save: every setting's state as a profile.
#include "ctl/command_context.h"
#include "ctl/messages.h"

#include "core/files.h"

#include <CLI/CLI.hpp>

namespace kestro {

void DeclareSave(CLI::App& command, Options& options) {
    command.add_option("FILE", options.file, Tr("the profile to write"))->required();
    AddScopeOption(command, options, N_("only the user's settings, or only the machine's: user or machine"));
}

int RunSave(Context& context) {
    Profile profile;
    std::vector<std::string> notes;
    // The state in force: what Windows takes from the machine's copy or the
    // Group Policy, not the user's own value it passes over.
    const bool complete = CurrentProfile(context.store, &profile, &notes, context.options.scope, true);
    std::string error;
    if (!WriteFileAtomically(context.options.file, WriteProfile(profile, notes), &error))
        return context.Fail(kExitFailed, Tr("cannot write %1: %2", context.options.file, error));
    if (complete) return kExitOk;
    for (const std::string& note : notes) context.console.Err("kestroctl: " + note + "\n");
    return kExitFailed;
}

}  // namespace kestro
