#include "formats/entry_match.h"

#include "tests/formats/format_test_values.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kestro {

inline bool operator==(const FoundSetting& a, const FoundSetting& b) { return a.name == b.name && a.state == b.state; }
inline void PrintTo(const FoundSetting& f, std::ostream* os) { *os << f.name << "=" << f.state; }

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::Dword;
using testing::Text;

const char* kExplorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
const char* kBin = "CLSID\\{645FF040-5081-101B-9F08-00AA002F954E}";

// Shapes as the settings' writers give them: a plain toggle, the inverted
// AutoRun, font smoothing (three values on, one off), a device start type,
// a number, a text.
std::vector<SettingShape> Shapes() {
    using Kind = SettingShape::Kind;
    return {
        {"NoRun", Kind::Toggle,
         [](const std::string& s) { return std::vector<RegValue>{Dword(kHkeyCurrentUser, kExplorer, "NoRun", s == "on")}; }},
        {"CdAutorunOff", Kind::Toggle,
         [](const std::string& s) {
             return std::vector<RegValue>{
                 Dword(kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Services\\CDRom", "AutoRun", s == "on" ? 0 : 1)};
         }},
        // On stores three values, off only the first.
        {"FontSmoothing", Kind::Toggle,
         [](const std::string& s) {
             const char* k = "Control Panel\\Desktop";
             if (s != "on") return std::vector<RegValue>{Text(kHkeyCurrentUser, k, "FontSmoothing", u"0")};
             return std::vector<RegValue>{Text(kHkeyCurrentUser, k, "FontSmoothing", u"2"),
                                          Dword(kHkeyCurrentUser, k, "FontSmoothingType", 2),
                                          Dword(kHkeyCurrentUser, k, "FontSmoothingOrientation", 1)};
         }},
        {"CdromOff", Kind::Toggle,
         [](const std::string& s) {
             return std::vector<RegValue>{
                 Dword(kHkeyLocalMachine, "system\\currentcontrolset\\services\\cdrom", "start", s == "on" ? 4 : 3)};
         }},
        {"MaxRecentDocs", Kind::Number,
         [](const std::string& s) {
             return std::vector<RegValue>{Dword(kHkeyCurrentUser, kExplorer, "MaxRecentDocs",
                                                static_cast<std::uint32_t>(std::stol(s)))};
         }},
        {"RecycleBinName", Kind::Text,
         [](const std::string& s) {
             return std::vector<RegValue>{Text(kHkeyClassesRoot, kBin, "LocalizedString", StrictUtf8ToUtf16(s))};
         }},
    };
}

EntryMatch Match(const std::vector<RegValue>& entries, bool ignoreUnknown = false) {
    std::vector<std::size_t> places;
    for (std::size_t i = 0; i < entries.size(); ++i) places.push_back(10 * (i + 1));
    return MatchEntries(entries, places, "line", Shapes(), ignoreUnknown);
}

TEST(EntryMatch, FindsEverySettingInItsState) {
    const char* smooth = "Control Panel\\Desktop";
    EntryMatch m = Match({
        Text(kHkeyClassesRoot, kBin, "LocalizedString", u"Корзина"),
        Dword(kHkeyCurrentUser, kExplorer, "MaxRecentDocs", 0xFFFFFFFFu),
        Dword(kHkeyCurrentUser, smooth, "FontSmoothingOrientation", 1),
        Text(kHkeyCurrentUser, smooth, "FontSmoothing", u"2"),
        Dword(kHkeyCurrentUser, smooth, "FontSmoothingType", 2),
        Dword(kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Services\\CDRom", "AutoRun", 0),
        Dword(kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Services\\CDROM", "Start", 3),
        Dword(kHkeyCurrentUser, kExplorer, "NoRun", 0),
    });
    EXPECT_THAT(m.errors, ElementsAre());
    EXPECT_THAT(m.settings, ElementsAre(FoundSetting{"NoRun", "off"}, FoundSetting{"CdAutorunOff", "on"},
                                        FoundSetting{"FontSmoothing", "on"}, FoundSetting{"CdromOff", "off"},
                                        FoundSetting{"MaxRecentDocs", "-1"}, FoundSetting{"RecycleBinName", "Корзина"}));
}

TEST(EntryMatch, AStateThatStoresFewerValuesIsFoundByThemAlone) {
    EntryMatch m = Match({Text(kHkeyCurrentUser, "control panel\\desktop", "FontSmoothing", u"0")});
    EXPECT_THAT(m.errors, ElementsAre());
    EXPECT_THAT(m.settings, ElementsAre(FoundSetting{"FontSmoothing", "off"}));
}

// An older export's triple under HKEY_CURRENT_USER\DEFAULT is no setting's:
// unknown values, refused unless passed over.
TEST(EntryMatch, TheOldFontSmoothingTripleIsUnknown) {
    const char* old = "DEFAULT\\Control Panel\\Desktop";
    const std::vector<RegValue> entries = {Dword(kHkeyCurrentUser, old, "FontSmoothing", 2),
                                           Dword(kHkeyCurrentUser, old, "FontSmoothingType", 2),
                                           Dword(kHkeyCurrentUser, old, "FontSmoothingOrientation", 1)};
    EntryMatch strict = Match(entries);
    ASSERT_EQ(strict.errors.size(), 3u);
    EXPECT_THAT(strict.errors[0], HasSubstr("DEFAULT\\Control Panel\\Desktop"));
    EXPECT_THAT(strict.errors[0], HasSubstr("is not a Kestro setting"));
    EntryMatch lenient = Match(entries, true);
    EXPECT_THAT(lenient.errors, ElementsAre());
    EXPECT_EQ(lenient.ignored.size(), 3u);
    EXPECT_TRUE(lenient.settings.empty());
}

TEST(EntryMatch, ClassesRootAsAPolicyFileCarriesIt) {
    EntryMatch m = Match({Text(kHkeyLocalMachine, "SOFTWARE\\Classes\\CLSID\\{645FF040-5081-101B-9F08-00AA002F954E}",
                               "LocalizedString", u"")});
    EXPECT_THAT(m.errors, ElementsAre());
    EXPECT_THAT(m.settings, ElementsAre(FoundSetting{"RecycleBinName", ""}));
}

TEST(EntryMatch, UnknownEntriesAreErrorsUnlessIgnored) {
    std::vector<RegValue> entries = {Dword(kHkeyCurrentUser, kExplorer, "NoRun", 1),
                                     Dword(kHkeyCurrentUser, kExplorer, "NoDrives", 4),
                                     Dword(kHkeyLocalMachine, kExplorer, "NoRun", 1)};  // the machine's, not ours
    EntryMatch strict = Match(entries);
    EXPECT_THAT(strict.errors, ElementsAre(HasSubstr("line 20: "), HasSubstr("line 30: HKEY_LOCAL_MACHINE")));
    EXPECT_THAT(strict.errors[0], HasSubstr("\"NoDrives\" is not a Kestro setting"));
    EntryMatch lenient = Match(entries, true);
    EXPECT_THAT(lenient.errors, ElementsAre());
    EXPECT_EQ(lenient.ignored.size(), 2u);
    EXPECT_THAT(lenient.settings, ElementsAre(FoundSetting{"NoRun", "on"}));
}

TEST(EntryMatch, ValuesNoWriterStoresAreErrorsEvenWhenIgnoringUnknown) {
    const char* smooth = "Control Panel\\Desktop";
    struct Case {
        const char* what;
        std::vector<RegValue> entries;
        const char* mentions;
    };
    const Case cases[] = {
        {"a start type of 2",
         {Dword(kHkeyLocalMachine, "system\\currentcontrolset\\services\\cdrom", "start", 2)}, "neither"},
        {"a toggle of 5", {Dword(kHkeyCurrentUser, kExplorer, "NoRun", 5)}, "neither"},
        {"font smoothing on without its order",
         {Text(kHkeyCurrentUser, smooth, "FontSmoothing", u"2"), Dword(kHkeyCurrentUser, smooth, "FontSmoothingType", 2)},
         "some are missing"},
        {"font smoothing off with a kind",
         {Text(kHkeyCurrentUser, smooth, "FontSmoothing", u"0"), Dword(kHkeyCurrentUser, smooth, "FontSmoothingType", 2)},
         "neither"},
        {"a mixed triple",
         {Text(kHkeyCurrentUser, smooth, "FontSmoothing", u"2"), Dword(kHkeyCurrentUser, smooth, "FontSmoothingType", 0),
          Dword(kHkeyCurrentUser, smooth, "FontSmoothingOrientation", 1)},
         "neither"},
        {"font smoothing as a number",
         {Dword(kHkeyCurrentUser, smooth, "FontSmoothing", 2)}, "has type 4, not 1"},
        {"a toggle as text", {Text(kHkeyCurrentUser, kExplorer, "NoRun", u"1")}, "has type 1, not 4"},
        {"a setting twice",
         {Dword(kHkeyCurrentUser, kExplorer, "NoRun", 1), Dword(kHkeyCurrentUser, kExplorer, "norun", 1)},
         "more than once"},
    };
    for (const Case& c : cases) {
        EntryMatch m = Match(c.entries, true);
        ASSERT_EQ(m.errors.size(), 1u) << c.what;
        EXPECT_THAT(m.errors[0], HasSubstr(c.mentions)) << c.what;
        EXPECT_THAT(m.errors[0], ::testing::StartsWith("line ")) << c.what;
        EXPECT_TRUE(m.settings.empty()) << c.what;
    }
}

}  // namespace
}  // namespace kestro
