// What kestroctl shows of a name or value that came from a volume: nothing
// that acts on a terminal gets through, and everything else passes as is.
#include "core/display_text.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace kestro {
namespace {

TEST(ShownText, ReadableTextPassesUnchanged) {
    for (const std::string text : {"Администратор", "C:\\Documents and Settings\\john.PC", "a\tb\n", "日本語 😀",
                                   "Ünïcödé"})
        EXPECT_EQ(text, ShownText(text));
}

TEST(ShownText, WhatDrivesATerminalIsEscaped) {
    // Clearing the screen, OSC 52 (the clipboard), cursor moves.
    EXPECT_EQ("Mal\\x1b[2J\\x1b]52;c;cm0=\\x07", ShownText("Mal\x1b[2J\x1b]52;c;cm0=\a"));
    EXPECT_EQ("a\\x0db\\x7f\\x00", ShownText(std::string("a\rb\x7f\0", 5)));
    // C1 as UTF-8 (U+009B, CSI) and as a lone byte, which is no UTF-8.
    EXPECT_EQ("\\u009b31m \\x9b", ShownText("\xc2\x9b" "31m \x9b"));
    // The bidi overrides and isolates: "exe.txt" shown reversed no more.
    EXPECT_EQ("a\\u202eexe.txt\\u2066\\u2069\\u202a", ShownText("a\u202e" "exe.txt\u2066\u2069\u202a"));
    // Overlong and surrogate forms, and a sequence cut short.
    EXPECT_EQ("\\xc0\\xaf \\xed\\xa0\\x80 \\xd0", ShownText("\xc0\xaf \xed\xa0\x80 \xd0"));
}

TEST(ShownText, AFieldKeepsToItsLine) {
    EXPECT_EQ("Owner\\nFAKE ROW\\tx", ShownField("Owner\nFAKE ROW\tx"));
    EXPECT_EQ("Владелец", ShownField("Владелец"));
}

TEST(ShownText, JsonStaysTheSameJson) {
    nlohmann::json value = {{"name", "Bin\x1b[2J\xc2\x9b\u202e\x7f" "Корзина"}, {"n", 1}};
    const std::string dumped = value.dump(2, ' ', false);
    const std::string shown = ShownJson(dumped);
    EXPECT_EQ(std::string::npos, shown.find('\x1b'));
    EXPECT_EQ(std::string::npos, shown.find("\xc2\x9b"));
    EXPECT_EQ(std::string::npos, shown.find("\u202e"));
    EXPECT_NE(std::string::npos, shown.find("Корзина"));
    EXPECT_EQ(value, nlohmann::json::parse(shown));
}

}  // namespace
}  // namespace kestro
