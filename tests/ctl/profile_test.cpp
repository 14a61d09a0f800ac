// The profile file and the value texts: what a hand-edited file may hold,
// and the message and line of everything it must not.
#include "ctl/profile.h"
#include "core/text.h"

#include <gtest/gtest.h>

#include <cctype>

namespace kestro::test {
namespace {

struct Read {
    bool ok;
    Profile profile;
    ProfileError error;
};

Read Parse(const std::string& text) {
    Read r;
    r.ok = ReadProfile(text, &r.profile, &r.error);
    return r;
}

TEST(ProfileReader, TakesWhatNotepadAndPeopleWrite) {
    const Read r = Parse(
        "\xEF\xBB\xBF; a comment\r\n"
        "  # another\r\n"
        "\r\n"
        "[kestro]\r\n"
        "  norun=ON  \r\n"
        "MaxRecentDocs = -1\r\n"
        "RecycleBinName = \"  two spaces each side  \"\r\n"
        "RecycleBinInfoTip = a=b; c\r\n"
        "usbstorageoff = off");  // no line end at the end
    ASSERT_TRUE(r.ok) << r.error.line << ": " << r.error.message;
    ASSERT_EQ(5u, r.profile.entries.size());
    const auto& e = r.profile.entries;
    EXPECT_STREQ("NoRun", e[0].row->name);
    EXPECT_EQ(5, e[0].line);
    EXPECT_EQ(SettingValue::Toggle(true), e[0].value);
    EXPECT_EQ(SettingValue::Number(-1), e[1].value);
    EXPECT_EQ(SettingValue::Text(L"  two spaces each side  "), e[2].value);
    // Only lines that start with ; or # are comments: a text may hold both.
    EXPECT_EQ(SettingValue::Text(L"a=b; c"), e[3].value);
    EXPECT_STREQ("UsbStorageOff", e[4].row->name);
    EXPECT_EQ(SettingValue::Toggle(false), e[4].value);
}

TEST(ProfileReader, EmptyTextsAndAnEmptySection) {
    Read r = Parse("[Kestro]\nRecycleBinName =\nRecycleBinInfoTip = \"\"\n");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(SettingValue::Text(L""), r.profile.entries[0].value);
    EXPECT_EQ(SettingValue::Text(L""), r.profile.entries[1].value);
    r = Parse("[Kestro]\n");
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.profile.entries.empty());
}

TEST(ProfileReader, NamesTheLineOfEachFault) {
    struct Case {
        const char* text;
        int line;
        const char* words;
    };
    const Case cases[] = {
        {"[Kestro]\nNoRun = on\nNoSuchThing = on\n", 3, "unknown setting 'NoSuchThing'"},
        {"[Kestro]\nNoRun = yes\n", 2, "give on or off"},
        {"[Kestro]\nNoRun = \n", 2, "give on or off"},
        {"[Kestro]\nMaxRecentDocs = 2147483648\n", 2, "whole number"},
        {"[Kestro]\nMaxRecentDocs = 12abc\n", 2, "whole number"},
        {"[Kestro]\nMaxRecentDocs = -\n", 2, "whole number"},
        {"NoRun = on\n[Kestro]\n", 1, "before the [Kestro] section"},
        {"[Kestro]\n[Other]\n", 2, "unknown section [Other]"},
        {"[Kestro]\n[Kestro]\n", 2, "a second [Kestro]"},
        {"[Kestro\n", 1, "must end with ]"},
        {"[Kestro]\nNoRun on\n", 2, "expected Name = value"},
        {"[Kestro]\n= on\n", 2, "without a name"},
        {"[Kestro]\nNoRun = on\r\nnorun = off\n", 3, "given already on line 2"},
        {"[Kestro]\nSearchHistory = on\n", 2, "is an action"},
        {"[Kestro]\nRecycleBinName = \xC0\xAF\n", 2, "not UTF-8"},
        {"; only a comment\n", 0, "no [Kestro] section"},
        {"", 0, "no [Kestro] section"},
        {"\xFF\xFE[\0K\0", 0, "zero bytes"},
    };
    for (const Case& c : cases) {
        const std::string text(c.text, c.text + (c.text[0] == '\xFF' ? 6 : std::char_traits<char>::length(c.text)));
        const Read r = Parse(text);
        EXPECT_FALSE(r.ok) << c.text;
        EXPECT_EQ(c.line, r.error.line) << c.text;
        EXPECT_NE(std::string::npos, r.error.message.find(c.words)) << c.text << " gave: " << r.error.message;
    }
}

TEST(ProfileReader, LimitsOnTheFileItsLinesAndItsTexts) {
    // Cyrillic takes two bytes a character: the longest text fits a line.
    std::string cyrillic;
    for (std::size_t i = 0; i < kMaxProfileTextChars; ++i) cyrillic += "\xD0\x96";
    Read r = Parse("[Kestro]\nWallpaper = \"" + cyrillic + "\"\n");
    ASSERT_TRUE(r.ok) << r.error.line << ": " << r.error.message;
    EXPECT_EQ(kMaxProfileTextChars, r.profile.entries[0].value.text.size());

    r = Parse("[Kestro]\nWallpaper = \"" + cyrillic + "\xD0\x96\"\n");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(2, r.error.line);
    EXPECT_NE(std::string::npos, r.error.message.find("longer than 4096 characters")) << r.error.message;

    r = Parse("[Kestro]\n" + std::string(kMaxProfileLineBytes + 1, ';') + "\n");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(2, r.error.line);

    std::string big = "[Kestro]\n" + std::string(kMaxProfileBytes, '\n');
    r = Parse(big);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(0, r.error.line);
    EXPECT_NE(std::string::npos, r.error.message.find("larger than 65536 bytes")) << r.error.message;
    big.resize(kMaxProfileBytes);
    EXPECT_TRUE(Parse(big).ok);
}

TEST(ProfileReader, ReadsBackWhatItWrote) {
    Profile written;
    written.entries = {
        {FindSettingByName("NoRun"), SettingValue::Toggle(true), 0},
        {FindSettingByName("CdAutorunOff"), SettingValue::Toggle(false), 0},
        {FindSettingByName("MaxRecentDocs"), SettingValue::Number(-2147483647 - 1), 0},
        {FindSettingByName("RecycleBinName"), SettingValue::Text(L" Корзина \"x\" "), 0},
        {FindSettingByName("Wallpaper"), SettingValue::Text(L""), 0},
    };
    const std::string text = WriteProfile(written, {"Wallpaper is not set"});
    EXPECT_NE(std::string::npos, text.find("\r\n; Wallpaper is not set\r\n"));
    const Read r = Parse(text);
    ASSERT_TRUE(r.ok) << r.error.message;
    ASSERT_EQ(written.entries.size(), r.profile.entries.size());
    for (std::size_t i = 0; i < written.entries.size(); ++i) {
        EXPECT_EQ(written.entries[i].row, r.profile.entries[i].row);
        EXPECT_EQ(written.entries[i].value, r.profile.entries[i].value) << written.entries[i].row->name;
    }
}

TEST(SettingNames, EachNamesItsOwnRowInAnyCase) {
    for (const Setting& row : kCatalogue) {
        ASSERT_NE(nullptr, row.name) << row.control;
        std::string lower = row.name, upper = row.name;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_EQ(&row, FindSettingByName(lower)) << row.name;
        EXPECT_EQ(&row, FindSettingByName(upper)) << row.name;
    }
    EXPECT_EQ(nullptr, FindSettingByName("NoRu"));
    EXPECT_EQ(nullptr, FindSettingByName("NoRunX"));
}

TEST(Utf8, RefusesMalformedBytes) {
    EXPECT_TRUE(IsValidUtf8("plain \xD0\x9A \xF0\x9F\x98\x80"));
    EXPECT_FALSE(IsValidUtf8("\xC0\x80"));          // overlong zero
    EXPECT_FALSE(IsValidUtf8("\xE0\x80\x80"));      // overlong, three bytes
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // a surrogate
    EXPECT_FALSE(IsValidUtf8("\xD0"));              // cut short
    EXPECT_FALSE(IsValidUtf8("\xD0\x41"));          // not a continuation byte
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // past U+10FFFF
    EXPECT_FALSE(IsValidUtf8("\xFF"));
}

}  // namespace
}  // namespace kestro::test
