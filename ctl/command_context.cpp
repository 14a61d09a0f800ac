#include "ctl/command_context.h"

#include "platform/files.h"
#include "platform/text.h"
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

// What must hold on this machine before a value is written: the wallpaper,
// as in the window, is an existing file, and is stored with its full path.
// The empty text is no wallpaper (XP's "(None)"), stored as it is.
bool Prepare(const Setting& row, SettingValue* value, std::string* error) {
    if (&row != &CatalogueRow(SettingId::Wallpaper) || value->text.empty()) return true;
    const std::string path = WideToUtf8(value->text);
    if (!IsExistingFile(path)) {
        *error = "Wallpaper: no such file: " + path;
        return false;
    }
    value->text = Utf8ToWide(FullPath(path));
    return true;
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

}  // namespace kestro
