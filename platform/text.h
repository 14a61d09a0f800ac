// Between the system's 8-bit texts (registry strings, paths, error
// messages) and the wide texts of the window.
#pragma once

#include <string>

namespace kestro {

// Through the system's ANSI code page on Windows; off Windows, bytes as
// Latin-1, which is all the tests need.
std::wstring FromAnsi(const std::string& text);
std::string ToAnsi(const std::wstring& text);

}  // namespace kestro
