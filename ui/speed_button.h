// The window's speed buttons: the toggles, which flip on each click, and
// the buttons that spring back. The mouse never gives them the focus (a
// click leaves it where it was); the keyboard does, and Space presses them
// through the button class's own path, so a toggle flips and reports
// BN_CLICKED exactly as a click does.
#pragma once

#include "settings/uFunctions.h"

#include <windows.h>

namespace kestro {

// Makes `button` (a BUTTON: BS_AUTOCHECKBOX | BS_PUSHLIKE for a toggle,
// BS_PUSHBUTTON for one that springs back) handle the mouse itself.
void MakeSpeedButton(HWND button);
bool IsSpeedButton(HWND control);
bool IsToggleButton(HWND button);

// The tooltip that the speed buttons under `root` (a top-level window) pass
// their mouse messages to; they pass them on themselves, as the tooltip's
// own subclass would swallow what they handle. Null removes it.
void SetSpeedButtonTooltip(HWND root, HWND tooltip);

// A toggle's state, kept here until its button exists, then in the button.
class ToggleButton : public IToggle {
public:
    explicit ToggleButton(HWND button) : button_(button) {}
    // BM_SETCHECK sends no BN_CLICKED: setting a state runs no handler.
    void SetDown(bool down) override;
    bool Down() const;
    // The button made when its page is first shown takes the state set
    // before; a new button is up already.
    void Attach(HWND button);

private:
    HWND button_;
    bool down_ = false;
};

}  // namespace kestro
