#include "core/localized.h"

namespace kestro {

namespace {

// Set once, by the program's start, before any text is made.
Translator translator = nullptr;

}  // namespace

void SetTranslator(Translator chosen) { translator = chosen; }

std::string LocalizedFormat(const char* english, const std::vector<std::string>& arguments) {
    return translator ? translator(english, arguments) : FillPlaces(english, arguments);
}

std::string FillPlaces(const std::string& pattern, const std::vector<std::string>& arguments) {
    std::string text;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
        if (pattern[i] == '%' && next >= '1' && next <= '9') {
            const std::size_t n = static_cast<std::size_t>(next - '1');
            if (n < arguments.size()) text += arguments[n];
            ++i;
        } else {
            text += pattern[i];
        }
    }
    return text;
}

}  // namespace kestro
