// The names that screen readers give the window's controls that have no
// text of their own to be named by: a picture, an edit with no label just
// before it, a button whose caption says nothing ("..."). A reader's
// standard proxies name an edit or a picture by the label just before it
// among its siblings, and a button by its window text.
#pragma once

namespace kestro {

struct AccessibleNameDef {
    const char* control;  // a row of the control table
    const wchar_t* name;
};

extern const AccessibleNameDef kAccessibleNames[];
extern const unsigned kAccessibleNameCount;

// The name of the control, or null when its own text or label names it.
const wchar_t* AccessibleNameOf(const char* control);

}  // namespace kestro
