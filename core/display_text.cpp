#include "core/display_text.h"

#include "core/text.h"

#include <cstdint>
#include <cstdio>

namespace kestro {

namespace {

void Escape(std::string& out, const char* format, unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, format, value);
    out += text;
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
        std::size_t length = 0;
        if (!DecodeUtf8At(text, at, &cp, &length)) {
            // One byte at a time, so that each is shown as it is.
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
