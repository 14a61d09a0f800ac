#include "ctl/utf8.h"

#include <cstdint>

namespace kestro {

namespace {

// The next code point at `i`, or -1 for a byte that starts no valid
// sequence (overlong forms and surrogates included); advances `i`.
long Decode(const std::string& s, std::size_t& i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    std::size_t length = 0;
    long cp = 0, min = 0;
    if ((lead & 0xE0) == 0xC0) length = 2, cp = lead & 0x1F, min = 0x80;
    else if ((lead & 0xF0) == 0xE0) length = 3, cp = lead & 0x0F, min = 0x800;
    else if ((lead & 0xF8) == 0xF0) length = 4, cp = lead & 0x07, min = 0x10000;
    else {
        ++i;
        return -1;
    }
    if (i + length > s.size()) {
        ++i;
        return -1;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            ++i;
            return -1;
        }
        cp = cp << 6 | (byte(i + k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return -1;
    }
    i += length;
    return cp;
}

}  // namespace

bool IsValidUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();)
        if (Decode(text, i) < 0) return false;
    return true;
}

}  // namespace kestro
