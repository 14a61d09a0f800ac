// The engine's texts for people: English with its places filled where no
// translator is set, and the program's translator's text where one is.
#include "core/localized.h"

#include <gtest/gtest.h>

namespace kestro {
namespace {

// A translator that shows what it was given: the English text, and the
// arguments in the order the places of its "translation" take them.
std::string Reversed(const char* english, const std::vector<std::string>& arguments) {
    std::string text = std::string("<") + english + ">";
    for (auto it = arguments.rbegin(); it != arguments.rend(); ++it) text += " " + *it;
    return text;
}

std::string Bracketed(const char* english, const std::vector<std::string>& arguments) {
    return FillPlaces(std::string("[") + english + "]", arguments);
}

class LocalizedTest : public ::testing::Test {
protected:
    void TearDown() override { SetTranslator(nullptr); }
};

TEST_F(LocalizedTest, WithoutATranslatorTheEnglishWithItsPlacesFilled) {
    EXPECT_EQ("no user profile \"nobody\" beside /mnt/WINDOWS (profiles: Owner)",
              Localized("no user profile \"%1\" beside %2 (profiles: %3)", "nobody", std::string("/mnt/WINDOWS"),
                        "Owner"));
    EXPECT_EQ("line 7: a zero character", Localized("line %1: %2", std::size_t{7}, "a zero character"));
    EXPECT_EQ("the text is longer than 4096 characters", Localized("the text is longer than %1 characters", 4096));
    EXPECT_EQ("it is not there", Localized("it is not there"));
}

TEST_F(LocalizedTest, PlacesAreTheTextsOwnNotTheArguments) {
    // A percent sign that starts no place stays; an argument's "%1" is not
    // filled again; a place with no argument becomes nothing.
    EXPECT_EQ("100% of %SystemRoot%\\x", Localized("100% of %1\\x", "%SystemRoot%"));
    EXPECT_EQ("a %1 b", Localized("a %1 %2", "%1", "b"));
    EXPECT_EQ("x=, y=1", Localized("x=%2, y=%1", 1));
    EXPECT_EQ("%", Localized("%"));
    EXPECT_EQ("%0 %a", Localized("%0 %a", "unused"));
}

TEST_F(LocalizedTest, TheTranslatorGetsTheEnglishAndEveryArgument) {
    SetTranslator(Reversed);
    EXPECT_EQ("<%1: cannot read> /tmp/x.reg", Localized("%1: cannot read", "/tmp/x.reg"));
    EXPECT_EQ("<%1 in %2> C:\\ S-1-5-21", Localized("%1 in %2", "S-1-5-21", "C:\\"));
    SetTranslator(Bracketed);
    EXPECT_EQ("[offset 12: the header]", Localized("offset %1: %2", 12, "the header"));
    SetTranslator(nullptr);
    EXPECT_EQ("offset 12: the header", Localized("offset %1: %2", 12, "the header"));
}

TEST_F(LocalizedTest, ATableTextMarkedForTranslationIsTheTextItself) {
    constexpr const char* kWhat = N_("value name");
    EXPECT_STREQ("value name", kWhat);
    SetTranslator(Bracketed);
    EXPECT_EQ("[the [value name] has no closing quotation mark]",
              Localized("the %1 has no closing quotation mark", Localized(kWhat)));
}

}  // namespace
}  // namespace kestro
