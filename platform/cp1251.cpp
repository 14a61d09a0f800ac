#include "platform/cp1251.h"

#include <iconv.h>

#include <array>
#include <map>

namespace kestro {

namespace {

// The upper half of the code page, built once from the C library's own
// table rather than typed in by hand.
struct Tables {
    std::array<char16_t, 256> toUnicode{};
    std::map<char16_t, char> fromUnicode;

    Tables() {
        iconv_t cd = iconv_open("UTF-16LE", "CP1251");
        for (int b = 0; b < 256; ++b) {
            char16_t unit = static_cast<char16_t>(b);
            if (b >= 0x80 && cd != reinterpret_cast<iconv_t>(-1)) {
                char in[1] = {static_cast<char>(b)};
                unsigned char out[4] = {};
                char* ip = in;
                char* op = reinterpret_cast<char*>(out);
                std::size_t il = 1, ol = sizeof out;
                if (iconv(cd, &ip, &il, &op, &ol) != static_cast<std::size_t>(-1) && ol == 2)
                    unit = static_cast<char16_t>(out[0] | out[1] << 8);
                else
                    iconv(cd, nullptr, nullptr, nullptr, nullptr);
            }
            toUnicode[static_cast<std::size_t>(b)] = unit;
            fromUnicode.emplace(unit, static_cast<char>(b));
        }
        if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
    }
};

const Tables& Table() {
    static const Tables tables;
    return tables;
}

}  // namespace

std::u16string Cp1251ToUtf16(const std::string& text) {
    const Tables& t = Table();
    std::u16string out;
    out.reserve(text.size());
    for (unsigned char c : text) out.push_back(t.toUnicode[c]);
    return out;
}

std::string Utf16ToCp1251(const std::u16string& text) {
    const Tables& t = Table();
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char16_t u = text[i];
        auto it = t.fromUnicode.find(u);
        out.push_back(it == t.fromUnicode.end() ? '?' : it->second);
        // A surrogate pair is one character: one '?'.
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) ++i;
    }
    return out;
}

std::string Utf16ToUtf8(const std::u16string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | c >> 6));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | c >> 12));
            out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | c >> 18));
            out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::u16string Utf8ToUtf16(const std::string& text) {
    std::u16string out;
    std::size_t i = 0;
    while (i < text.size()) {
        auto b = static_cast<unsigned char>(text[i]);
        int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
        char32_t c = extra == 0 ? b : extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
        bool ok = extra >= 0;
        for (int k = 1; ok && k <= extra; ++k) {
            if (i + static_cast<std::size_t>(k) >= text.size()) {
                ok = false;
                break;
            }
            auto n = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            if ((n & 0xC0) != 0x80) ok = false;
            c = c << 6 | (n & 0x3F);
        }
        if (!ok) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        i += static_cast<std::size_t>(extra) + 1;
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

std::string Utf16ToBytes(const std::u16string& text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (char16_t u : text) {
        out.push_back(static_cast<char>(u & 0xFF));
        out.push_back(static_cast<char>(u >> 8));
    }
    return out;
}

std::u16string BytesToUtf16(const std::string& bytes) {
    std::u16string out;
    out.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        out.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                            static_cast<unsigned char>(bytes[i + 1]) << 8));
    return out;
}

}  // namespace kestro
