// The byte and text conversions every reader and writer relies on. The
// expected values are written out by hand (bytes, code units), not computed
// with the module under test.
#include "core/bytes.h"
#include "core/code_page.h"
#include "core/text.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace kestro {
namespace {

TEST(Utf8Test, ConvertsEveryLengthOfSequence) {
    EXPECT_EQ(u"A", Utf8ToUtf16("A"));
    EXPECT_EQ(u"Ж", Utf8ToUtf16("\xD0\x96"));
    EXPECT_EQ(u"€", Utf8ToUtf16("\xE2\x82\xAC"));
    EXPECT_EQ(u"\U0001F600", Utf8ToUtf16("\xF0\x9F\x98\x80"));  // a surrogate pair
    EXPECT_EQ(std::u16string(u"a\0b", 3), Utf8ToUtf16(std::string("a\0b", 3)));
}

TEST(Utf8Test, MalformedSequencesBecomeOneReplacementEach) {
    EXPECT_EQ(u"\uFFFD", Utf8ToUtf16("\x80"));              // a stray continuation byte
    EXPECT_EQ(u"\uFFFDx", Utf8ToUtf16("\xD0x"));            // cut short by an ASCII byte
    EXPECT_EQ(u"\uFFFD", Utf8ToUtf16("\xE2\x82"));          // cut short by the end
    EXPECT_EQ(u"\uFFFD", Utf8ToUtf16("\xC0\xAF"));          // overlong "/"
    EXPECT_EQ(u"\uFFFD", Utf8ToUtf16("\xED\xA0\x80"));      // an encoded surrogate
    EXPECT_EQ(u"\uFFFD", Utf8ToUtf16("\xF4\x90\x80\x80"));  // beyond U+10FFFF
    EXPECT_EQ(u"\uFFFD\uFFFD", Utf8ToUtf16("\xFF\xFE"));
}

TEST(Utf8Test, WideTextRoundTrips) {
    const std::wstring text = L"C:\\Картинки\\фон €.bmp \U0001F600";
    EXPECT_EQ(text, Utf8ToWide(WideToUtf8(text)));
    EXPECT_EQ("\xD0\x96", WideToUtf8(L"Ж"));
    if (sizeof(wchar_t) == 2) {
        const std::wstring lone(1, static_cast<wchar_t>(0xD800));
        EXPECT_EQ("\xEF\xBF\xBD", WideToUtf8(lone));
    }
}

// One decoder for three uses: the lenient one replaces each malformed
// sequence, the strict ones refuse exactly the same inputs.
TEST(Utf8Test, StrictAndLenientDecodingAgreeOnWhatIsMalformed) {
    struct Sample {
        std::string bytes;
        std::u16string lenient;
        bool valid;
    };
    const Sample samples[] = {
        {"", u"", true},
        {"plain", u"plain", true},
        {"\xD0\x9A\xD0\xBE", {0x041A, 0x043E}, true},
        {"\xE2\x82\xAC", {0x20AC}, true},
        {"\xEF\xBF\xBF", {0xFFFF}, true},
        {"\xF0\x9F\x98\x80", {0xD83D, 0xDE00}, true},
        {"\xF4\x8F\xBF\xBF", {0xDBFF, 0xDFFF}, true},  // U+10FFFF, the last one
        {std::string("a\0b", 3), {u'a', 0, u'b'}, true},
        {"\xC0\x80", {0xFFFD}, false},                // overlong zero
        {"\xE0\x80\x80", {0xFFFD}, false},            // overlong, three bytes
        {"\xF0\x8F\xBF\xBF", {0xFFFD}, false},        // overlong, four bytes
        {"\xED\xA0\x80", {0xFFFD}, false},            // an encoded high surrogate
        {"\xED\xBF\xBF", {0xFFFD}, false},            // an encoded low surrogate
        {"\xF4\x90\x80\x80", {0xFFFD}, false},        // past U+10FFFF
        {"\xF8\x88\x80\x80\x80", {0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}, false},  // no five-byte forms
        {"\xD0", {0xFFFD}, false},                    // cut short by the end
        {"\xF0\x9F\x98", {0xFFFD}, false},
        {"\xD0\x41", {0xFFFD, u'A'}, false},          // cut short by an ASCII byte
        {"\xE2\x82x\xAC", {0xFFFD, u'x', 0xFFFD}, false},
        {"\x80\xBF", {0xFFFD, 0xFFFD}, false},        // stray continuation bytes
        {"ok\xFF", {u'o', u'k', 0xFFFD}, false},
    };
    for (const Sample& s : samples) {
        SCOPED_TRACE(::testing::PrintToString(s.bytes));
        EXPECT_EQ(s.lenient, Utf8ToUtf16(s.bytes));
        EXPECT_EQ(s.valid, IsValidUtf8(s.bytes));
        if (s.valid) {
            EXPECT_EQ(s.lenient, StrictUtf8ToUtf16(s.bytes));
        } else {
            EXPECT_THROW(StrictUtf8ToUtf16(s.bytes), std::invalid_argument);
        }
    }
}

// A lone surrogate has no UTF-8 form: the lenient conversions write U+FFFD,
// the strict one refuses, and no conversion writes the surrogate's own
// three bytes (ED A0 80), which no UTF-8 reader takes.
TEST(Utf16Test, ALoneSurrogateBecomesTheReplacementCharacterOrIsRefused) {
    struct Sample {
        std::u16string units;
        std::string utf8;
    };
    const Sample lone[] = {
        {{u'a', 0xD800, u'b'}, "a\xEF\xBF\xBD" "b"},
        {{0xDC00}, "\xEF\xBF\xBD"},
        {{u'x', 0xDBFF}, "x\xEF\xBF\xBD"},
        {{0xDE00, 0xD83D}, "\xEF\xBF\xBD\xEF\xBF\xBD"},  // a pair the wrong way round
    };
    for (const Sample& s : lone) {
        SCOPED_TRACE(::testing::PrintToString(s.utf8));
        EXPECT_EQ(s.utf8, Utf16ToUtf8(s.units));
        EXPECT_EQ(s.utf8, WideToUtf8(std::wstring(s.units.begin(), s.units.end())));
        EXPECT_THROW(StrictUtf16ToUtf8(s.units), std::invalid_argument);
    }
    const std::u16string pair = {0xD83D, 0xDE00};
    EXPECT_EQ("\xF0\x9F\x98\x80", Utf16ToUtf8(pair));
    EXPECT_EQ("\xF0\x9F\x98\x80", StrictUtf16ToUtf8(pair));
    const std::u16string loneThenPair = {0xD83D, 0xD83D, 0xDE00};
    EXPECT_EQ("\xEF\xBF\xBD\xF0\x9F\x98\x80", Utf16ToUtf8(loneThenPair));
    EXPECT_THROW(StrictUtf16ToUtf8(loneThenPair), std::invalid_argument);
    std::string out;
    AppendUtf8(out, 0xDFFF);
    AppendUtf8(out, 0x110000);
    EXPECT_EQ("\xEF\xBF\xBD\xEF\xBF\xBD", out);
}

TEST(Utf16Test, LittleEndianBytesBothWays) {
    const std::vector<std::uint8_t> bytes = {0x41, 0x00, 0x16, 0x04, 0x3D, 0xD8, 0x00, 0xDE, 0x00, 0x00};
    const std::u16string units = {u'A', 0x0416, 0xD83D, 0xDE00, 0};
    EXPECT_EQ(units, Utf16FromLeBytes(bytes));
    EXPECT_EQ(bytes, Utf16LeBytes(units));
    std::vector<std::uint8_t> appended = {0xFF, 0xFE};
    AppendUtf16Le(appended, u"\u0416");
    EXPECT_EQ((std::vector<std::uint8_t>{0xFF, 0xFE, 0x16, 0x04}), appended);
    // An odd last byte is no character.
    EXPECT_EQ(u"A", Utf16FromLeBytes(std::vector<std::uint8_t>{0x41, 0x00, 0x42}));
    EXPECT_EQ(u"", Utf16FromLeBytes(std::vector<std::uint8_t>{0x41}));
    // As wchar_t: pairs become one character where wchar_t is wide enough,
    // and a lone surrogate is kept for the caller to judge.
    EXPECT_EQ(L"A\u0416\U0001F600", Utf16ToWide({u'A', 0x0416, 0xD83D, 0xDE00}));
    EXPECT_EQ(std::wstring(1, static_cast<wchar_t>(0xD800)), Utf16ToWide({0xD800}));
}

TEST(BytesTest, LittleEndianWhateverTheHost) {
    const std::uint8_t bytes[8] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0xF8};
    EXPECT_EQ(0x0201u, LoadLe16(bytes));
    EXPECT_EQ(0x04030201u, LoadLe32(bytes));
    EXPECT_EQ(0xF807060504030201ull, LoadLe64(bytes));
    EXPECT_EQ(0xF807u, LoadLe16(bytes + 6));  // the high bit of the top byte is no sign
    std::uint8_t out[8] = {};
    StoreLe16(out, 0xBEEF);
    EXPECT_EQ(0xEF, out[0]);
    EXPECT_EQ(0xBE, out[1]);
    StoreLe32(out, 0xFFFFFFFEu);
    EXPECT_EQ((std::vector<std::uint8_t>{0xFE, 0xFF, 0xFF, 0xFF}), std::vector<std::uint8_t>(out, out + 4));
    StoreLe64(out, 0x8877665544332211ull);
    EXPECT_EQ((std::vector<std::uint8_t>{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}),
              std::vector<std::uint8_t>(out, out + 8));
}

