// Which Windows honours each setting, which Windows kestroctl works on, and
// the note when a setting written is one that Windows ignores.
#include "ctl/commands.h"
#include "ctl/messages.h"
#include "ctl/windows_version.h"
#include "registry/memory_registry.h"
#include "settings/catalogue.h"
#include "tests/ctl/ctl_fakes.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <sstream>

namespace kestro::test {
namespace {

constexpr const char* kCurrentVersion = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

std::vector<std::uint8_t> Utf16(const std::string& ascii) {
    std::vector<std::uint8_t> bytes;
    for (char c : ascii) {
        bytes.push_back(static_cast<std::uint8_t>(c));
        bytes.push_back(0);
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

std::vector<std::uint8_t> Dword(std::uint32_t n) {
    return {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n >> 16),
            static_cast<std::uint8_t>(n >> 24)};
}

// A SOFTWARE hive as each Windows writes its version: XP and 7 only
// CurrentVersion; 10 and 11 keep "6.3" there and give the numbers apart.
void PutWindows(MemoryRegistryStore& store, const std::string& product, const std::string& version,
                const std::string& build, int major = -1, int minor = -1) {
    store.PutValueW(kHkeyLocalMachine, kCurrentVersion, "ProductName", kRegSz, Utf16(product));
    store.PutValueW(kHkeyLocalMachine, kCurrentVersion, "CurrentVersion", kRegSz, Utf16(version));
    store.PutValueW(kHkeyLocalMachine, kCurrentVersion, "CurrentBuildNumber", kRegSz, Utf16(build));
    if (major >= 0) {
        store.PutValue(kHkeyLocalMachine, kCurrentVersion, "CurrentMajorVersionNumber", kRegDword, Dword(major));
        store.PutValue(kHkeyLocalMachine, kCurrentVersion, "CurrentMinorVersionNumber", kRegDword, Dword(minor));
    }
}

TEST(WindowsVersions, NtNumbersNameTheWindows) {
    WindowsVersion v{};
    const struct {
        unsigned major, minor, build;
        WindowsVersion want;
    } cases[] = {{5, 1, 2600, WindowsVersion::XP},        {5, 2, 3790, WindowsVersion::XP},
                 {6, 0, 6002, WindowsVersion::Vista},     {6, 1, 7601, WindowsVersion::Seven},
                 {6, 2, 9200, WindowsVersion::EightOne},  {6, 3, 9600, WindowsVersion::EightOne},
                 {10, 0, 19045, WindowsVersion::Ten},     {10, 0, 21999, WindowsVersion::Ten},
                 {10, 0, 22000, WindowsVersion::Eleven},  {10, 0, 26100, WindowsVersion::Eleven}};
    for (const auto& c : cases) {
        ASSERT_TRUE(VersionOfNt(c.major, c.minor, c.build, &v)) << c.major << "." << c.minor;
        EXPECT_EQ(c.want, v) << c.major << "." << c.minor << "." << c.build;
    }
    EXPECT_FALSE(VersionOfNt(5, 0, 2195, &v)) << "Windows 2000 is none of Kestro's";
    EXPECT_FALSE(VersionOfNt(4, 0, 1381, &v));
}

TEST(WindowsVersions, AreReadFromTheSoftwareHiveAsEachWindowsKeepsThem) {
    MemoryRegistryStore xp, ten, eleven, none;
    PutWindows(xp, "Microsoft Windows XP", "5.1", "2600");
    PutWindows(ten, "Windows 10 Pro", "6.3", "19045", 10, 0);
    PutWindows(eleven, "Windows 10 Pro", "6.3", "22631", 10, 0);
    WindowsIdentity id = IdentifyWindows(xp);
    ASSERT_TRUE(id.known);
    EXPECT_EQ(WindowsVersion::XP, id.version);
    EXPECT_EQ("Microsoft Windows XP (5.1.2600)", id.name);
    id = IdentifyWindows(ten);
    EXPECT_EQ(WindowsVersion::Ten, id.version) << "not 8.1 from CurrentVersion 6.3";
    EXPECT_EQ("Windows 10 Pro (10.0.19045)", id.name);
    id = IdentifyWindows(eleven);
    EXPECT_EQ(WindowsVersion::Eleven, id.version);
    EXPECT_EQ("Windows 11 Pro (10.0.22631)", id.name) << "11 keeps \"Windows 10\" in ProductName";
    EXPECT_FALSE(IdentifyWindows(none).known);
    id = IdentifyWindows(10, 0, 22631);
    EXPECT_EQ("Windows 11 (10.0.22631)", id.name) << "a kernel's numbers: the plain name";
    EXPECT_FALSE(IdentifyWindows(5, 0, 2195).known);
    EXPECT_EQ(0, xp.OpenHandleCount() + ten.OpenHandleCount() + none.OpenHandleCount());
}

TEST(WindowsVersions, EveryRowHasARangeAndTheColumnWritesIt) {
    for (const Setting& row : kCatalogue) {
        const WindowsRange range = HonouredBy(row);
        EXPECT_LE(range.first, range.last) << row.name;
        EXPECT_EQ(WindowsVersion::XP, range.first) << row.name << ": every setting is one of XP's";
    }
    EXPECT_EQ("XP\u2013" "7", WindowsRangeText(HonouredBy(*FindSettingByName("NoSMMyPictures"))));
    EXPECT_EQ("XP\u2013" "7", WindowsRangeText(HonouredBy(*FindSettingByName("NoFind"))));
    EXPECT_EQ("XP\u2013" "8.1", WindowsRangeText(HonouredBy(*FindSettingByName("NoRun"))));
    EXPECT_EQ("XP\u2013" "11", WindowsRangeText(HonouredBy(*FindSettingByName("NoSetTaskbar"))));
}

class IgnoredNote : public ::testing::Test {
protected:
    int Run(MemoryRegistryStore& store, std::vector<std::string> arguments) {
        console_ = CapturingConsole();
        FixedStore provider(store);
        return RunKestroctl(arguments, provider, console_);
    }
    CapturingConsole console_;
};

TEST_F(IgnoredNote, NamesTheWindowsThatIgnoresASettingWritten) {
    MemoryRegistryStore ten;
    PutWindows(ten, "Windows 10 Pro", "6.3", "19045", 10, 0);
    ASSERT_EQ(kExitOk, Run(ten, {"set", "NoSMMyPictures", "on"}));
    EXPECT_EQ("kestroctl: note: Windows 10 Pro (10.0.19045) does not read NoSMMyPictures: Windows XP\u2013" "7 does\n",
              console_.err);
    // A setting 10 reads: no note; nor list and get, which write nothing.
    ASSERT_EQ(kExitOk, Run(ten, {"set", "NoSetTaskbar", "on"}));
    EXPECT_EQ("", console_.err);
    ASSERT_EQ(kExitOk, Run(ten, {"list"}));
    EXPECT_EQ("", console_.err);
}

TEST_F(IgnoredNote, ApplyNotesEachIgnoredSettingAndXpNone) {
    MemoryRegistryStore eight, xp, unknown;
    PutWindows(eight, "Windows 8.1 Pro", "6.3", "9600");
    PutWindows(xp, "Microsoft Windows XP", "5.1", "2600");
    const std::string profile = "kestroctl-windows-version-test.ini";
    {
        std::FILE* f = std::fopen(profile.c_str(), "wb");
        ASSERT_NE(nullptr, f);
        std::fputs("[Kestro]\nNoSMMyPictures = on\nNoFind = on\nNoRun = on\nNoSetTaskbar = on\n", f);
        std::fclose(f);
    }
    ASSERT_EQ(kExitOk, Run(eight, {"apply", profile}));
    EXPECT_EQ("kestroctl: note: Windows 8.1 Pro (6.3.9600) does not read NoSMMyPictures: Windows XP\u2013" "7 does\n"
              "kestroctl: note: Windows 8.1 Pro (6.3.9600) does not read NoFind: Windows XP\u2013" "7 does\n",
              console_.err)
        << "8.1 reads NoRun and NoSetTaskbar";
    ASSERT_EQ(kExitOk, Run(xp, {"apply", profile}));
    EXPECT_EQ("", console_.err);
    ASSERT_EQ(kExitOk, Run(unknown, {"apply", profile}));
    EXPECT_EQ("", console_.err) << "no version, no guess";
    std::remove(profile.c_str());
}

TEST(WindowsColumn, ListShowsTheRangeInTheTableAndTheJson) {
    MemoryRegistryStore store;
    CapturingConsole console;
    FixedStore provider(store);
    ASSERT_EQ(kExitOk, RunKestroctl({"list"}, provider, console));
    std::istringstream lines(console.out);
    std::string header, line;
    std::getline(lines, header);
    const std::size_t column = header.find("WINDOWS");
    ASSERT_NE(std::string::npos, column);
    bool sawXpOnly = false;
    while (std::getline(lines, line)) {
        if (line.compare(0, 15, "NoSMMyPictures ") == 0) {
            EXPECT_EQ("XP\u2013" "7 ", line.substr(column, 7));
            sawXpOnly = true;
        }
        if (line.compare(0, 6, "NoRun ") == 0) {
            EXPECT_EQ("XP\u2013" "8.1", line.substr(column, 8));
        }
    }
    EXPECT_TRUE(sawXpOnly);
    console = CapturingConsole();
    ASSERT_EQ(kExitOk, RunKestroctl({"list", "--json"}, provider, console));
    for (const auto& item : nlohmann::json::parse(console.json))
        if (item["name"] == "NoFind") {
            EXPECT_EQ("XP\u2013" "7", item["windows"].get<std::string>());
        }
}

}  // namespace
}  // namespace kestro::test
