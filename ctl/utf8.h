// UTF-8, the console tool's text inside, and the wide texts of Windows and
// of the window's tables.
#pragma once

#include <string>

namespace kestro {

// Invalid UTF-8 becomes U+FFFD, one per bad byte.
std::wstring WideFromUtf8(const std::string& text);
std::string Utf8FromWide(const std::wstring& text);
bool IsValidUtf8(const std::string& text);

}  // namespace kestro
