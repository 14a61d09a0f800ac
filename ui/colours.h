// The windows' colours: every ground and text comes from the system's
// colour scheme, as the pair that belongs together, so that a
// high-contrast scheme (white on black, say) keeps every text readable.
#pragma once

#include <windows.h>
#include <commctrl.h>

namespace kestro::colours {

// The class background of the program's windows and pages: the system's
// window colour, which Windows looks up anew at every painting.
HBRUSH ClassBackground();

// The answer to WM_CTLCOLORSTATIC, WM_CTLCOLOREDIT and WM_CTLCOLORBTN:
// labels, edits (read-only ones too) and the memo in the window text
// colour on the window colour; a button draws its face and text in the
// button colours itself, and only its corners show this ground. Returns
// the system's brush of that ground, which nobody deletes.
LRESULT ControlColours(HDC dc);

// NM_CUSTOMDRAW of the window's buttons. A toggle that is down has a ground
// dithered from the button face and its highlight; where the scheme's
// button text is as light as that highlight (white on black), its caption
// would vanish there, so a down toggle is drawn in the selection's pair of
// colours instead (COLOR_HIGHLIGHT, COLOR_HIGHLIGHTTEXT), sunken, with its
// glyph. Anything else is left to the button.
LRESULT CustomDrawButton(const NMHDR& header);

// What a top-level window does on WM_SYSCOLORCHANGE: the common controls
// keep copies of the system colours and learn of a new scheme only from
// their parent, so it goes on to every child; then everything is painted
// anew.
void SysColorChange(HWND window, WPARAM wParam, LPARAM lParam);

}  // namespace kestro::colours
