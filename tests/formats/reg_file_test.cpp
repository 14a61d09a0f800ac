#include "formats/reg_file.h"

#include "formats/layout.h"
#include "tests/formats/format_test_values.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace kestro {
namespace {

using testing::Dword;
using testing::SampleValues;
using testing::Text;

std::vector<std::uint8_t> Utf16File(const std::u16string& text, bool bom = true) {
    std::vector<std::uint8_t> out;
    if (bom) out = {0xFF, 0xFE};
    for (char16_t c : text) {
        out.push_back(static_cast<std::uint8_t>(c & 0xFF));
        out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return out;
}

std::u16string Decoded(const std::vector<std::uint8_t>& bytes) {
    std::u16string out;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
        out += static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
    return out;
}

const std::u16string kHead = u"Windows Registry Editor Version 5.00\r\n";

// The error a file gives, or "" when it reads.
std::string ReadError(const std::u16string& body, FormatError::Place* place = nullptr, std::size_t* at = nullptr) {
    try {
        ReadRegFile(Utf16File(kHead + body));
    } catch (const FormatError& e) {
        if (place) *place = e.place();
        if (at) *at = e.position();
        return e.what();
    }
    return "";
}

TEST(RegFileWrite, LaysOutWhatRegeditReads) {
    std::vector<std::uint8_t> bytes = WriteRegFile({
        Dword(kHkeyCurrentUser, "Software\\Policies\\Explorer", "NoRun", 1),
        Dword(kHkeyCurrentUser, "Software\\Policies\\Explorer", "MaxRecentDocs", 0xFFFFFFFEu),
        Text(kHkeyClassesRoot, "CLSID\\{645FF040-5081-101B-9F08-00AA002F954E}", "InfoTip", u"a \"b\" C:\\d"),
    });
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xFE);
    EXPECT_EQ(Decoded(bytes),
              u"Windows Registry Editor Version 5.00\r\n"
              u"\r\n"
              u"[HKEY_CURRENT_USER\\Software\\Policies\\Explorer]\r\n"
              u"\"MaxRecentDocs\"=dword:fffffffe\r\n"
              u"\"NoRun\"=dword:00000001\r\n"
              u"\r\n"
              u"[HKEY_CLASSES_ROOT\\CLSID\\{645FF040-5081-101B-9F08-00AA002F954E}]\r\n"
              u"\"InfoTip\"=\"a \\\"b\\\" C:\\\\d\"\r\n"
              u"\r\n");
}

TEST(RegFileWrite, CyrillicTextIsUtf16Le) {
    std::vector<std::uint8_t> bytes =
        WriteRegFile({Text(kHkeyCurrentUser, "Control Panel\\Desktop", "Wallpaper", u"Ж")});
    // U+0416 little-endian, between the quotes.
    const std::uint8_t expected[] = {'"', 0, 0x16, 0x04, '"', 0, '\r', 0, '\n', 0};
    EXPECT_NE(std::search(bytes.begin(), bytes.end(), std::begin(expected), std::end(expected)), bytes.end());
}

TEST(RegFileWrite, OrderDoesNotDependOnInput) {
    std::vector<RegValue> values = SampleValues();
    std::vector<std::uint8_t> forward = WriteRegFile(values);
    std::reverse(values.begin(), values.end());
    EXPECT_EQ(WriteRegFile(values), forward);
}

TEST(RegFileWrite, RefusesWhatCannotBeReadBack) {
    const char* key = "Control Panel\\Desktop";
    std::vector<RegValue> refused = {
        RegValue{kHkeyCurrentUser, key, "Bin", kRegBinary, {1, 2, 3}},
        RegValue{kHkeyCurrentUser, key, "Short", kRegDword, {1, 0}},
        RegValue{kHkeyCurrentUser, key, "Unterminated", kRegSz, {'a', 0}},
        Text(kHkeyCurrentUser, key, "Lines", u"one\r\ntwo"),
        Text(kHkeyCurrentUser, key, "Long", std::u16string(layout::kMaxTextChars + 1, u'x')),
        Dword(kHkeyCurrentUser, "a\\\\b", "EmptyLevel", 1),
        Dword(kHkeyCurrentUser, "\\a", "LeadingSlash", 1),
        Dword(kHkeyCurrentUser, std::string(256, 'k').c_str(), "LongPath", 1),
        Dword(0x80000003u, key, "Users", 1),
        Dword(kHkeyCurrentUser, key, "\xC3(", 1),
    };
    for (const RegValue& value : refused) {
        EXPECT_THROW(WriteRegFile({value}), FormatError) << value.name;
    }
    // At the limits themselves it writes.
    EXPECT_NO_THROW(WriteRegFile({Text(kHkeyCurrentUser, std::string(255, 'k').c_str(), "Long",
                                       std::u16string(layout::kMaxTextChars, u'\\'))}));
}

TEST(RegFileRoundTrip, ReadsBackExactlyWhatWasWritten) {
    std::vector<RegValue> values = SampleValues();
    EXPECT_EQ(ReadRegFile(WriteRegFile(values)), SortedForExport(values));
    // The default value, written as @.
    std::vector<RegValue> unnamed = {Text(kHkeyLocalMachine, "Software\\Kestro", "", u"x")};
    EXPECT_EQ(ReadRegFile(WriteRegFile(unnamed)), unnamed);
    EXPECT_EQ(ReadRegFile(WriteRegFile({})), std::vector<RegValue>{});
}

TEST(RegFileRead, AcceptsWhatRegImportAccepts) {
    std::vector<std::size_t> lines;
    std::vector<RegValue> values = ReadRegFile(Utf16File(
        u"Windows Registry Editor Version 5.00\n"
        u"; a comment\n"
        u"   \n"
        u"[hkey_local_machine\\SYSTEM\\x]\r\n"
        u"\"start\"=dword:4\n"
        u"\"Text\"=\"\"\r\n"
        u"\n"
        u"@=dword:FFFFFFFF\n"), &lines);
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(lines, (std::vector<std::size_t>{5, 6, 8}));
    EXPECT_EQ(values[0], Dword(kHkeyLocalMachine, "SYSTEM\\x", "start", 4));
    EXPECT_EQ(values[1], Text(kHkeyLocalMachine, "SYSTEM\\x", "Text", u""));
    EXPECT_EQ(values[2], Dword(kHkeyLocalMachine, "SYSTEM\\x", "", 0xFFFFFFFFu));
}

TEST(RegFileRead, MalformedFilesNameTheLine) {
    struct Case {
        std::u16string body;
        std::size_t line;
        const char* mentions;
    };
    const std::u16string k = u"[HKEY_CURRENT_USER\\Software\\K]\r\n";
    const Case cases[] = {
        {u"\"NoRun\"=dword:1\r\n", 2, "before any [key]"},
        {u"\r\n[HKEY_USERS\\x]\r\n", 3, "unknown root"},
        {u"[HKEY_CURRENT_USER]\r\n", 2, "root key alone"},
        {u"[HKEY_CURRENT_USER\\a\\\\b]\r\n", 2, "empty key name"},
        {u"[HKEY_CURRENT_USER\\a\r\n", 2, "end with ]"},
        {u"[-HKEY_CURRENT_USER\\a]\r\n", 2, "deleting keys"},
        {k + u"\"v\"=-\r\n", 3, "deleting values"},
        {k + u"\"v\"=hex:01,02\r\n", 3, "hex"},
        {k + u"\"v\"=hex(2):41,00\r\n", 3, "hex"},
        {k + u"\"v\"=dword:123456789\r\n", 3, "at most 8"},
        {k + u"\"v\"=dword:12g4\r\n", 3, "hexadecimal digits only"},
        {k + u"\"v\"=dword:\r\n", 3, "needs hexadecimal"},
        {k + u"\"v\"=\"open\r\n", 3, "no closing quotation"},
        {k + u"\"v=\"x\"\r\n", 3, "= after the value name"},
        {k + u"\"v\"=\"a\\nb\"\r\n", 3, "backslash must be followed"},
        {k + u"\"v\"=\"a\" \r\n", 3, "after the value"},
        {k + u"\"v\" = dword:1\r\n", 3, "= after the value name"},
        {k + u"\"v\"=\"a\tb\"\r\n", 3, "control character"},
        {k + u"\"v\"=1\r\n", 3, "quoted text or dword"},
        {k + u"NoRun=dword:1\r\n", 3, "expected a [key] line"},
        {k + u"\"v\"=dword:1\rx\n", 3, "carriage return without"},
        {k + u"\"v\"=dword:1\r", 3, "carriage return without"},
        {k + u"\"v\"=dword:1", 3, "cut short"},
        {k + u"\"v\"=\"a" + std::u16string(1, u'\0') + u"\"\r\n", 3, "zero character"},
        {k + u"\"" + std::u16string(layout::kMaxValueNameChars + 1, u'n') + u"\"=dword:1\r\n", 3, "longer than"},
        {k + u"\"v\"=\"" + std::u16string(layout::kMaxTextChars + 1, u't') + u"\"\r\n", 3, "longer than"},
        {k + u"\"v\"=\"" + std::u16string(layout::kRegMaxLineChars, u't') + u"\"\r\n", 3, "line is longer"},
        {u"[HKEY_CURRENT_USER\\" + std::u16string(256, u'k') + u"]\r\n", 2, "longer than 255"},
    };
    for (const Case& c : cases) {
        FormatError::Place place = FormatError::Place::None;
        std::size_t at = 0;
        std::string error = ReadError(c.body, &place, &at);
        EXPECT_EQ(place, FormatError::Place::Line) << error;
        EXPECT_EQ(at, c.line) << error;
        EXPECT_NE(error.find(c.mentions), std::string::npos) << error;
        EXPECT_EQ(error.rfind("line " + std::to_string(c.line) + ": ", 0), 0u) << error;
    }
}

TEST(RegFileRead, KeyDepthIsBounded) {
    std::u16string deep = u"[HKEY_CURRENT_USER";
    for (std::size_t i = 0; i < layout::kMaxKeyDepth; ++i) deep += u"\\k";
    EXPECT_EQ(ReadError(deep + u"]\r\n"), "");
    EXPECT_NE(ReadError(deep + u"\\k]\r\n").find("deeper than"), std::string::npos);
}

TEST(RegFileRead, MalformedHeaderAndEncoding) {
    auto error = [](const std::vector<std::uint8_t>& bytes) -> std::string {
        try {
            ReadRegFile(bytes);
        } catch (const FormatError& e) {
            return e.what();
        }
        return "";
    };
    // Without the byte-order mark, as an 8-bit file, and REGEDIT4.
    EXPECT_EQ(error(Utf16File(kHead, false)).rfind("line 1: not a UTF-16LE", 0), 0u);
    std::string ansi = "Windows Registry Editor Version 5.00\r\n";
    EXPECT_EQ(error({ansi.begin(), ansi.end()}).rfind("line 1: not a UTF-16LE", 0), 0u);
    EXPECT_EQ(error(Utf16File(u"REGEDIT4\r\n")).rfind("line 1: the first line", 0), 0u);
    EXPECT_EQ(error(Utf16File(u"Windows Registry Editor Version 5.0\r\n")).rfind("line 1:", 0), 0u);
    EXPECT_EQ(error(Utf16File(u"")).rfind("line 1:", 0), 0u);
    EXPECT_EQ(error({}).rfind("line 1:", 0), 0u);
    // Cut inside a character: an odd byte count, named by its offset.
    std::vector<std::uint8_t> odd = WriteRegFile(SampleValues());
    odd.pop_back();
    EXPECT_EQ(error(odd), "offset " + std::to_string(odd.size() - 1) + ": the file ends inside a UTF-16 character");
    // Larger than the limit: refused before anything is parsed.
    std::vector<std::uint8_t> huge = Utf16File(kHead);
    huge.resize(layout::kMaxFileBytes + 2, 0x20);
    EXPECT_NE(error(huge).find("larger than"), std::string::npos);
}

TEST(RegFileRead, EveryCutOfAFileReadsAsAPrefixOrFails) {
    // What a truncated download gives: never a value that was not written.
    std::vector<RegValue> values = SortedForExport(SampleValues());
    std::vector<std::uint8_t> bytes = WriteRegFile(values);
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
        try {
            std::vector<RegValue> got = ReadRegFile(cut);
            ASSERT_LE(got.size(), values.size());
            EXPECT_TRUE(std::equal(got.begin(), got.end(), values.begin())) << "cut at " << n;
        } catch (const FormatError&) {
        }
    }
}

}  // namespace
}  // namespace kestro

