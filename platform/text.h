// Between the system's 8-bit texts (registry strings, paths, error
// messages) and the wide texts of the window.
#pragma once

#include <string>

namespace kestro {

// Through the system's ANSI code page on Windows; off Windows, bytes as
// Latin-1, which is all the tests need.
std::wstring FromAnsi(const std::string& text);
std::string ToAnsi(const std::wstring& text);

// The engine's texts are UTF-8; the registry's and the window's are UTF-16
// (wchar_t is UTF-16 on Windows, UTF-32 elsewhere). A malformed UTF-8
// sequence becomes U+FFFD rather than being guessed at.
std::u16string Utf8ToUtf16(const std::string& text);
std::string WideToUtf8(const std::wstring& text);
std::wstring Utf8ToWide(const std::string& text);

// Appends one code point as UTF-8.
void AppendUtf8(std::string& out, char32_t cp);

// Registry names, and the names in the files that carry registry values,
// compare without regard to case. Only ASCII letters fold, as hivex folds
// them; that covers every name the program itself uses. The comparison
// orders as if both texts were lower case.
int CompareAsciiNoCase(const std::string& a, const std::string& b);
bool SameAsciiNoCase(const std::string& a, const std::string& b);
std::string AsciiUpper(std::string text);

}  // namespace kestro
