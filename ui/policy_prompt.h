// A toggle whose state Windows takes from the machine's copy or the local
// Group Policy: the tooltip says where it comes from, and a click asks
// before it changes the setting for every account of the computer.
#pragma once

#include "settings/catalogue.h"

#include <windows.h>

#include <string>

namespace kestro {

// The tooltip's text with a line saying where the state comes from
// (settings/policy_sources.h's bits); the text alone for the user's own.
std::wstring TooltipWithSource(const wchar_t* tooltip, unsigned sources);

// Before a click on the toggle of `row` writes the user's value for `down`:
// when a place other than the user's own value holds a state that
// contradicts it, asks (Yes/No) and, on Yes, lifts it. True when the click
// may go on writing; false when it must not (No, no rights, a file that
// cannot be changed: said in a box), having changed nothing.
bool ConfirmPolicyLift(HWND owner, const std::wstring& title, const Setting& row, bool down);

}  // namespace kestro
