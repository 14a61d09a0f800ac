#include "formats/policy_file.h"

#include "formats/layout.h"
#include "tests/formats/format_test_values.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace kestro {
namespace {

using testing::Dword;
using testing::SampleValues;
using testing::Text;

using Bytes = std::vector<std::uint8_t>;

void Put16(Bytes& out, const std::u16string& text) {
    for (char16_t c : text) {
        out.push_back(static_cast<std::uint8_t>(c & 0xFF));
        out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
}

void Put32(Bytes& out, std::uint32_t n) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
}

const Bytes kHeader = {'P', 'R', 'e', 'g', 1, 0, 0, 0};

// One entry built by hand, byte for byte as Group Policy lays it out.
Bytes Entry(const std::u16string& key, const std::u16string& name, std::uint32_t type, const Bytes& data,
            std::uint32_t size) {
    Bytes out;
    Put16(out, u"[" + key + std::u16string(1, u'\0') + u";" + name + std::u16string(1, u'\0') + u";");
    Put32(out, type);
    Put16(out, u";");
    Put32(out, size);
    Put16(out, u";");
    out.insert(out.end(), data.begin(), data.end());
    Put16(out, u"]");
    return out;
}

Bytes File(std::initializer_list<Bytes> entries) {
    Bytes out = kHeader;
    for (const Bytes& e : entries) out.insert(out.end(), e.begin(), e.end());
    return out;
}

struct Failure {
    std::string message;
    FormatError::Place place = FormatError::Place::None;
    std::size_t offset = 0;
};

Failure ReadFailure(const Bytes& bytes) {
    try {
        ReadPolicyFile(bytes, PolicyScope::User);
    } catch (const FormatError& e) {
        return {e.what(), e.place(), e.position()};
    }
    return {};
}

TEST(PolicyFileWrite, LaysOutEntriesAsGroupPolicyDoes) {
    PolicyFiles files = WritePolicyFiles({Dword(kHkeyCurrentUser, "Software\\P", "NoRun", 1)});
    EXPECT_EQ(files.user, File({Entry(u"Software\\P", u"NoRun", 4, {1, 0, 0, 0}, 4)}));
    EXPECT_EQ(files.machine, kHeader);
}

TEST(PolicyFileWrite, SplitsByRootAndPutsClassesUnderTheMachine) {
    PolicyFiles files = WritePolicyFiles({
        Text(kHkeyClassesRoot, "CLSID\\{X}", "InfoTip", u"Я"),
        Dword(kHkeyLocalMachine, "SYSTEM\\S", "start", 4),
        Dword(kHkeyCurrentUser, "Control Panel\\Desktop", "PaintDesktopVersion", 0),
    });
    EXPECT_EQ(files.user, File({Entry(u"Control Panel\\Desktop", u"PaintDesktopVersion", 4, {0, 0, 0, 0}, 4)}));
    // Sorted by key path: "Software\Classes\..." before "SYSTEM\...".
    EXPECT_EQ(files.machine, File({Entry(u"Software\\Classes\\CLSID\\{X}", u"InfoTip", 1, {0x2F, 0x04, 0, 0}, 4),
                                   Entry(u"SYSTEM\\S", u"start", 4, {4, 0, 0, 0}, 4)}));
}

TEST(PolicyFileWrite, SameValuesInAnyOrderGiveTheSameFiles) {
    std::vector<RegValue> values = SampleValues();
    PolicyFiles first = WritePolicyFiles(values);
    std::reverse(values.begin(), values.end());
    PolicyFiles reversed = WritePolicyFiles(values);
    std::rotate(values.begin(), values.begin() + 5, values.end());
    PolicyFiles rotated = WritePolicyFiles(values);
    EXPECT_EQ(reversed.user, first.user);
    EXPECT_EQ(reversed.machine, first.machine);
    EXPECT_EQ(rotated.user, first.user);
    EXPECT_EQ(rotated.machine, first.machine);
}

TEST(PolicyFileWrite, RefusesWhatTheReaderWouldRefuse) {
    const std::vector<RegValue> refused = {
        RegValue{kHkeyCurrentUser, "K", "Bin", kRegBinary, {1, 2, 3}},
        RegValue{kHkeyCurrentUser, "K", "Short", kRegDword, {1, 0, 0}},
        RegValue{kHkeyCurrentUser, "K", "Odd", kRegSz, {'a', 0, 0}},
        Dword(kHkeyCurrentUser, "K\\", "TrailingSlash", 1),
        Dword(kHkeyCurrentUser, std::string(256, 'k').c_str(), "LongPath", 1),
        Dword(kHkeyCurrentUser, "K", std::string(layout::kMaxValueNameChars + 1, 'n').c_str(), 1),
        Dword(0x80000003u, "K", "Users", 1),
        Text(kHkeyCurrentUser, "K", "Long", std::u16string(layout::kMaxTextChars + 1, u'x')),
    };
    for (const RegValue& value : refused) EXPECT_THROW(WritePolicyFiles({value}), FormatError) << value.name;
    // HKEY_CLASSES_ROOT's paths grow by "Software\Classes\" and must still fit.
    EXPECT_THROW(WritePolicyFiles({Dword(kHkeyClassesRoot, std::string(250, 'k').c_str(), "v", 1)}), FormatError);
}

TEST(PolicyFileRoundTrip, ReadsBackExactlyWhatWasWritten) {
    std::vector<RegValue> values = SampleValues();
    PolicyFiles files = WritePolicyFiles(values);
    std::vector<RegValue> expectedUser, expectedMachine;
    std::vector<RegValue> placed;
    for (const RegValue& v : values) placed.push_back(ToPolicyLocation(v));
    for (const RegValue& v : SortedForExport(placed))
        (v.root == kHkeyCurrentUser ? expectedUser : expectedMachine).push_back(v);
    EXPECT_EQ(ReadPolicyFile(files.user, PolicyScope::User), expectedUser);
    EXPECT_EQ(ReadPolicyFile(files.machine, PolicyScope::Machine), expectedMachine);
    EXPECT_EQ(ReadPolicyFile(kHeader, PolicyScope::Machine), std::vector<RegValue>{});
    // Control characters are fine in a policy's text, unlike in a .reg line.
    RegValue lines = Text(kHkeyCurrentUser, "K", "Lines", u"a\r\nb");
    EXPECT_EQ(ReadPolicyFile(WritePolicyFiles({lines}).user, PolicyScope::User), std::vector<RegValue>{lines});
}

TEST(PolicyFileRead, AcceptsOtherTypesAndDirectivesForTheCallerToJudge) {
    // gpedit's own entries: a deletion directive and a REG_EXPAND_SZ.
    Bytes data;
    Put16(data, std::u16string(u" ") + u'\0');
    Bytes expand;
    Put16(expand, std::u16string(u"%windir%") + u'\0');
    Bytes first = Entry(u"Software\\Policies\\X", u"**del.Foo", 1, data, 4);
    std::vector<std::size_t> offsets;
    std::vector<RegValue> got = ReadPolicyFile(
        File({first, Entry(u"Software\\Policies\\X", u"Path", 2, expand, static_cast<std::uint32_t>(expand.size()))}),
        PolicyScope::Machine, &offsets);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(offsets, (std::vector<std::size_t>{8, 8 + first.size()}));
    EXPECT_EQ(got[0].name, "**del.Foo");
    EXPECT_EQ(got[0].root, kHkeyLocalMachine);
    EXPECT_EQ(got[1].type, 2u);
    EXPECT_EQ(got[1].data, expand);
}

TEST(PolicyFileRead, MalformedFilesNameTheOffset) {
    const Bytes good = Entry(u"K", u"v", 4, {1, 0, 0, 0}, 4);
    // Offsets inside `good`, after the 8-byte header: '[' 0, "K\0" 2, ';' 6,
    // "v\0" 8, ';' 12, type 14, ';' 18, size 20, ';' 24, data 26, ']' 30.
    Bytes asciiDelimiters = {'P', 'R', 'e', 'g', 1, 0, 0, 0, '[', 'K', 0, ';'};
    Bytes trailing = File({good});
    trailing.push_back(0x5B);
    Bytes sizeTooBig = File({Entry(u"K", u"v", 4, {1, 0, 0, 0}, 8)});
    Bytes sizeEatsBracket = File({Entry(u"K", u"v", 4, {1, 0, 0, 0}, 6)});
    Bytes sizeTooSmall = File({Entry(u"K", u"v", 4, {1, 0, 0, 0}, 2)});
    Bytes dwordOfTwo = File({Entry(u"K", u"v", 4, {1, 0}, 2)});
    Bytes oddText = File({Entry(u"K", u"v", 1, {'a', 0, 0}, 3)});
    Bytes unterminated = File({Entry(u"K", u"v", 1, {'a', 0}, 2)});
    Bytes huge = File({Entry(u"K", u"v", 3, {}, 0x10000)});
    Bytes pastEnd = File({Entry(u"K", u"v", 3, {}, 0x8000)});
    Bytes badType = File({Entry(u"K", u"v", 99, {1, 0, 0, 0}, 4)});
    Bytes emptyLevel = File({Entry(u"K\\\\L", u"v", 4, {1, 0, 0, 0}, 4)});
    Bytes emptyKey = File({Entry(u"", u"v", 4, {1, 0, 0, 0}, 4)});
    Bytes longKey = File({Entry(std::u16string(256, u'k'), u"v", 4, {1, 0, 0, 0}, 4)});
    Bytes missingSemicolon = File({good});
    missingSemicolon[8 + 6] = ',';
    Bytes missingClose = File({good});
    missingClose[8 + 30] = ')';
    Bytes noZero = kHeader;
    Put16(noZero, u"[Software\\Policies");

    struct Case {
        const char* name;
        Bytes bytes;
        std::size_t offset;
        const char* mentions;
    };
    const Case cases[] = {
        {"empty", {}, 0, "cut short: the header"},
        {"short header", {'P', 'R', 'e', 'g', 1, 0}, 0, "cut short: the header"},
        {"signature PRex", {'P', 'R', 'e', 'x', 1, 0, 0, 0}, 0, "signature"},
        {"signature of a .reg", {0xFF, 0xFE, 'W', 0, 'i', 0, 'n', 0}, 0, "signature"},
        {"version 2", {'P', 'R', 'e', 'g', 2, 0, 0, 0}, 4, "version 2"},
        {"version 0x100", {'P', 'R', 'e', 'g', 0, 1, 0, 0}, 4, "version 256"},
        {"ASCII delimiters", asciiDelimiters, 8, "expected ["},
        {"odd trailing byte", trailing, 40, "cut short: expected ["},
        {"size beyond the data", sizeTooBig, 8 + 20, "runs past the end"},
        {"size swallowing the ]", sizeEatsBracket, 40, "cut short: expected ] after the data"},
        {"size short of the data", sizeTooSmall, 8 + 28, "expected ]"},
        {"dword of 2 bytes", dwordOfTwo, 8 + 20, "not 4"},
        {"text of odd size", oddText, 8 + 20, "REG_SZ"},
        {"text without its zero", unterminated, 8 + 20, "REG_SZ"},
        {"size above 65535", huge, 8 + 20, "above 65535"},
        {"size past the end", pastEnd, 8 + 20, "runs past the end"},
        {"unknown type", badType, 8 + 14, "unknown value type 99"},
        {"empty key level", emptyLevel, 8 + 2, "empty key name"},
        {"empty key", emptyKey, 8 + 2, "key path is empty"},
        {"key too long", longKey, 8 + 2 + 2 * 255, "longer than 255"},
        {"comma for semicolon", missingSemicolon, 8 + 6, "expected ;"},
        {"missing ]", missingClose, 8 + 30, "expected ]"},
        {"key without its zero", noZero, 8 + 2 + 2 * 17, "key path has no terminating zero"},
    };
    for (const Case& c : cases) {
        Failure f = ReadFailure(c.bytes);
        EXPECT_EQ(f.place, FormatError::Place::Offset) << c.name << ": " << f.message;
        EXPECT_EQ(f.offset, c.offset) << c.name << ": " << f.message;
        EXPECT_NE(f.message.find(c.mentions), std::string::npos) << c.name << ": " << f.message;
        EXPECT_EQ(f.message.rfind("offset " + std::to_string(c.offset) + ": ", 0), 0u) << c.name;
    }
}

TEST(PolicyFileRead, EveryCutOfAFileReadsAsAPrefixOrFails) {
    PolicyFiles files = WritePolicyFiles(SampleValues());
    const Bytes& bytes = files.machine;
    std::vector<RegValue> all = ReadPolicyFile(bytes, PolicyScope::Machine);
    std::size_t prefixes = 0;
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        Bytes cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
        try {
            std::vector<RegValue> got = ReadPolicyFile(cut, PolicyScope::Machine);
            ++prefixes;
            ASSERT_LT(got.size(), all.size()) << n;
            EXPECT_TRUE(std::equal(got.begin(), got.end(), all.begin())) << "cut at " << n;
        } catch (const FormatError& e) {
            EXPECT_EQ(e.place(), FormatError::Place::Offset);
            EXPECT_LE(e.position(), n) << e.what();
        }
    }
    // Only the cuts at entry boundaries read: the header alone and each
    // complete entry before the last.
    EXPECT_EQ(prefixes, all.size());
}

