// kestroctl's entry: the arguments as UTF-8, the store of this system, and
// a console that shows Cyrillic wherever the output goes.
#include "ctl/commands.h"
#include "ctl/messages.h"
#include "core/display_text.h"
#include "core/text.h"

#ifdef _WIN32
#include "ctl/policy_broadcast_win.h"
#include "registry/win_registry.h"
#include "settings/windows_version.h"

#include <windows.h>

#include <algorithm>
#else
#include "ctl/interrupt.h"
#include "ctl/offline_store.h"

#include <clocale>
#include <cstdio>
#include <libintl.h>
#include <unistd.h>
#endif

namespace {

using namespace kestro;

#ifdef _WIN32

// On a console, wide text through WriteConsoleW: right under any code page,
// 866 included. Redirected, text for people in the console's code page (what
// `type` and `more` then show right) and --json in UTF-8, with CRLF line ends.
class WindowsConsole final : public Console {
public:
    // Every line through ShownText (ShownJson): nothing a registry value or
    // a file name holds drives the console or a terminal it is piped to.
    void Out(const std::string& text) override { Write(STD_OUTPUT_HANDLE, ShownText(text), false); }
    void Json(const std::string& text) override { Write(STD_OUTPUT_HANDLE, ShownJson(text), true); }
    void Err(const std::string& text) override { Write(STD_ERROR_HANDLE, ShownText(text), false); }

private:
    static void Write(DWORD which, const std::string& utf8, bool utf8Bytes) {
        HANDLE handle = GetStdHandle(which);
        if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return;
        std::string text;
        for (char c : utf8) {
            if (c == '\n') text += '\r';
            text += c;
        }
        DWORD mode = 0, done = 0;
        if (GetConsoleMode(handle, &mode)) {
            const std::wstring wide = Utf8ToWide(text);
            WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &done, nullptr);
            return;
        }
        if (!utf8Bytes) {
            UINT codePage = GetConsoleOutputCP();
            if (codePage == 0) codePage = GetOEMCP();  // no console at all
            std::wstring wide = Utf8ToWide(text);
            // The WINDOWS column's dash ("XP–7"), which no OEM code page has.
            if (codePage != CP_UTF8) std::replace(wide.begin(), wide.end(), L'\u2013', L'-');
            const int size = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                                 nullptr, nullptr);
            std::string bytes(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
            if (size > 0)
                WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), &bytes[0], size, nullptr,
                                    nullptr);
            text = bytes;
        }
        WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
    }
};

class SystemRegistry final : public StoreProvider {
public:
    RegistryStore* Open(const StoreUse&, std::string*, int*) override { return &store_; }
    PolicyBroadcaster* Broadcaster() override { return &broadcaster_; }
    bool KernelVersion(unsigned* major, unsigned* minor, unsigned* build) override {
        return RunningKernelVersion(major, minor, build);
    }

private:
    WinRegistryStore store_;
    SystemPolicyBroadcaster broadcaster_;
};

#else

// The Russian texts' catalogue, share/locale beside the program's folder:
// /usr/share/locale for /usr/bin/kestroctl, and in the build tree the one
// the build makes. Only the messages' category follows the locale: numbers
// and character classes stay C's, as the formats need.
void OpenMessageCatalogue() {
    std::setlocale(LC_MESSAGES, "");
    std::string self(4096, '\0');
    const ssize_t size = readlink("/proc/self/exe", &self[0], self.size());
    std::string locale = "/usr/share/locale";
    if (size > 0 && static_cast<std::size_t>(size) < self.size()) {
        self.resize(static_cast<std::size_t>(size));
        locale = self.substr(0, self.find_last_of('/')) + "/../share/locale";
    }
    bindtextdomain("kestroctl", locale.c_str());
    bind_textdomain_codeset("kestroctl", "UTF-8");
    // strerror's texts come from the C library's own catalogue, converted
    // to the character set of LC_CTYPE, which stays C's: Russian ones
    // would be spelt in Latin letters ("Net takogo fajla").
    bind_textdomain_codeset("libc", "UTF-8");
}

class StdioConsole final : public Console {
public:
    // Every line through ShownText (ShownJson): the names and values of an
    // offline Windows are the attacker's, and reach root's terminal.
    void Out(const std::string& text) override { Write(ShownText(text), stdout); }
    void Json(const std::string& text) override { Write(ShownJson(text), stdout); }
    void Err(const std::string& text) override { Write(ShownText(text), stderr); }

private:
    // fwrite, not fputs: a NUL a value holds is shown escaped, not a cut.
    static void Write(const std::string& text, std::FILE* to) { std::fwrite(text.data(), 1, text.size(), to); }
};

#endif

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.push_back(WideToUtf8(argv[i]));
    WindowsConsole console;
    SystemRegistry stores;
    SetTranslator(TrFormat);  // the engine's texts too, in the chosen language
    UseLanguage(UserLanguage());
    return RunKestroctl(arguments, stores, console);
}
#else
int main(int argc, char** argv) {
    InstallInterruptHandlers();  // first: a Ctrl+C from here on ends as the handler says
    std::vector<std::string> arguments(argv + 1, argv + argc);
    OpenMessageCatalogue();
    SetTranslator(TrFormat);  // the engine's texts too, in the chosen language
    OnLanguageChosen(PrepareInterruptTexts);  // --lang may choose again
    UseLanguage(UserLanguage());
    StdioConsole console;
    int code;
    {
        // Off Windows there is no live registry: only the hives of an
        // offline one. A run that changed files holds the signals until
        // the provider goes.
        OfflineStoreProvider stores(console);
        code = RunKestroctl(arguments, stores, console);
    }
    if (const int signal = HeldSignal()) {
        console.Err(InterruptedAfterWriteLine(signal));
        return InterruptedExitCode(signal);
    }
    return code;
}
#endif
