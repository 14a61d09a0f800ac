// A name for screen readers that a control's window text does not give: a
// button captioned "..." is named by its purpose. The control answers
// WM_GETOBJECT with the system's own accessible object for it, which it
// asks for then, changed in one thing: its name. Active Accessibility
// (oleacc, oleaut32) is loaded only when a reader first asks.
#pragma once

#include <windows.h>

namespace kestro {

// `name` must outlive the control (the names are static data).
void SetAccessibleName(HWND control, const wchar_t* name);

}  // namespace kestro