TEST(PolicyFileTattoo, OnlyValuesUnderThePolicyKeysAreRemovedWithTheGpo) {
    EXPECT_FALSE(TattoosWhenRemoved(
        Dword(kHkeyCurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer", "NoRun", 1)));
    EXPECT_FALSE(TattoosWhenRemoved(Dword(kHkeyLocalMachine, "SOFTWARE\\policies\\X", "v", 1)));
    EXPECT_FALSE(TattoosWhenRemoved(Dword(kHkeyLocalMachine, "Software\\Policies", "v", 1)));
    EXPECT_TRUE(TattoosWhenRemoved(Dword(kHkeyLocalMachine, "Software\\PoliciesX\\Y", "v", 1)));
    EXPECT_TRUE(TattoosWhenRemoved(Dword(kHkeyCurrentUser, "Control Panel\\Desktop", "PaintDesktopVersion", 1)));
    EXPECT_TRUE(TattoosWhenRemoved(Dword(kHkeyLocalMachine, "system\\currentcontrolset\\services\\usbstor", "start", 4)));
    EXPECT_TRUE(TattoosWhenRemoved(Text(kHkeyClassesRoot, "CLSID\\{645FF040-5081-101B-9F08-00AA002F954E}", "InfoTip", u"")));
}

TEST(PolicyFileRead, TooManyEntriesOrBytesAreRefused) {
    Bytes many = kHeader;
    Bytes one = Entry(u"K", u"v", 4, {1, 0, 0, 0}, 4);
    for (std::size_t i = 0; i <= layout::kMaxEntries; ++i) many.insert(many.end(), one.begin(), one.end());
    EXPECT_NE(ReadFailure(many).message.find("more than 4096 entries"), std::string::npos);
    Bytes big = kHeader;
    big.resize(layout::kMaxFileBytes + 1);
    EXPECT_NE(ReadFailure(big).message.find("larger than"), std::string::npos);
}

}  // namespace
}  // namespace kestro
