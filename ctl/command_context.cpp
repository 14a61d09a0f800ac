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

}  // namespace kestro
