#include "ctl/command_context.h"

#include "ctl/prior_state.h"

#include "core/files.h"
#include "core/text.h"
#include "formats/policy_file.h"

#include <CLI/CLI.hpp>

namespace kestro {

const Setting* LookUp(Context& context, const std::string& name, int* code) {
    const Setting* row = FindSettingByName(name);
    if (!row) {
        *code = context.Fail(kExitUsage, "unknown setting '" + name + "' (kestroctl list shows the names)");
        return nullptr;
    }
    if (!row->HasState()) {
        *code = context.Fail(kExitUsage, std::string(row->name) + " is an action: kestroctl clear-search-history");
        return nullptr;
    }
    return row;
}

// The running system's own: an existing file, stored with its full path.
bool StoreProvider::CheckFilePath(std::wstring* path, std::string* error) {
    const std::string utf8 = WideToUtf8(*path);
    if (!IsExistingFile(utf8)) {
        *error = "no such file: " + utf8;
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

// Whether Group Policy leaves the setting behind when its GPO is removed:
// every value outside the policy keys stays.
bool Tattoos(const Setting& row) {
    return TattoosWhenRemoved(RegValue{row.root, row.keyPath, row.valueNames[0], kRegNone, {}});
}

std::string StateText(const SettingState& state) {
    switch (state.status) {
        case SettingState::Status::Ok: return FormatSettingValue(state.value);
        case SettingState::Status::NotSet: return "(not set)";
        case SettingState::Status::WrongType: return "(wrong type: " + state.detail + ")";
        case SettingState::Status::Unreadable: return "(unreadable: " + state.detail + ")";
    }
    return std::string();
}


bool ReadProfileFile(Context& context, const std::string& file, Profile* profile, int* code) {
    std::string bytes, error;
    if (!ReadWholeFile(file, kMaxProfileBytes, &bytes, &error)) {
        *code = context.Fail(kExitUsage, "cannot read " + file + ": " + error);
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
        return context.Fail(kExitFailed, "cannot read what is there before writing: " + error + "; nothing was changed");
    if (!context.options.undo.empty()) {
        // The way back is on disk before the first write, or nothing is written.
        std::vector<std::uint8_t> bytes;
        try {
            bytes = WriteRegEdits(prior.UndoEdits());
        } catch (const FormatError& e) {
            return context.Fail(kExitFailed, std::string("cannot write the undo file: ") + e.what() + "; nothing was changed");
        }
        // The Group Policy files it will change: copies beside it, named
        // in it as comments (which reg import passes over).
        if (context.saveUndoFiles) {
            std::vector<std::string> lines;
            if (!context.saveUndoFiles(context.options.undo, &lines, &error))
                return context.Fail(kExitFailed, error + "; nothing was changed");
            for (const std::string& line : lines) AppendUtf16Le(bytes, Utf8ToUtf16(line + "\r\n"));
        }
        if (!WriteFileAtomically(context.options.undo, std::string(bytes.begin(), bytes.end()), &error))
            return context.Fail(kExitFailed, "cannot write " + context.options.undo + ": " + error + "; nothing was changed");
    }
    const std::string failure = write();
    if (failure.empty()) return kExitOk;
    context.Fail(kExitFailed, failure);
    const PutBackResult back = prior.PutBack(context.store);
    if (context.recorder) context.recorder->SetWritten(back.stillChanged);
    if (back.failed.empty())
        return context.Fail(kExitFailed, "nothing was changed: what was written before the failure was put back");
    for (const std::string& place : back.failed) context.Fail(kExitFailed, place + ": could not be put back");
    return context.Fail(kExitFailed, std::to_string(back.failed.size()) +
                                         " values could not be put back as they were and stay changed");
}

}  // namespace kestro
