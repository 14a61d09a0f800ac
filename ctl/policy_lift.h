// Lifting a lock where Windows takes a setting from besides the user's own
// value: a machine's copy that contradicts the state asked for is deleted,
// and a local Group Policy entry that does is taken out of its Registry.pol
// (the file rewritten whole, every other entry kept byte for byte) with
// gpt.ini's version raised on that side, so that Group Policy reads the
// file again and does not put the entry's value back.
#pragma once

#include "ctl/command_context.h"
#include "ctl/prior_state.h"
#include "settings/policy_sources.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace kestro {

class PolicyLift {
public:
    // What must go for each setting to be in force as asked; false, having
    // said why (exit 1), when a Registry.pol or gpt.ini it must change
    // cannot be read or is malformed. Nothing is written.
    bool Plan(Context& context, const std::vector<std::pair<const Setting*, SettingValue>>& wanted, int* code);
    // Adds the machine's copies it deletes to `prior`, for the put-back
    // and the undo file.
    void AddTo(PriorState& prior) const;
    // Live: false, having said why (exit 1), when the machine's copies it
    // must delete cannot be changed with this process's rights.
    bool CheckRights(Context& context, int* code) const;
    // Rewrites the files, then deletes the machine's copies; each change
    // is reported on a line of its own. Empty, or what failed.
    std::string Write(Context& context);
    // The files as they were before Write (the registry's values go back
    // through the prior state).
    void PutBackFiles(Context& context) const;
    // The same, to run after the command (when the store fails to keep the
    // registry's part at its close): it holds its own copy of the bytes.
    std::function<void()> PutBackLater(Context& context) const;
    // --undo: each file Write will change, copied beside `undo` as
    // UNDO.User-Registry.pol, UNDO.Machine-Registry.pol, UNDO.gpt.ini (or
    // said absent), and the comment lines that name them.
    bool SaveUndoCopies(const std::string& undo, std::vector<std::string>* lines, std::string* error) const;
    bool Empty() const { return machineValues_.empty() && removals_[0].empty() && removals_[1].empty(); }

    // The files Write changes, with their bytes before (absent: not there).
    struct FileBefore {
        GroupPolicyFiles::File file;
        bool present;
        std::vector<std::uint8_t> bytes;
    };
    const std::vector<FileBefore>& FilesBefore() const { return before_; }

private:
    LocalGroupPolicy gpo_;
    std::vector<std::pair<const Setting*, std::int32_t>> machineValues_;  // deleted, with what they held
    std::vector<std::size_t> removals_[2];                               // entries taken out: user, machine
    std::vector<std::string> removalNames_[2];                           // their settings, for the report
    std::vector<std::uint8_t> gptIni_;
    bool gptIniPresent_ = false;
    std::vector<FileBefore> before_;
};

// The Group Policy files an undo file names (SaveUndoCopies' lines), put
// back as they were: each file's bytes as its copy holds them, or deleted
// where it was absent. False, having said why, when the undo file names a
// copy that cannot be read; nothing is written then. Each file put back is
// reported; `before` gets what was there, for a put-back of its own.
bool ReadUndoFileCopies(Context& context, const std::vector<std::uint8_t>& undoFile,
                        std::vector<PolicyLift::FileBefore>* copies, int* code);
bool RestoreFiles(Context& context, const std::vector<PolicyLift::FileBefore>& copies,
                  std::vector<PolicyLift::FileBefore>* before, std::string* error);
void PutBackFiles(Context& context, const std::vector<PolicyLift::FileBefore>& before);
// The same, to run after the command: holds its own copy of the bytes.
std::function<void()> PutBackFilesLater(Context& context, const std::vector<PolicyLift::FileBefore>& before);

// The number the writers store for `value` of the row, as the policy
// places hold it; false for a default (no value at all).
bool StoredNumber(const Setting& row, const SettingValue& value, std::int32_t* number);

}  // namespace kestro
