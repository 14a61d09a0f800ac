// kestroctl's texts for people, in the user's language. Every message, help
// line and table word is written in English in the code, inside Tr(), and
// ctl/po/ru.po gives its Russian text: natively through glibc's gettext
// (the .mo built from ru.po), on Windows through a table generated from the
// same ru.po at build time. Names of settings, states typed on the command
// line and the file formats are never translated.
//
// The engine's texts for people (Localized() below ctl/) come through
// TrFormat too: main sets it as the engine's translator, and their Russian
// is in the same ru.po.
//
// Adding a message: write it in Tr("...") (or Localized("...") in the
// engine), run scripts/update-po, fill in its msgstr in ctl/po/ru.po; the
// messages test names any message left without.
#pragma once

#include <string>
#include <vector>

#include "core/localized.h"

namespace kestro {

enum class Language { English, Russian };

// The language of the texts from now on; English until told otherwise.
void UseLanguage(Language language);
Language MessageLanguage();
// Called after each UseLanguage: for texts made ahead of their use (a
// signal handler's, which may not translate).
void OnLanguageChosen(void (*listener)());

// The user's language: natively the locale's messages category (LANGUAGE,
// LC_ALL, LC_MESSAGES, LANG), on Windows the user's UI language. Russian
// when that is Russian, English otherwise.
Language UserLanguage();

// The text of `english` in the chosen language (itself when it has none).
const char* Tr(const char* english);

// N_ marks a table's text, ArgumentText makes an argument text: both
// core/localized.h's, shared with the engine's Localized().

// The same with %1 .. %9 replaced by the arguments, which the translation
// may place in another order. The engine's translator (SetTranslator).
std::string TrFormat(const char* english, const std::vector<std::string>& arguments);
template <typename... Arguments>
std::string Tr(const char* english, const Arguments&... arguments) {
    return TrFormat(english, {ArgumentText(arguments)...});
}

// The number of characters of a UTF-8 text, for lining up columns.
std::size_t DisplayWidth(const std::string& utf8);

}  // namespace kestro
