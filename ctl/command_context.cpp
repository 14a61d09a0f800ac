#include "ctl/command_context.h"
#include "ctl/messages.h"

#include "ctl/prior_state.h"

#include "core/files.h"
#include "core/text.h"
#include "formats/policy_file.h"

#include <CLI/CLI.hpp>

namespace kestro {

const Setting* LookUp(Context& context, const std::string& name, int* code) {
    const Setting* row = FindSettingByName(name);
    if (!row) {
        *code = context.Fail(kExitUsage, Tr("unknown setting '%1' (kestroctl list shows the names)", name));
        return nullptr;
    }
    if (!row->HasState()) {
        *code = context.Fail(kExitUsage, Tr("%1 is an action: kestroctl clear-search-history", row->name));
        return nullptr;
    }
    return row;
}

// The running system's own: an existing file, stored with its full path.
bool StoreProvider::CheckFilePath(std::wstring* path, std::string* error) {
    const std::string utf8 = WideToUtf8(*path);
    if (!IsExistingFile(utf8)) {
        *error = Tr("no such file: %1", utf8);
        return false;
    }
    *path = Utf8ToWide(FullPath(utf8));
    return true;
}

bool Prepare(Context& context, const Setting& row, SettingValue* value, std::string* error) {
    if (!row.namesFile || value->text.empty()) return true;
    if (context.stores.CheckFilePath(&value->text, error)) return true;
    *error = std::string(row.name) + ": " + *error;
    return false;
}

void NoteIfIgnored(Context& context, const Setting& row) {
    if (!context.windowsKnown) {
        unsigned major = 0, minor = 0, build = 0;
        context.windows = context.stores.KernelVersion(&major, &minor, &build)
                              ? IdentifyWindows(major, minor, build)
                              : IdentifyWindows(context.store);
        context.windowsKnown = true;
    }
    const WindowsRange range = HonouredBy(row);
    if (!context.windows.known || range.Includes(context.windows.version)) return;
    context.console.Err("kestroctl: " +
                        Tr("note: %1 does not read %2: Windows %3 does", context.windows.name, row.name,
                           WindowsRangeText(range)) +
                        "\n");
}

// Whether Group Policy leaves the setting behind when its GPO is removed:
// every value outside the policy keys stays.
bool Tattoos(const Setting& row) {
    return TattoosWhenRemoved(RegValue{row.root, row.keyPath, row.valueNames[0], kRegNone, {}});
}

std::string StateText(const SettingState& state) {
    switch (state.status) {
        case SettingState::Status::Ok: return FormatSettingValue(state.value);
        case SettingState::Status::NotSet: return Tr("(not set)");
        case SettingState::Status::WrongType: return Tr("(wrong type: %1)", state.detail);
        case SettingState::Status::Unreadable: return Tr("(unreadable: %1)", state.detail);
    }
    return std::string();
}


bool ReadProfileFile(Context& context, const std::string& file, Profile* profile, int* code) {
    std::string bytes, error;
    if (!ReadWholeFile(file, kMaxProfileBytes, &bytes, &error)) {
        *code = context.Fail(kExitUsage, Tr("cannot read %1: %2", file, error));
        return false;
    }
    ProfileError fault;
    if (!ReadProfile(bytes, profile, &fault)) {
        *code = context.Fail(kExitUsage,
                             file + (fault.line ? ":" + std::to_string(fault.line) : std::string()) + ": " + fault.message);
        return false;
    }
    return true;
}

int WriteAllOrNothing(Context& context, PriorState& prior, const std::function<std::string()>& write) {
    std::string error;
    if (!prior.Read(context.store, &error))
        return context.Fail(kExitFailed, Tr("cannot read what is there before writing: %1; nothing was changed", error));
    if (!context.options.undo.empty()) {
        // The way back is on disk before the first write, or nothing is written.
        std::vector<std::uint8_t> bytes;
        try {
            bytes = WriteRegEdits(prior.UndoEdits());
        } catch (const FormatError& e) {
            return context.Fail(kExitFailed, Tr("cannot write the undo file: %1; nothing was changed", e.what()));
        }
        // The Group Policy files it will change: copies beside it, named
        // in it as comments (which reg import passes over).
        if (context.saveUndoFiles) {
            std::vector<std::string> lines;
            if (!context.saveUndoFiles(context.options.undo, &lines, &error))
                return context.Fail(kExitFailed, Tr("%1; nothing was changed", error));
            for (const std::string& line : lines) AppendUtf16Le(bytes, Utf8ToUtf16(line + "\r\n"));
        }
        if (!WriteFileAtomically(context.options.undo, std::string(bytes.begin(), bytes.end()), &error))
            return context.Fail(kExitFailed, Tr("cannot write %1: %2; nothing was changed", context.options.undo, error));
    }
    const std::string failure = write();
    if (failure.empty()) return kExitOk;
    context.Fail(kExitFailed, failure);
    const PutBackResult back = prior.PutBack(context.store);
    if (context.recorder) context.recorder->SetWritten(back.stillChanged);
    if (back.failed.empty())
        return context.Fail(kExitFailed, Tr("nothing was changed: what was written before the failure was put back"));
    for (const std::string& place : back.failed) context.Fail(kExitFailed, Tr("%1: could not be put back", place));
    return context.Fail(kExitFailed, Tr("%1 values could not be put back as they were and stay changed",
                                         back.failed.size()));
}

void AddScopeOption(CLI::App& command, Options& options, const char* help) {
    // The values as the help shows them, not CLI11's "TEXT:{user,machine}",
    // whose TEXT the help would leave in English.
    command.add_option("--scope", options.scope, Tr(help))
        ->check(CLI::IsMember({"user", "machine"}, CLI::ignore_case).description(""))
        ->type_name("user|machine");
}

}  // namespace kestro