TEST(CodePageTest, EveryByteRoundTripsThroughUtf16InBothCodePages) {
    std::string all;
    for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
    for (CodePage cp : {CodePage::Windows1251, CodePage::Windows1252}) {
        bool lossy = true;
        EXPECT_EQ(all, Utf16ToAnsi(AnsiToUtf16(all, cp), cp, &lossy));
        EXPECT_FALSE(lossy);
    }
}

TEST(CodePageTest, LettersMapToTheirCodePagesAndOthersBecomeQuestionMarks) {
    EXPECT_EQ(u"Ёё€", AnsiToUtf16("\xA8\xB8\x88", CodePage::Windows1251));
    EXPECT_EQ(u"Éé€", AnsiToUtf16("\xC9\xE9\x80", CodePage::Windows1252));
    bool lossy = false;
    EXPECT_EQ("\xCA\xEE\xF0\xE7\xE8\xED\xE0", Utf16ToAnsi(u"Корзина", CodePage::Windows1251, &lossy));
    EXPECT_FALSE(lossy);
    EXPECT_EQ("???????", Utf16ToAnsi(u"Корзина", CodePage::Windows1252, &lossy));
    EXPECT_TRUE(lossy);
    EXPECT_EQ("a?b", Utf16ToAnsi(u"aéb", CodePage::Windows1251, &lossy));
    EXPECT_TRUE(lossy);
}

