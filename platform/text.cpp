#include "platform/text.h"

#include "platform/bytes.h"

#include <stdexcept>
#include <type_traits>

#ifdef _WIN32
#include <windows.h>
#endif

namespace kestro {

#ifdef _WIN32

std::wstring FromAnsi(const std::string& text) {
    if (text.empty()) return std::wstring();
    int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0], length);
    return out;
}

std::string ToAnsi(const std::wstring& text) {
    if (text.empty()) return std::string();
    int length = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0], length, nullptr, nullptr);
    return out;
}

bool FitsAnsiCodePage(const std::wstring& text) {
    if (text.empty()) return true;
    BOOL usedDefault = FALSE;
    const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, &usedDefault);
    return length > 0 && !usedDefault;
}

#else

std::wstring FromAnsi(const std::string& text) {
    std::wstring out;
    for (unsigned char c : text) out += static_cast<wchar_t>(c);
    return out;
}

std::string ToAnsi(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += c < 256 ? static_cast<char>(c) : '?';
    return out;
}

bool FitsAnsiCodePage(const std::wstring& text) {
    for (wchar_t c : text)
        if (c >= 256) return false;
    return true;
}

#endif

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsSurrogate(char32_t cp) { return cp >= 0xD800 && cp <= 0xDFFF; }

// One code point of UTF-8 at text[i]. True when it is well formed, with *cp;
// *length is how many bytes it took, or for a malformed sequence how many
// belong to it (its lead byte and the continuation bytes that follow, up to
// as many as the lead announced), never 0: that is what one U+FFFD replaces.
bool DecodeUtf8At(const std::string& text, std::size_t i, char32_t* cp, std::size_t* length) {
    const std::size_t n = text.size();
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    *length = 1;
    std::size_t extra = 0;
    char32_t value = 0, min = 0;
    if (lead < 0x80) {
        *cp = lead;
        return true;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1, value = lead & 0x1F, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, value = lead & 0x0F, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, value = lead & 0x07, min = 0x10000;
    } else {
        return false;
    }
    std::size_t j = i + 1;
    for (; j < n && j <= i + extra; ++j) {
        const unsigned char c = static_cast<unsigned char>(text[j]);
        if ((c & 0xC0) != 0x80) break;
        value = (value << 6) | (c & 0x3F);
    }
    *length = j - i;
    // Cut short, overlong, past Unicode or a surrogate: not text.
    if (j != i + 1 + extra || value < min || value > 0x10FFFF || IsSurrogate(value)) return false;
    *cp = value;
    return true;
}

// Code points of UTF-8 text, one by one; a malformed sequence becomes U+FFFD.
template <typename Emit>
void DecodeUtf8(const std::string& text, Emit emit) {
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        std::size_t length = 0;
        emit(DecodeUtf8At(text, i, &cp, &length) ? cp : kReplacement);
        i += length;
    }
}

// Code points of well-formed UTF-8 text, one by one; false at the first
// malformed sequence.
template <typename Emit>
bool DecodeUtf8Strictly(const std::string& text, Emit emit) {
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        std::size_t length = 0;
        if (!DecodeUtf8At(text, i, &cp, &length)) return false;
        emit(cp);
        i += length;
    }
    return true;
}

// Code points of UTF-16 text; a surrogate pair is joined, a lone surrogate is
// handed on as it is, for the caller's rule. Units wider than 16 bits (wchar_t
// off Windows) are code points already.
template <typename Units, typename Emit>
void DecodeUtf16(const Units& text, Emit emit) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = static_cast<char32_t>(text[i]);
        if (sizeof(text[i]) == 2 && cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() &&
            text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
            cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<char32_t>(text[++i]) - 0xDC00);
        emit(cp);
    }
}

template <typename String>
void AppendUtf16(String& out, char32_t cp) {
    using Unit = typename String::value_type;
    if (cp < 0x10000) {
        out += static_cast<Unit>(cp);
    } else {
        cp -= 0x10000;
        out += static_cast<Unit>(0xD800 + (cp >> 10));
        out += static_cast<Unit>(0xDC00 + (cp & 0x3FF));
    }
}

