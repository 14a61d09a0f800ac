#include "core/display_text.h"

#include <cstdint>
#include <cstdio>

namespace kestro {

namespace {

void Escape(std::string& out, const char* format, unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, format, value);
    out += text;
}

// The length of the well-formed UTF-8 sequence at `at` and its code point;
// 0 where the bytes there are no UTF-8 (overlong, surrogate, cut short).
std::size_t Decode(const std::string& s, std::size_t at, char32_t* cp) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = byte(at);
    std::size_t length;
    char32_t value, minimum;
    if (lead < 0x80) {
        *cp = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, value = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, value = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, value = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (at + length > s.size()) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        value = (value << 6) | (byte(at + i) & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    *cp = value;
    return length;
}

bool Acts(char32_t cp) {
    return cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp <= 0x9F) || (cp >= 0x202A && cp <= 0x202E) ||
           (cp >= 0x2066 && cp <= 0x2069);
}

enum class Style { Line, Field, Json };

std::string Shown(const std::string& text, Style style) {
    const bool keepLines = style != Style::Field;
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        char32_t cp = 0;
        const std::size_t length = Decode(text, at, &cp);
        if (length == 0) {
            if (style == Style::Json) out += "\\ufffd";
            else Escape(out, "\\x%02x", static_cast<unsigned char>(text[at]));
            ++at;
            continue;
        }
        if (!Acts(cp) || (keepLines && (cp == '\n' || cp == '\t'))) {
            out.append(text, at, length);
        } else if (cp == '\n') {
            out += "\\n";
        } else if (cp == '\t') {
            out += "\\t";
        } else if (cp < 0x80 && style != Style::Json) {
            Escape(out, "\\x%02x", static_cast<unsigned>(cp));
        } else {
            Escape(out, "\\u%04x", static_cast<unsigned>(cp));
        }
        at += length;
    }
    return out;
}

}  // namespace

std::string ShownText(const std::string& text) { return Shown(text, Style::Line); }
std::string ShownField(const std::string& text) { return Shown(text, Style::Field); }
std::string ShownJson(const std::string& json) { return Shown(json, Style::Json); }

}  // namespace kestro
