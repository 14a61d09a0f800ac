// Texts the engine makes for people (errors, refusals, notes), in the
// program's language. The engine cannot reach a program's catalogue, so it
// writes each text in English inside Localized() and the program, at its
// start, hands over the translator that gives the text in the user's
// language (kestroctl's: its TrFormat, over ctl/po/ru.po, where
// scripts/update-po collects these texts too). With none set, the English
// text with its places filled in.
//
// The places are %1 .. %9, filled by the arguments in their order; a
// translation may put them in another. A text kept in a table is marked
// with N_ where it is written and passed to Localized() where it is shown.
#pragma once

#include <string>
#include <vector>

namespace kestro {

// Gives `english` in the chosen language, with %1 .. %9 replaced by the
// arguments.
using Translator = std::string (*)(const char* english, const std::vector<std::string>& arguments);

// The translator of the program from now on; nullptr for English.
void SetTranslator(Translator translator);

// Marks a text to translate where it is defined (a table's), for
// Localized() or the program's own Tr() where it is shown.
constexpr const char* N_(const char* english) { return english; }

// How an argument becomes text.
inline std::string ArgumentText(const std::string& text) { return text; }
inline std::string ArgumentText(const char* text) { return text; }
inline std::string ArgumentText(char* text) { return text; }  // strerror's
template <typename Number>
std::string ArgumentText(Number number) {
    return std::to_string(number);
}

// `english` with its places filled, through the translator.
std::string LocalizedFormat(const char* english, const std::vector<std::string>& arguments);
template <typename... Arguments>
std::string Localized(const char* english, const Arguments&... arguments) {
    return LocalizedFormat(english, {ArgumentText(arguments)...});
}

// %1 .. %9 of `pattern` replaced by the arguments (a place with no argument
// becomes nothing); every other character as it is.
std::string FillPlaces(const std::string& pattern, const std::vector<std::string>& arguments);

}  // namespace kestro