namespace kestro {
namespace {

// The changes of an undo file: what is written reads back as the same
// changes, in the same order, every type as hex of its own number; and
// the edits' own faults name their line.
TEST(RegEdits, RoundTripInOrderWithDeletionsAndRawTypes) {
    const std::string tree = "Software\\Microsoft\\Search Assistant\\ACMru";
    std::vector<RegEdit> edits = {
        {RegEdit::Kind::Value, RegValue{kHkeyCurrentUser, "Software\\K", "Raw", kRegMultiSz, {'a', 0, 0, 0, 0, 0}}, true},
        {RegEdit::Kind::DeleteValue, RegValue{kHkeyCurrentUser, "Software\\K", "Gone", kRegNone, {}}, false},
        {RegEdit::Kind::Value, RegValue{kHkeyLocalMachine, "Software\\L", "", kRegBinary, {}}, true},
        {RegEdit::Kind::Value, RegValue{kHkeyLocalMachine, "Software\\L", "Q", 0x1234, {1, 2, 3}}, true},
        {RegEdit::Kind::DeleteKey, RegValue{kHkeyCurrentUser, tree, "", kRegNone, {}}, false},
        {RegEdit::Kind::Key, RegValue{kHkeyCurrentUser, tree, "", kRegNone, {}}, false},
        {RegEdit::Kind::Key, RegValue{kHkeyCurrentUser, tree + "\\5603", "", kRegNone, {}}, false},
        {RegEdit::Kind::Value, RegValue{kHkeyCurrentUser, tree + "\\5603", "000", kRegSz, {'x', 0, 0, 0}}, true},
    };
    const std::vector<std::uint8_t> bytes = WriteRegEdits(edits);
    const std::u16string text = Decoded(bytes);
    EXPECT_NE(std::u16string::npos, text.find(u"\"Raw\"=hex(7):61,00,00,00,00,00\r\n\"Gone\"=-\r\n"));
    EXPECT_NE(std::u16string::npos, text.find(u"@=hex:\r\n\"Q\"=hex(1234):01,02,03\r\n"));
    EXPECT_NE(std::u16string::npos, text.find(u"[-HKEY_CURRENT_USER\\Software\\Microsoft\\Search Assistant\\ACMru]\r\n"));

    std::vector<std::size_t> lines;
    const std::vector<RegEdit> back = ReadRegEdits(bytes, &lines);
    // Key lines come back as edits of their own: the written file has one
    // before each run of values of a key.
    std::vector<RegEdit> withoutHeads;
    for (const RegEdit& edit : back)
        if (edit.kind != RegEdit::Kind::Key || edit.value.keyPath.rfind(tree, 0) == 0) withoutHeads.push_back(edit);
    ASSERT_EQ(edits.size(), withoutHeads.size());
    for (std::size_t i = 0; i < edits.size(); ++i) {
        EXPECT_EQ(edits[i].kind, withoutHeads[i].kind) << i;
        EXPECT_EQ(edits[i].raw, withoutHeads[i].raw) << i;
        EXPECT_EQ(edits[i].value.root, withoutHeads[i].value.root) << i;
        EXPECT_EQ(edits[i].value.keyPath, withoutHeads[i].value.keyPath) << i;
        EXPECT_EQ(edits[i].value.name, withoutHeads[i].value.name) << i;
        if (edits[i].kind == RegEdit::Kind::Value) {
            EXPECT_EQ(edits[i].value.type, withoutHeads[i].value.type) << i;
            EXPECT_EQ(edits[i].value.data, withoutHeads[i].value.data) << i;
        }
    }
    // The strict reader still refuses all of it.
    EXPECT_THROW(ReadRegFile(bytes), FormatError);

    const std::u16string k = u"[HKEY_CURRENT_USER\\Software\\K]\r\n";
    for (const std::u16string& body : {k + u"\"v\"=hex(:01\r\n", k + u"\"v\"=hex(4)01\r\n", k + u"\"v\"=hex:1,02\r\n",
                                       k + u"\"v\"=hex:01;02\r\n", k + u"\"v\"=hex:0g\r\n", k + u"\"v\"=-x\r\n"}) {
        try {
            ReadRegEdits(Utf16File(kHead + body));
            ADD_FAILURE() << "read";
        } catch (const FormatError& e) {
            EXPECT_EQ(3u, e.position()) << e.what();
        }
    }
}

}  // namespace
}  // namespace kestro