TEST(AsciiCaseTest, OnlyAsciiLettersFoldAndTheOrderIsThatOfLowerCase) {
    EXPECT_TRUE(SameAsciiNoCase("Software\\Policies", "SOFTWARE\\policies"));
    EXPECT_FALSE(SameAsciiNoCase("NoRun", "NoRun "));
    // Cyrillic (UTF-8 or code-page bytes) is compared as it is.
    EXPECT_FALSE(SameAsciiNoCase("\xd0\x9a\xd0\xbe", "\xd0\xba\xd0\xbe"));  // "Ко", "ко"
    EXPECT_FALSE(SameAsciiNoCase("\xca", "\xea"));                  // 1251 "К", "к"
    // '_' sorts between the upper-case and the lower-case letters: folding
    // to lower case puts it before every letter.
    EXPECT_LT(CompareAsciiNoCase("_x", "Ax"), 0);
    EXPECT_LT(CompareAsciiNoCase("_x", "ax"), 0);
    EXPECT_LT(CompareAsciiNoCase("a", "B"), 0);
    EXPECT_GT(CompareAsciiNoCase("b", "A"), 0);
    EXPECT_LT(CompareAsciiNoCase("ab", "ABC"), 0);
    EXPECT_EQ(0, CompareAsciiNoCase("MaxRecentDocs", "maxrecentdocs"));
    EXPECT_EQ("NOTEPAD_2\xd0\x9a", AsciiUpper("notepad_2\xd0\x9a"));
    EXPECT_EQ("on_2@[\xd0\x9a\xca", AsciiLower("ON_2@[\xd0\x9a\xca"));
    EXPECT_TRUE(SameAsciiNoCase(u"hkey_Current_USER", u"HKEY_CURRENT_USER"));
    EXPECT_FALSE(SameAsciiNoCase(u"\u041a", u"\u043a"));  // "К", "к"
    EXPECT_FALSE(SameAsciiNoCase(u"HKEY", u"HKEY_"));
}

}  // namespace
}  // namespace kestro

