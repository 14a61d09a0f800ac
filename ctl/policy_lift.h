// kestroctl's side of the lift (settings/policy_lift.h): its refusals and
// each change it makes said on the console, the Group Policy files kept
// beside an undo file and put back from there.
#pragma once

#include "ctl/command_context.h"
#include "ctl/prior_state.h"
#include "settings/policy_lift.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace kestro {

// What must go for each setting to be in force as asked, and the right to
// change it: false, having said why (exit 1), when a Registry.pol or
// gpt.ini it must change cannot be read or is malformed, a domain's object
// holds a setting, or a machine's copy cannot be changed with this
// process's rights. Nothing is written.
bool PlanLift(Context& context, PolicyLift& lift, const std::vector<std::pair<const Setting*, SettingValue>>& wanted,
              int* code);
// --dry-run: each change the lift would make, on a line of its own.
void ReportLiftPlan(Context& context, const PolicyLift& lift);
// Adds the machine's copies the lift deletes to `prior`, for the put-back
// and the undo file.
void AddLiftTo(const PolicyLift& lift, PriorState& prior);
// Rewrites the files, then deletes the machine's copies; each change is
// reported on a line of its own. Empty, or what failed.
std::string WriteLift(Context& context, PolicyLift& lift);
// --undo: each file the lift will change, copied beside `undo` as
// UNDO.User-Registry.pol, UNDO.Machine-Registry.pol, UNDO.gpt.ini (or
// said absent), and the comment lines that name them.
bool SaveUndoCopies(const PolicyLift& lift, const std::string& undo, std::vector<std::string>* lines,
                    std::string* error);

// The Group Policy files an undo file names (SaveUndoCopies' lines), put
// back as they were: each file's bytes as its copy holds them, or deleted
// where it was absent. False, having said why, when the undo file names a
// copy that cannot be read; nothing is written then. Each file put back is
// reported; `before` gets what was there, for a put-back of its own.
bool ReadUndoFileCopies(Context& context, const std::vector<std::uint8_t>& undoFile,
                        std::vector<PolicyFileBefore>* copies, int* code);
bool RestoreFiles(Context& context, const std::vector<PolicyFileBefore>& copies, std::vector<PolicyFileBefore>* before,
                  std::string* error);
// The files as they were (the registry's values go back through the prior
// state); each that cannot be is said on stderr.
void PutBackFiles(Context& context, const std::vector<PolicyFileBefore>& before);
// The same, to run after the command (when the store fails to keep the
// registry's part at its close): holds its own copy of the bytes.
std::function<void()> PutBackFilesLater(Context& context, const std::vector<PolicyFileBefore>& before);

// The number the writers store for `value` of the row, as the policy
// places hold it; false for a default (no value at all).
bool StoredNumber(const Setting& row, const SettingValue& value, std::int32_t* number);

}  // namespace kestro
