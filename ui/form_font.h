// The font of the program's windows, made in one place for the main window
// and the folder chooser alike.
#pragma once

#include <windows.h>

namespace kestro {

// The windows' text font in this weight (FW_NORMAL, FW_BOLD); the caller
// owns it.
HFONT MakeFormFont(int weight);

}  // namespace kestro
