#include "core/text.h"

#include "core/bytes.h"

#include <algorithm>
#include <iterator>
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

bool IsSurrogate(char32_t cp) { return cp >= 0xD800 && cp <= 0xDFFF; }

}  // namespace

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

namespace {

constexpr char32_t kReplacement = 0xFFFD;

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

namespace {

// Runs of the BMP whose upper case is the unit plus `delta`: every unit from
// `first` to `last`, or every second one (`step` 2: the alternating capital
// and small letters of Latin Extended, Cyrillic's supplement, ...).
struct UpcaseRun {
    char16_t first, last;
    std::int32_t delta;
    std::uint8_t step;
};

// Made from Unicode 14's simple upper case by folding consecutive units
// with one delta into runs; sorted by `first`.
constexpr UpcaseRun kUpcaseRuns[] = {
    {0x00B5, 0x00B5, 743, 1}, {0x00E0, 0x00F6, -32, 1}, {0x00F8, 0x00FE, -32, 1}, {0x00FF, 0x00FF, 121, 1},
    {0x0101, 0x012F, -1, 2}, {0x0133, 0x0137, -1, 2}, {0x013A, 0x0148, -1, 2}, {0x014B, 0x0177, -1, 2},
    {0x017A, 0x017E, -1, 2}, {0x0180, 0x0180, 195, 1}, {0x0183, 0x0185, -1, 2}, {0x0188, 0x0188, -1, 1},
    {0x018C, 0x018C, -1, 1}, {0x0192, 0x0192, -1, 1}, {0x0195, 0x0195, 97, 1}, {0x0199, 0x0199, -1, 1},
    {0x019A, 0x019A, 163, 1}, {0x019E, 0x019E, 130, 1}, {0x01A1, 0x01A5, -1, 2}, {0x01A8, 0x01A8, -1, 1},
    {0x01AD, 0x01AD, -1, 1}, {0x01B0, 0x01B0, -1, 1}, {0x01B4, 0x01B6, -1, 2}, {0x01B9, 0x01B9, -1, 1},
    {0x01BD, 0x01BD, -1, 1}, {0x01BF, 0x01BF, 56, 1}, {0x01C5, 0x01C5, -1, 1}, {0x01C6, 0x01C6, -2, 1},
    {0x01C8, 0x01C8, -1, 1}, {0x01C9, 0x01C9, -2, 1}, {0x01CB, 0x01CB, -1, 1}, {0x01CC, 0x01CC, -2, 1},
    {0x01CE, 0x01DC, -1, 2}, {0x01DD, 0x01DD, -79, 1}, {0x01DF, 0x01EF, -1, 2}, {0x01F2, 0x01F2, -1, 1},
    {0x01F3, 0x01F3, -2, 1}, {0x01F5, 0x01F5, -1, 1}, {0x01F9, 0x021F, -1, 2}, {0x0223, 0x0233, -1, 2},
    {0x023C, 0x023C, -1, 1}, {0x023F, 0x0240, 10815, 1}, {0x0242, 0x0242, -1, 1}, {0x0247, 0x024F, -1, 2},
    {0x0250, 0x0250, 10783, 1}, {0x0251, 0x0251, 10780, 1}, {0x0252, 0x0252, 10782, 1}, {0x0253, 0x0253, -210, 1},
    {0x0254, 0x0254, -206, 1}, {0x0256, 0x0257, -205, 1}, {0x0259, 0x0259, -202, 1}, {0x025B, 0x025B, -203, 1},
    {0x025C, 0x025C, 42319, 1}, {0x0260, 0x0260, -205, 1}, {0x0261, 0x0261, 42315, 1}, {0x0263, 0x0263, -207, 1},
    {0x0265, 0x0265, 42280, 1}, {0x0266, 0x0266, 42308, 1}, {0x0268, 0x0268, -209, 1}, {0x0269, 0x0269, -211, 1},
    {0x026A, 0x026A, 42308, 1}, {0x026B, 0x026B, 10743, 1}, {0x026C, 0x026C, 42305, 1}, {0x026F, 0x026F, -211, 1},
    {0x0271, 0x0271, 10749, 1}, {0x0272, 0x0272, -213, 1}, {0x0275, 0x0275, -214, 1}, {0x027D, 0x027D, 10727, 1},
    {0x0280, 0x0280, -218, 1}, {0x0282, 0x0282, 42307, 1}, {0x0283, 0x0283, -218, 1}, {0x0287, 0x0287, 42282, 1},
    {0x0288, 0x0288, -218, 1}, {0x0289, 0x0289, -69, 1}, {0x028A, 0x028B, -217, 1}, {0x028C, 0x028C, -71, 1},
    {0x0292, 0x0292, -219, 1}, {0x029D, 0x029D, 42261, 1}, {0x029E, 0x029E, 42258, 1}, {0x0345, 0x0345, 84, 1},
    {0x0371, 0x0373, -1, 2}, {0x0377, 0x0377, -1, 1}, {0x037B, 0x037D, 130, 1}, {0x03AC, 0x03AC, -38, 1},
    {0x03AD, 0x03AF, -37, 1}, {0x03B1, 0x03C1, -32, 1}, {0x03C2, 0x03C2, -31, 1}, {0x03C3, 0x03CB, -32, 1},
    {0x03CC, 0x03CC, -64, 1}, {0x03CD, 0x03CE, -63, 1}, {0x03D0, 0x03D0, -62, 1}, {0x03D1, 0x03D1, -57, 1},
    {0x03D5, 0x03D5, -47, 1}, {0x03D6, 0x03D6, -54, 1}, {0x03D7, 0x03D7, -8, 1}, {0x03D9, 0x03EF, -1, 2},
    {0x03F0, 0x03F0, -86, 1}, {0x03F1, 0x03F1, -80, 1}, {0x03F2, 0x03F2, 7, 1}, {0x03F3, 0x03F3, -116, 1},
    {0x03F5, 0x03F5, -96, 1}, {0x03F8, 0x03F8, -1, 1}, {0x03FB, 0x03FB, -1, 1}, {0x0430, 0x044F, -32, 1},
    {0x0450, 0x045F, -80, 1}, {0x0461, 0x0481, -1, 2}, {0x048B, 0x04BF, -1, 2}, {0x04C2, 0x04CE, -1, 2},
    {0x04CF, 0x04CF, -15, 1}, {0x04D1, 0x052F, -1, 2}, {0x0561, 0x0586, -48, 1}, {0x1C80, 0x1C80, -6254, 1},
    {0x1C81, 0x1C81, -6253, 1}, {0x1C82, 0x1C82, -6244, 1}, {0x1C83, 0x1C84, -6242, 1}, {0x1C85, 0x1C85, -6243, 1},
    {0x1C86, 0x1C86, -6236, 1}, {0x1C87, 0x1C87, -6181, 1}, {0x1C88, 0x1C88, 35266, 1}, {0x1D79, 0x1D79, 35332, 1},
    {0x1D7D, 0x1D7D, 3814, 1}, {0x1D8E, 0x1D8E, 35384, 1}, {0x1E01, 0x1E95, -1, 2}, {0x1E9B, 0x1E9B, -59, 1},
    {0x1EA1, 0x1EFF, -1, 2}, {0x1F00, 0x1F07, 8, 1}, {0x1F10, 0x1F15, 8, 1}, {0x1F20, 0x1F27, 8, 1},
    {0x1F30, 0x1F37, 8, 1}, {0x1F40, 0x1F45, 8, 1}, {0x1F51, 0x1F57, 8, 2}, {0x1F60, 0x1F67, 8, 1},
    {0x1F70, 0x1F71, 74, 1}, {0x1F72, 0x1F75, 86, 1}, {0x1F76, 0x1F77, 100, 1}, {0x1F78, 0x1F79, 128, 1},
    {0x1F7A, 0x1F7B, 112, 1}, {0x1F7C, 0x1F7D, 126, 1}, {0x1FB0, 0x1FB1, 8, 1}, {0x1FBE, 0x1FBE, -7205, 1},
    {0x1FD0, 0x1FD1, 8, 1}, {0x1FE0, 0x1FE1, 8, 1}, {0x1FE5, 0x1FE5, 7, 1}, {0x214E, 0x214E, -28, 1},
    {0x2170, 0x217F, -16, 1}, {0x2184, 0x2184, -1, 1}, {0x24D0, 0x24E9, -26, 1}, {0x2C30, 0x2C5F, -48, 1},
    {0x2C61, 0x2C61, -1, 1}, {0x2C65, 0x2C65, -10795, 1}, {0x2C66, 0x2C66, -10792, 1}, {0x2C68, 0x2C6C, -1, 2},
    {0x2C73, 0x2C73, -1, 1}, {0x2C76, 0x2C76, -1, 1}, {0x2C81, 0x2CE3, -1, 2}, {0x2CEC, 0x2CEE, -1, 2},
    {0x2CF3, 0x2CF3, -1, 1}, {0x2D00, 0x2D25, -7264, 1}, {0x2D27, 0x2D27, -7264, 1}, {0x2D2D, 0x2D2D, -7264, 1},
    {0xA641, 0xA66D, -1, 2}, {0xA681, 0xA69B, -1, 2}, {0xA723, 0xA72F, -1, 2}, {0xA733, 0xA76F, -1, 2},
    {0xA77A, 0xA77C, -1, 2}, {0xA77F, 0xA787, -1, 2}, {0xA78C, 0xA78C, -1, 1}, {0xA791, 0xA793, -1, 2},
    {0xA794, 0xA794, 48, 1}, {0xA797, 0xA7A9, -1, 2}, {0xA7B5, 0xA7C3, -1, 2}, {0xA7C8, 0xA7CA, -1, 2},
    {0xA7D1, 0xA7D1, -1, 1}, {0xA7D7, 0xA7D9, -1, 2}, {0xA7F6, 0xA7F6, -1, 1}, {0xAB53, 0xAB53, -928, 1},
    {0xFF41, 0xFF5A, -32, 1},
};

}  // namespace

char16_t NtfsUpcase(char16_t unit) {
    if (unit < 0x80) return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - u'a' + u'A') : unit;
    // The last run that starts at or before the unit is the only one that
    // can hold it: runs never overlap.
    const UpcaseRun* end = std::end(kUpcaseRuns);
    const UpcaseRun* run = std::upper_bound(std::begin(kUpcaseRuns), end, unit,
                                            [](char16_t u, const UpcaseRun& r) { return u < r.first; });
    if (run == std::begin(kUpcaseRuns)) return unit;
    --run;
    if (unit > run->last || (unit - run->first) % run->step != 0) return unit;
    return static_cast<char16_t>(unit + run->delta);
}

std::u16string NtfsUpcase(const std::string& utf8) {
    std::u16string units = Utf8ToUtf16(utf8);
    for (char16_t& unit : units) unit = NtfsUpcase(unit);
    return units;
}

bool SameNtfsName(const std::string& a, const std::string& b) { return a == b || NtfsUpcase(a) == NtfsUpcase(b); }

}  // namespace kestro
