#include "core/environment.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>

#include "core/text.h"
#endif

namespace kestro {

namespace {
constexpr unsigned kBufferSize = 256;
}

#ifdef _WIN32

std::string ExpandEnvironment(const char* text) {
    char buffer[kBufferSize] = {};
    // An expansion that does not fit leaves the buffer undefined: give the
    // empty text then rather than a truncated path.
    DWORD needed = ExpandEnvironmentStringsA(text, buffer, kBufferSize);
    if (needed == 0 || needed > kBufferSize) return std::string();
    buffer[kBufferSize - 1] = '\0';
    return buffer;
}

#else

std::string ExpandEnvironment(const char* text) {
    // The same rules as ExpandEnvironmentStringsA: names between two '%'
    // are looked up without regard to case, unset ones stay as written.
    std::string out;
    std::string in = text;
    size_t i = 0;
    while (i < in.size()) {
        size_t close = in[i] == '%' ? in.find('%', i + 1) : std::string::npos;
        if (close == std::string::npos) {
            out += in[i++];
            continue;
        }
        std::string name = in.substr(i + 1, close - i - 1);
        const char* value = nullptr;
        for (char** env = environ; *env && !value; ++env) {
            std::string entry = *env;
            size_t eq = entry.find('=');
            if (eq != name.size()) continue;
            if (SameAsciiNoCase(entry.substr(0, eq), name)) value = *env + eq + 1;
        }
        if (value && !name.empty()) {
            out += value;
            i = close + 1;
        } else {
            out += '%';
            out += name;
            i = close;  // the closing '%' may open the next reference
        }
    }
    return out.size() + 1 > kBufferSize ? std::string() : out;
}

#endif

}  // namespace kestro
