// kestroctl export: the settings as a .reg file, as Group Policy
// Registry.pol files, or as a whole GPO (ctl/export_gpo.h).
#include "ctl/command_context.h"
#include "ctl/messages.h"

#include "ctl/export_admx.h"
#include "ctl/export_gpo.h"
#include "ctl/writes.h"
#include "formats/file_bytes.h"
#include "formats/layout.h"
#include "formats/policy_file.h"
#include "formats/reg_file.h"
#include "core/files.h"

#include <CLI/CLI.hpp>

#include <algorithm>

namespace kestro {

namespace {

std::string TattooNames() {
    std::string names;
    for (const Setting& row : kCatalogue)
        if (row.HasState() && Tattoos(row)) names += std::string(names.empty() ? "" : ", ") + row.name;
    return names;
}

// --scope of an export: only the user's settings, or only the machine's.
void AddScope(CLI::App& command, Options& options) {
    AddScopeOption(command, options, N_("only the user's settings, or only the machine's: user or machine"));
}

}  // namespace

void DeclareExport(CLI::App& command, Options& options) {
    command.require_subcommand(1);
    CLI::App* reg = command.add_subcommand("reg", Tr("a .reg file for regedit and reg import (UTF-16LE)"));
    reg->add_option("FILE", options.file, Tr("the .reg file to write"))->required();
    reg->add_option("--profile", options.profile, Tr("export this profile instead of this machine's settings"));
    AddScope(*reg, options);
    reg->callback([&options] { options.format = "reg"; });
    CLI::App* pol = command.add_subcommand("pol", Tr("Group Policy: DIR/User/Registry.pol and DIR/Machine/Registry.pol"));
    pol->add_option("DIR", options.file, Tr("the folder to write into, as a GPO's folder in SYSVOL"))->required();
    pol->add_option("--profile", options.profile, Tr("export this profile instead of this machine's settings"));
    AddScope(*pol, options);
    pol->callback([&options] { options.format = "pol"; });
    CLI::App* gpo = command.add_subcommand(
        "gpo", Tr("a whole GPO: DIR/windows for Import-GPO and LGPO.exe, DIR/samba for a Samba domain controller"));
    gpo->add_option("DIR", options.file, Tr("a new folder for the export"))->required();
    gpo->add_option("--name", options.gpoName, Tr("the GPO's display name"))->required();
    gpo->add_option("--profile", options.profile, Tr("export this profile instead of this machine's settings"));
    AddScope(*gpo, options);
    gpo->callback([&options] { options.format = "gpo"; });
    CLI::App* admx = command.add_subcommand(
        "admx", Tr("a template for the Group Policy editor: DIR/kestro.admx, DIR/en-US and DIR/ru-RU/kestro.adml, "
                   "for the settings Windows' own templates lack"));
    admx->add_option("DIR", options.file, Tr("the folder to write into, as PolicyDefinitions"))->required();
    admx->callback([&options] { options.format = "admx"; });
    command.footer(
        Tr("The values are exactly those the window's writers store. The search history is an action, not a\n"
           "setting, and is not exported. HKEY_CLASSES_ROOT values go to the machine's Registry.pol under\n"
           "Software\\Classes. These settings stay behind (\"tattoo\") when their GPO is removed, as they lie\n"
           "outside the Policies keys: %1.",
           TattooNames()));
}

int RunExport(Context& context) {
    const Options& options = context.options;
    if (options.format == "admx") return ExportAdmx(options.file, context.console);
    Profile profile;
    if (!options.profile.empty()) {
        int code = kExitOk;
        if (!ReadProfileFile(context, options.profile, &profile, &code)) return code;
        const auto outside = [&](const ProfileEntry& entry) { return !InScope(*entry.row, options.scope); };
        profile.entries.erase(std::remove_if(profile.entries.begin(), profile.entries.end(), outside),
                              profile.entries.end());
    } else {
        std::vector<std::string> notes;
        const bool complete = CurrentProfile(context.store, &profile, &notes, options.scope);
        for (const std::string& note : notes) context.console.Err("kestroctl: " + note + "\n");
        // A part of the state is not this machine's state: write nothing.
        if (!complete) return context.Fail(kExitFailed, Tr("not every setting could be read; nothing was exported"));
    }
    const std::vector<RegValue> values = RegistryValuesFor(profile);
    if (options.format == "gpo") return ExportGpo(values, options.file, options.gpoName, NewGpoStamp(), context.console);
    try {
        if (options.format == "reg") {
            WriteFileBytes(options.file, WriteRegFile(values));
            context.console.Out(Tr("%1 values written to %2", values.size(), options.file) + "\n");
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
            context.console.Out(Tr("%1 values written to %2 and %3", values.size(), user + slash + layout::kPolFileName,
                                   machine + slash + layout::kPolFileName) +
                                "\n");
        }
    } catch (const FormatError& e) {
        return context.Fail(kExitUsage, Tr("cannot export: %1", e.what()));
    } catch (const FileError& e) {
        return context.Fail(kExitFailed, e.what());
    }
    return kExitOk;
}

}  // namespace kestro