// One code point onto UTF-16 text, or onto wchar_t text that is UTF-32.
template <typename String>
void AppendCodePoint(String& out, char32_t cp) {
    if (sizeof(typename String::value_type) == 2) AppendUtf16(out, cp);
    else out += static_cast<typename String::value_type>(cp);
}

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
    if (IsSurrogate(cp) || cp > 0x10FFFF) cp = kReplacement;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

namespace {

// The lenient conversions, for either kind of UTF-16 string.
template <typename String>
String FromUtf8(const std::string& text) {
    String out;
    DecodeUtf8(text, [&](char32_t cp) { AppendCodePoint(out, cp); });
    return out;
}

template <typename String>
std::string ToUtf8(const String& text) {
    std::string out;
    DecodeUtf16(text, [&](char32_t cp) { AppendUtf8(out, cp); });
    return out;
}

}  // namespace

std::u16string Utf8ToUtf16(const std::string& text) { return FromUtf8<std::u16string>(text); }
std::wstring Utf8ToWide(const std::string& text) { return FromUtf8<std::wstring>(text); }
std::string Utf16ToUtf8(const std::u16string& text) { return ToUtf8(text); }
std::string WideToUtf8(const std::wstring& text) { return ToUtf8(text); }

bool IsValidUtf8(const std::string& text) {
    return DecodeUtf8Strictly(text, [](char32_t) {});
}

std::u16string StrictUtf8ToUtf16(const std::string& text) {
    std::u16string out;
    if (!DecodeUtf8Strictly(text, [&](char32_t cp) { AppendUtf16(out, cp); })) throw std::invalid_argument("not UTF-8");
    return out;
}

std::string StrictUtf16ToUtf8(const std::u16string& text) {
    std::string out;
    DecodeUtf16(text, [&](char32_t cp) {
        if (IsSurrogate(cp)) throw std::invalid_argument("unpaired surrogate");
        AppendUtf8(out, cp);
    });
    return out;
}

std::wstring Utf16ToWide(const std::u16string& text) {
    std::wstring out;
    DecodeUtf16(text, [&](char32_t cp) {
        if (IsSurrogate(cp)) out += static_cast<wchar_t>(cp);
        else AppendCodePoint(out, cp);
    });
    return out;
}

std::u16string Utf16FromLeBytes(const std::uint8_t* bytes, std::size_t size) {
    std::u16string text(size / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(LoadLe16(bytes + 2 * i));
    return text;
}

std::u16string Utf16FromLeBytes(const std::vector<std::uint8_t>& bytes) {
    return Utf16FromLeBytes(bytes.data(), bytes.size());
}

void AppendUtf16Le(std::vector<std::uint8_t>& out, const std::u16string& text) {
    std::size_t at = out.size();
    out.resize(at + 2 * text.size());
    for (char16_t c : text) {
        StoreLe16(&out[at], c);
        at += 2;
    }
}

std::vector<std::uint8_t> Utf16LeBytes(const std::u16string& text) {
    std::vector<std::uint8_t> out;
    AppendUtf16Le(out, text);
    return out;
}

namespace {

template <typename Char>
Char FoldLower(Char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<Char>(c - 'A' + 'a') : c;
}

template <typename String>
int CompareNoCase(const String& a, const String& b) {
    using Unsigned = typename std::make_unsigned<typename String::value_type>::type;
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        const Unsigned x = static_cast<Unsigned>(FoldLower(a[i]));
        const Unsigned y = static_cast<Unsigned>(FoldLower(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace

int CompareAsciiNoCase(const std::string& a, const std::string& b) { return CompareNoCase(a, b); }

bool SameAsciiNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && CompareNoCase(a, b) == 0;
}

bool SameAsciiNoCase(const std::u16string& a, const std::u16string& b) {
    return a.size() == b.size() && CompareNoCase(a, b) == 0;
}

std::string AsciiUpper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::string AsciiLower(std::string text) {
    for (char& c : text) c = FoldLower(c);
    return text;
}

}  // namespace kestro
