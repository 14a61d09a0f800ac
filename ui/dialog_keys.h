// What the dialog manager needs of two of the window's controls that their
// system classes do not give it.
#pragma once

#include <windows.h>

namespace kestro {

// A multi-line edit that leaves Tab, Enter and Escape to the window: the
// edit class asks for every key, so Tab could never leave it, and Escape
// in it would close its parent. It keeps the arrows and the characters.
void MakeDialogMemo(HWND edit);

// A picture that takes the keyboard focus and shows it as the focus
// rectangle, when the window shows focus cues.
void MakeFocusablePicture(HWND picture);

}  // namespace kestro
