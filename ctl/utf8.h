// Whether bytes are well-formed UTF-8: profiles and arguments are refused
// rather than guessed at.
#pragma once

#include <string>

namespace kestro {

// Overlong forms, surrogates, code points past U+10FFFF and cut-short
// sequences are all malformed.
bool IsValidUtf8(const std::string& text);

}  // namespace kestro
