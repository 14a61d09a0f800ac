// The window's texts live in form/: the control table, its ids, and the
// named texts of the handlers and the start-up.
#include "form/form_layout.h"
#include "form/window_texts.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace kestro::test {
namespace {

TEST(ControlIdTest, EveryRowIsFoundByItsNameAtItsOwnId) {
    for (std::size_t i = 0; i < kMainControlCount; ++i) {
        ControlId id = ControlId::PageControl;
        ASSERT_TRUE(FindControlId(kMainControls[i].name, &id)) << kMainControls[i].name;
        EXPECT_EQ(i, IndexOf(id)) << kMainControls[i].name;
        EXPECT_EQ(&kMainControls[i], &DefOf(id));
    }
    // The ids the window's code names reach the rows of those names.
    EXPECT_STREQ("PageControl", DefOf(ControlId::PageControl).name);
    EXPECT_STREQ("seNumRemDocuments", DefOf(ControlId::seNumRemDocuments).name);
    EXPECT_STREQ("sbBanParallesPort", DefOf(ControlId::sbBanParallesPort).name);
}

TEST(ControlIdTest, ANameThatIsNoRowsLeavesTheIdAlone) {
    for (const char* name : {"", "pagecontrol", "seNumRemDocuments.Arrows", "ts1", "sbDelFind "}) {
        ControlId id = ControlId::bbExit;
        EXPECT_FALSE(FindControlId(name, &id)) << name;
        EXPECT_EQ(ControlId::bbExit, id) << name;
    }
}

// A file dialog reads its filter up to an empty string: a pair of a name
// and its patterns, and one more null character at the end.
TEST(WindowTextsTest, TheFileFiltersAreWholePairsEndedByAnEmptyString) {
    for (const wchar_t* filter : {kWallpaperFilter, kPictureFilter}) {
        std::vector<std::wstring> parts;
        for (const wchar_t* at = filter; *at; at += std::wcslen(at) + 1) parts.emplace_back(at);
        ASSERT_EQ(2u, parts.size());
        EXPECT_NE(std::wstring::npos, parts[1].find(L"*.bmp")) << parts[1];
    }
    EXPECT_EQ(L"*.bmp", std::wstring(kWallpaperFilter));
}

#ifdef KESTRO_SOURCE_DIR
// The window's code names its texts; the texts themselves, Russian all,
// are in form/, where a translation or a fix of a word finds them.
TEST(WindowTextsTest, NoSourceOfTheWindowsCarriesACyrillicLetter) {
    int files = 0;
    for (const std::string folder : {"/ui/", "/app/"}) {
        const std::string path = std::string(KESTRO_SOURCE_DIR) + folder;
        DIR* dir = opendir(path.c_str());
        ASSERT_NE(nullptr, dir) << path;
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == ".." || name == "CMakeLists.txt") continue;
            std::ifstream in(path + name, std::ios::binary);
            const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            ++files;
            // UTF-8's Cyrillic letters start with the byte 0xD0 or 0xD1.
            for (std::size_t i = 0; i + 1 < text.size(); ++i)
                if ((text[i] == '\xD0' || text[i] == '\xD1') && (static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80) {
                    ADD_FAILURE() << folder << name << " at byte " << i;
                    break;
                }
        }
        closedir(dir);
    }
    EXPECT_GT(files, 20);
}
#endif

}  // namespace
}  // namespace kestro::test
