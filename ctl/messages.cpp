#include "ctl/messages.h"

#include <algorithm>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <clocale>
#include <cstdlib>
#include <libintl.h>
#endif

// The Russian texts as a table compiled in: on Windows, and in the static
// kestroctl, which cannot count on a rescue system's gettext catalogues
// and locales. Otherwise glibc's gettext, over the installed .mo.
#if defined(_WIN32) || defined(KESTRO_BUILTIN_MESSAGES)
#define KESTRO_MESSAGE_TABLE 1
#endif

namespace kestro {

namespace {

Language chosen = Language::English;

#ifdef KESTRO_MESSAGE_TABLE

struct Translation {
    const char* english;
    const char* text;
};

// ctl/po/ru.po as a table sorted by the English text (made at build time
// by ctl/po/po_table.py): kRussian, kRussianCount.
#include "messages_ru.inc"

const char* Russian(const char* english) {
    const Translation* end = kRussian + kRussianCount;
    const Translation* found = std::lower_bound(kRussian, end, english, [](const Translation& t, const char* key) {
        return std::strcmp(t.english, key) < 0;
    });
    return found != end && std::strcmp(found->english, english) == 0 ? found->text : english;
}

#else

constexpr char kDomain[] = "kestroctl";

#endif

}  // namespace

void (*languageListener)() = nullptr;

void UseLanguage(Language language) {
    chosen = language;
#ifndef KESTRO_MESSAGE_TABLE
    if (language == Language::Russian) {
        // Russian whatever the locale says: gettext reads LANGUAGE first, but
        // never in the "C" locale, whose messages are the program's own.
        setenv("LANGUAGE", "ru", 1);
        const char* messages = std::setlocale(LC_MESSAGES, nullptr);
        if (!messages || std::strcmp(messages, "C") == 0 || std::strcmp(messages, "POSIX") == 0)
            std::setlocale(LC_MESSAGES, "C.UTF-8");
    }
#endif
    if (languageListener) languageListener();
}

void OnLanguageChosen(void (*listener)()) { languageListener = listener; }

Language MessageLanguage() { return chosen; }

#ifndef _WIN32
namespace {

// As gettext chooses from the locale of the messages category: English in
// C, else LANGUAGE's first language where it is set, else that locale's.
Language LanguageFor(const char* messages) {
    if (!messages || !*messages || std::strcmp(messages, "C") == 0 || std::strcmp(messages, "POSIX") == 0)
        return Language::English;
    const char* language = std::getenv("LANGUAGE");
    const char* first = language && *language ? language : messages;
    return std::strncmp(first, "ru", 2) == 0 ? Language::Russian : Language::English;
}

}  // namespace
#endif

Language UserLanguage() {
#if defined(_WIN32)
    return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_RUSSIAN ? Language::Russian : Language::English;
#elif defined(KESTRO_MESSAGE_TABLE)
    // The locale from the environment alone: a live system often lacks the
    // locale it names (ru_RU.UTF-8 not generated), and the static C library
    // may not read the system's locale files at all.
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* messages = std::getenv(name);
        if (messages && *messages) return LanguageFor(messages);
    }
    return Language::English;
#else
    // The locale setlocale took from LC_ALL, LC_MESSAGES or LANG.
    return LanguageFor(std::setlocale(LC_MESSAGES, nullptr));
#endif
}

const char* Tr(const char* english) {
    if (chosen == Language::English || !*english) return english;
#ifdef KESTRO_MESSAGE_TABLE
    return Russian(english);
#else
    return dgettext(kDomain, english);
#endif
}

std::string TrFormat(const char* english, const std::vector<std::string>& arguments) {
    return FillPlaces(Tr(english), arguments);
}

std::size_t DisplayWidth(const std::string& utf8) {
    // Every byte but the continuation bytes starts a character.
    return static_cast<std::size_t>(
        std::count_if(utf8.begin(), utf8.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

}  // namespace kestro
