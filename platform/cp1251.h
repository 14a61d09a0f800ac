// Windows-1251, the ANSI code page of a Russian Windows, against UTF-16 and
// UTF-8: how the 8-bit registry operations of the hive store meet the
// UTF-16LE that a hive holds.
#pragma once

#include <string>

namespace kestro {

// Every byte maps to one UTF-16 unit; the one byte the code page leaves
// undefined (0x98) maps to U+0098, as Windows does.
std::u16string Cp1251ToUtf16(const std::string& text);
// A character the code page lacks becomes '?', as WideCharToMultiByte's
// default character.
std::string Utf16ToCp1251(const std::u16string& text);

std::string Utf16ToUtf8(const std::u16string& text);
std::u16string Utf8ToUtf16(const std::string& text);  // invalid bytes become U+FFFD

// Little-endian bytes, no terminator added or removed.
std::string Utf16ToBytes(const std::u16string& text);
std::u16string BytesToUtf16(const std::string& bytes);  // an odd last byte is dropped

}  // namespace kestro
