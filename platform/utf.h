// UTF-16 to UTF-8 (the names hivex speaks; the other way is in text.h), and
// UTF-16 against the little-endian bytes a hive holds.
#pragma once

#include "platform/text.h"  // Utf8ToUtf16, the engine's one: invalid bytes become U+FFFD

#include <string>

namespace kestro {

std::string Utf16ToUtf8(const std::u16string& text);

// Little-endian bytes, no terminator added or removed.
std::string Utf16ToBytes(const std::u16string& text);
std::u16string BytesToUtf16(const std::string& bytes);  // an odd last byte is dropped

}  // namespace kestro
