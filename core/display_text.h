// Text that came from somewhere else (a volume an attacker prepared, a
// registry value) shown to a person: every output line of kestroctl goes
// through ShownText, so that no name or value can drive the terminal or
// console it is shown on.
#pragma once

#include <string>

namespace kestro {

// `text` (UTF-8) with what would act on a terminal rather than be read
// written out as an escape: C0 controls but the line feed and the tab
// (ESC as \x1b), DEL (\x7f), the C1 controls (U+0080..U+009F as \u0080..,
// which a terminal may take as CSI and OSC), the bidirectional overrides
// and isolates U+202A..U+202E and U+2066..U+2069 (\u202e: they reorder what
// follows, so a name could show as another), and a byte that is no UTF-8
// (\xNN, which a terminal in an 8-bit mode may take for C1). Everything else,
// Cyrillic included, passes unchanged. A backslash is not doubled: the
// escapes are for people, and Windows paths are full of backslashes.
std::string ShownText(const std::string& text);

// The same for one field inside a line: the line feed and the tab are
// escaped too (\n, \t), so that a name cannot start a line of its own.
std::string ShownField(const std::string& text);

// JSON text (UTF-8, as a JSON writer made it) with the same characters as
// JSON escapes (\u007f, \u009b, \u202e): it stays the same JSON, every
// string the same string, and none of them acts on a terminal. Outside
// strings JSON has only ASCII punctuation and white space, which pass.
std::string ShownJson(const std::string& json);

}  // namespace kestro
