// The two ANSI code pages the in-memory registry can be configured with,
// converting as Windows' 8-bit registry calls do: one byte per character,
// and a character the code page cannot hold becomes '?'.
#pragma once

#include <string>

namespace kestro {

enum class CodePage { Windows1251, Windows1252 };

std::u16string AnsiToUtf16(const std::string& text, CodePage codePage);
// `lossy`, when given, tells whether any character became '?'.
std::string Utf16ToAnsi(const std::u16string& text, CodePage codePage, bool* lossy = nullptr);

}  // namespace kestro
