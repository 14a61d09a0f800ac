// Sample files for the outside consumers of our exports (Samba's parser, a
// Samba domain controller, Wine's reg.exe), and our own readers as a command
// so that a script can hold them against those consumers. The values are
// those kestroctl exports for a profile: the writers' own, collected from
// an in-memory registry.
//
//   kestro_format_samples write DIR         sample.reg, User/ and Machine/Registry.pol, expected.tsv,
//                                           gpo/, `kestroctl export gpo` of the same values, and
//                                           admx/, `kestroctl export admx`
//   kestro_format_samples read-pol FILE user|machine
//   kestro_format_samples read-reg FILE
//
// The readers print one line per value: root, key path, value name, type and
// data in hexadecimal, separated by tabs. A file they refuse gives its
// message on stderr and exit code 2.
#include "ctl/export_admx.h"
#include "ctl/export_gpo.h"
#include "ctl/profile.h"
#include "ctl/writes.h"
#include "formats/file_bytes.h"
#include "formats/layout.h"
#include "formats/policy_file.h"
#include "formats/reg_file.h"
#include "formats/values.h"

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <sys/stat.h>

#ifdef _WIN32
#include <direct.h>
#endif

namespace {

using namespace kestro;

std::string Hex(const std::vector<std::uint8_t>& data) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::uint8_t b : data) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::string Line(const RegValue& v) {
    return StrictUtf16ToUtf8(RootName(v.root)) + "\t" + v.keyPath + "\t" + v.name + "\t" + std::to_string(v.type) + "\t" +
           Hex(v.data) + "\n";
}

void MakeDir(const std::string& path) {
#ifdef _WIN32
    _mkdir(path.c_str());
#else
    mkdir(path.c_str(), 0755);
#endif
}

void Put(const std::string& path, const std::string& text) {
    WriteFileBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

// Every shape of setting: plain toggles on and off, the font-smoothing
// triple, the inverted AutoRun, device start types 4 and 3, a negative
// number, and Cyrillic texts with quotes, backslashes, or nothing at all.
std::vector<RegValue> SampleProfileValues() {
    Profile profile;
    const auto add = [&](const char* name, SettingValue value) {
        profile.entries.push_back({FindSettingByName(name), std::move(value), 0});
    };
    add("NoRun", SettingValue::Toggle(true));
    add("NoFind", SettingValue::Toggle(false));
    add("MaxRecentDocs", SettingValue::Number(-1));
    add("FontSmoothing", SettingValue::Toggle(true));
    add("Wallpaper", SettingValue::Text(L"C:\\Мои рисунки\\закат.bmp"));
    add("CdAutorunOff", SettingValue::Toggle(true));
    add("CdromOff", SettingValue::Toggle(true));
    add("UsbStorageOff", SettingValue::Toggle(false));
    add("RecycleBinName", SettingValue::Text(L"Корзина \"для\" мусора \\ 100%"));
    add("RecycleBinInfoTip", SettingValue::Text(L""));
    return RegistryValuesFor(profile);
}

// The export's messages, as kestroctl prints them.
class StreamConsole final : public Console {
public:
    void Out(const std::string& text) override { std::cout << text; }
    void Json(const std::string& text) override { std::cout << text; }
    void Err(const std::string& text) override { std::cerr << text; }
};

// A name with what must be escaped in XML, CDATA and the shell.
constexpr char kGpoName[] = "Kestro: класс 5 & \"гости\" ]]> 'x'";

int Write(const std::string& dir) {
    std::vector<RegValue> values = SampleProfileValues();
    MakeDir(dir);
    MakeDir(dir + "/User");
    MakeDir(dir + "/Machine");
    WriteFileBytes(dir + "/sample.reg", WriteRegFile(values));
    PolicyFiles pol = WritePolicyFiles(values);
    WriteFileBytes(dir + "/User/Registry.pol", pol.user);
    WriteFileBytes(dir + "/Machine/Registry.pol", pol.machine);
    // What each file must hold, in file order: .reg lines first, then each
    // policy file's, tagged with the file's name.
    std::string expected;
    for (const RegValue& v : SortedForExport(values)) expected += "reg\t" + Line(v);
    std::vector<RegValue> placed;
    for (const RegValue& v : values) placed.push_back(ToPolicyLocation(v));
    for (const RegValue& v : SortedForExport(placed))
        expected += std::string(v.root == kHkeyCurrentUser ? "User" : "Machine") + "\t" + Line(v);
    Put(dir + "/expected.tsv", expected);
    // An export goes into a folder of its own: the last run's goes first.
    std::filesystem::remove_all(dir + "/gpo");
    StreamConsole console;
    const int code = ExportGpo(values, dir + "/gpo", kGpoName, NewGpoStamp(), console);
    if (code != kExitOk) return code;
    Put(dir + "/gpo-name.txt", kGpoName);
    return ExportAdmx(dir + "/admx", console);
}

int Read(const std::string& path, const std::string& kind) {
    try {
        std::vector<std::uint8_t> bytes = ReadFileBytes(path, layout::kMaxFileBytes);
        std::vector<RegValue> values;
        if (kind == "reg")
            values = ReadRegFile(bytes);
        else
            values = ReadPolicyFile(bytes, kind == "user" ? PolicyScope::User : PolicyScope::Machine);
        for (const RegValue& v : values) std::cout << Line(v);
        return 0;
    } catch (const std::exception& e) {
        std::cerr << path << ": " << e.what() << "\n";
        return 2;
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string command = argc > 1 ? argv[1] : "";
    if (command == "write" && argc == 3) return Write(argv[2]);
    if (command == "read-pol" && argc == 4 && (std::string(argv[3]) == "user" || std::string(argv[3]) == "machine"))
        return Read(argv[2], argv[3]);
    if (command == "read-reg" && argc == 3) return Read(argv[2], "reg");
    std::cerr << "usage: kestro_format_samples write DIR | read-pol FILE user|machine | read-reg FILE\n";
    return 1;
}