namespace kestro {
namespace {

TEST(NtfsNameTest, EveryAlphabetFoldsAsWindowsFoldsFileNames) {
    EXPECT_TRUE(SameNtfsName("Администратор", "АДМИНИСТРАТОР"));
    EXPECT_TRUE(SameNtfsName("ёлка", "ЁЛКА"));          // outside а-я: U+0451
    EXPECT_TRUE(SameNtfsName("ґава", "ҐАВА"));          // Ukrainian, Cyrillic Extended's pairs
    EXPECT_TRUE(SameNtfsName("Ελένη", "ΕΛΈΝΗ"));        // Greek with its accents
    EXPECT_TRUE(SameNtfsName("Łódź", "ŁÓDŹ"));
    EXPECT_TRUE(SameNtfsName("ÿ", "Ÿ"));                // the one Latin-1 letter whose capital is not
    EXPECT_TRUE(SameNtfsName("ｗｉｄｅ", "ＷＩＤＥ"));  // fullwidth
    EXPECT_TRUE(SameNtfsName("Documents and Settings", "DOCUMENTS AND SETTINGS"));
    // Dotless ı and long ſ do not meet ASCII I and S; ß has no one-unit
    // capital; different letters stay different.
    EXPECT_FALSE(SameNtfsName("ı", "I"));
    EXPECT_FALSE(SameNtfsName("ſ", "S"));
    EXPECT_FALSE(SameNtfsName("straße", "STRASSE"));
    EXPECT_FALSE(SameNtfsName("Администратор", "Администрат" "op"));  // Latin o and p at the end
    EXPECT_FALSE(SameNtfsName("ntuser.dat", "ntuser.dat "));
    // Between runs and past the table the unit stays itself.
    EXPECT_EQ(u'\u0430' - 32, NtfsUpcase(u'\u0430'));
    EXPECT_EQ(u'\u00F7', NtfsUpcase(u'\u00F7'));  // ÷ sits among the small letters
    EXPECT_EQ(char16_t{0xD83D}, NtfsUpcase(char16_t{0xD83D}));  // a surrogate
    EXPECT_EQ(u'\uFFFF', NtfsUpcase(u'\uFFFF'));
    EXPECT_EQ(u'\u0100', NtfsUpcase(u'\u0101'));
    EXPECT_EQ(u'\u0100', NtfsUpcase(u'\u0100'));  // a capital of an alternating run stays
}

}  // namespace
}  // namespace kestro
