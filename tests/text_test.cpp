// The text conversions the engine and the in-memory registry rely on.
#include "platform/code_page.h"
#include "platform/text.h"

#include <gtest/gtest.h>

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
}

}  // namespace
}  // namespace kestro
