// Writes the seed corpora of the .reg and Registry.pol targets: the files
// the project's own writers make of every setting of the catalogue, and the
// malformed files the readers' tests refuse; and hives as the offline tests
// make them, sound and damaged; and dirty hives with logs of our own making.
// Run it again after a change to a layout:
//   fuzz_seed_writer tests/fuzz/corpus
// With a folder of hives Windows left dirty (../shared/testdata/dirty-hives)
// and a second folder, it writes those as hive_log inputs there instead:
//   fuzz_seed_writer --windows-logs DIRTY-HIVES FOLDER
#include "ctl/profile.h"
#include "ctl/writes.h"
#include "formats/layout.h"
#include "formats/policy_file.h"
#include "formats/reg_file.h"
#include "settings/catalogue.h"
#include "core/bytes.h"
#include "tests/support/hive_files.h"
#include "tests/support/log_files.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

using namespace kestro;
using Bytes = std::vector<std::uint8_t>;

namespace {

void Save(const std::string& dir, const std::string& name, const Bytes& bytes) {
    std::ofstream out(dir + "/" + name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) std::fprintf(stderr, "cannot write %s/%s\n", dir.c_str(), name.c_str());
}

void Put16(Bytes& out, const std::u16string& text) {
    for (char16_t c : text) {
        out.push_back(static_cast<std::uint8_t>(c & 0xFF));
        out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
}

// Every setting as its control put down would store it, through the
// writers themselves; the texts in Russian.
std::vector<RegValue> CatalogueValues(bool down) {
    Profile profile;
    for (const Setting& row : kCatalogue) {
        const ValueKind kind = KindOf(row);
        if (kind == ValueKind::Action) continue;
        profile.entries.push_back({&row,
                                   kind == ValueKind::Toggle   ? SettingValue::Toggle(down)
                                   : kind == ValueKind::Number ? SettingValue::Number(down ? -2 : 25)
                                                               : SettingValue::Text(down ? L"Корзина \"для\" C:\\мусора" : L""),
                                   0});
    }
    return RegistryValuesFor(profile);
}

Bytes RegText(const std::u16string& text) {
    Bytes out = {0xFF, 0xFE};
    Put16(out, text);
    return out;
}

Bytes PolEntry(const std::u16string& key, const std::u16string& name, std::uint32_t type, const Bytes& data,
               std::uint32_t size) {
    Bytes out;
    auto u32 = [&](std::uint32_t n) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
    };
    Put16(out, u"[" + key + std::u16string(1, u'\0') + u";" + name + std::u16string(1, u'\0') + u";");
    u32(type);
    Put16(out, u";");
    u32(size);
    Put16(out, u";");
    out.insert(out.end(), data.begin(), data.end());
    Put16(out, u"]");
    return out;
}

Bytes PolFile(const std::vector<Bytes>& entries) {
    Bytes out = {'P', 'R', 'e', 'g', 1, 0, 0, 0};
    for (const Bytes& e : entries) out.insert(out.end(), e.begin(), e.end());
    return out;
}

}  // namespace

// One hive_log input: the lengths of the primary, LOG1 and LOG2, then
// those, then NAME.LOG.
Bytes LogInput(const std::string& primary, const std::string& log1, const std::string& log2, const std::string& log) {
    std::string out(12, '\0');
    StoreLe32(&out[0], static_cast<std::uint32_t>(primary.size()));
    StoreLe32(&out[4], static_cast<std::uint32_t>(log1.size()));
    StoreLe32(&out[8], static_cast<std::uint32_t>(log2.size()));
    out += primary + log1 + log2 + log;
    return Bytes(out.begin(), out.end());
}

int WindowsLogs(const std::string& from, const std::string& to) {
    auto read = [&from](const std::string& name) { return test::ReadFile(from + "/" + name); };
    Save(to, "windows-old-format.bin",
         LogInput(read("OldDirtyHive/OldDirtyHive"), read("OldDirtyHive/OldDirtyHive.LOG1"), "", ""));
    Save(to, "windows-new-format.bin",
         LogInput(read("NewDirtyHive1/NewDirtyHive"), read("NewDirtyHive1/NewDirtyHive.LOG1"),
                  read("NewDirtyHive1/NewDirtyHive.LOG2"), ""));
    for (const char* bad : {"BadLogHive1", "BadLogHive2", "BadLogHive3"}) {
        const std::string dir = std::string(bad) + "/BadLogHive";
        Save(to, std::string("windows-") + bad + ".bin",
             LogInput(read(dir), read(dir + ".LOG1"), read(dir + ".LOG2"), ""));
    }
    return 0;
}

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--windows-logs") return WindowsLogs(argv[2], argv[3]);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS-FOLDER\n       %s --windows-logs DIRTY-HIVES FOLDER\n", argv[0],
                     argv[0]);
        return 2;
    }
    const std::string reg = std::string(argv[1]) + "/reg_file", pol = std::string(argv[1]) + "/policy_file";

    // What the writers make.
    Save(reg, "export-all-down.reg", WriteRegFile(CatalogueValues(true)));
    Save(reg, "export-all-up.reg", WriteRegFile(CatalogueValues(false)));
    Save(reg, "export-empty.reg", WriteRegFile({}));
    PolicyFiles down = WritePolicyFiles(CatalogueValues(true));
    Save(pol, "user-all-down.pol", down.user);
    Save(pol, "machine-all-down.pol", down.machine);
    Save(pol, "machine-all-up.pol", WritePolicyFiles(CatalogueValues(false)).machine);

    // What the readers take beyond that, and what they refuse.
    const std::u16string head = u"Windows Registry Editor Version 5.00\r\n";
    const std::u16string k = u"[HKEY_CURRENT_USER\\Software\\K]\r\n";
    const std::pair<const char*, std::u16string> regCases[] = {
        {"lenient.reg", u"Windows Registry Editor Version 5.00\n; a comment\n   \n[hkey_local_machine\\SYSTEM\\x]\r\n"
                        u"\"start\"=dword:4\n\"Text\"=\"\"\r\n@=dword:FFFFFFFF\n"},
        {"value-before-key.reg", head + u"\"NoRun\"=dword:1\r\n"},
        {"unknown-root.reg", head + u"\r\n[HKEY_USERS\\x]\r\n"},
        {"root-alone.reg", head + u"[HKEY_CURRENT_USER]\r\n"},
        {"empty-level.reg", head + u"[HKEY_CURRENT_USER\\a\\\\b]\r\n"},
        {"delete-key.reg", head + u"[-HKEY_CURRENT_USER\\a]\r\n"},
        {"delete-value.reg", head + k + u"\"v\"=-\r\n"},
        {"hex.reg", head + k + u"\"v\"=hex(2):41,00\r\n"},
        {"long-dword.reg", head + k + u"\"v\"=dword:123456789\r\n"},
        {"open-quote.reg", head + k + u"\"v\"=\"open\r\n"},
        {"bad-escape.reg", head + k + u"\"v\"=\"a\\nb\"\r\n"},
        {"lone-cr.reg", head + k + u"\"v\"=dword:1\rx\n"},
        {"cut-short.reg", head + k + u"\"v\"=dword:1"},
        {"zero-char.reg", head + k + u"\"v\"=\"a" + std::u16string(1, u'\0') + u"\"\r\n"},
        {"long-name.reg", head + k + u"\"" + std::u16string(layout::kMaxValueNameChars + 1, u'n') + u"\"=dword:1\r\n"},
        {"long-key.reg", head + u"[HKEY_CURRENT_USER\\" + std::u16string(256, u'k') + u"]\r\n"},
        {"escapes-and-cyrillic.reg", head + k + u"\"\\\\\\\"Имя\"=\"\\\"Ж\\\\\"\r\n"},
        {"regedit4.reg", u"REGEDIT4\r\n"},
    };
    for (const auto& c : regCases) Save(reg, c.first, RegText(c.second));
    Bytes noBom;
    Put16(noBom, head);
    Save(reg, "no-bom.reg", noBom);
    Bytes odd = RegText(head);
    odd.push_back('x');
    Save(reg, "odd-length.reg", odd);

    const Bytes one = {1, 0, 0, 0};
    const std::pair<const char*, Bytes> polCases[] = {
        {"other-types.pol", PolFile({PolEntry(u"Software\\Policies\\K", u"**del.Foo", 1, {' ', 0, 0, 0}, 4),
                                     PolEntry(u"Software\\Policies\\K", u"Path", 2, {'%', 0, 'x', 0, 0, 0}, 6),
                                     PolEntry(u"Software\\Policies\\K", u"Bin", 3, {1, 2, 3}, 3),
                                     PolEntry(u"Software\\Policies\\K", u"Q", 11, {1, 0, 0, 0, 0, 0, 0, 0}, 8)})},
        {"signature.pol", {'P', 'R', 'e', 'x', 1, 0, 0, 0}},
        {"version-2.pol", {'P', 'R', 'e', 'g', 2, 0, 0, 0}},
        {"size-past-end.pol", PolFile({PolEntry(u"K", u"v", 3, {}, 0x8000)})},
        {"size-too-big.pol", PolFile({PolEntry(u"K", u"v", 4, one, 8)})},
        {"size-too-small.pol", PolFile({PolEntry(u"K", u"v", 4, one, 2)})},
        {"dword-of-two.pol", PolFile({PolEntry(u"K", u"v", 4, {1, 0}, 2)})},
        {"odd-text.pol", PolFile({PolEntry(u"K", u"v", 1, {'a', 0, 0}, 3)})},
        {"unknown-type.pol", PolFile({PolEntry(u"K", u"v", 99, one, 4)})},
        {"empty-level.pol", PolFile({PolEntry(u"K\\\\L", u"v", 4, one, 4)})},
        {"long-key.pol", PolFile({PolEntry(std::u16string(256, u'k'), u"v", 4, one, 4)})},
        {"header-only.pol", PolFile({})},
    };
    for (const auto& c : polCases) Save(pol, c.first, c.second);

    // Profiles as kestroctl save writes them, and the faults its reader names.
    const std::string prof = std::string(argv[1]) + "/profile";
    auto saveText = [&](const std::string& name, const std::string& text) {
        Save(prof, name, Bytes(text.begin(), text.end()));
    };
    for (bool down : {true, false}) {
        Profile profile;
        for (const Setting& row : kCatalogue) {
            if (!row.HasState()) continue;
            SettingValue value = KindOf(row) == ValueKind::Toggle   ? SettingValue::Toggle(down)
                                 : KindOf(row) == ValueKind::Number ? SettingValue::Number(down ? -2 : 15)
                                                                    : SettingValue::Text(down ? L" Корзина \"x\" " : L"");
            profile.entries.push_back({&row, value, 0});
        }
        saveText(down ? "saved-all-on.ini" : "saved-all-off.ini", WriteProfile(profile, {"Wallpaper is not set"}));
    }
    const std::pair<const char*, std::string> profileCases[] = {
        {"lenient.ini", "\xEF\xBB\xBF; a comment\r\n  # another\r\n\r\n[kestro]\r\n  norun=ON  \r\n"
                        "MaxRecentDocs = -1\r\nRecycleBinName = \"  two spaces each side  \"\r\n"
                        "RecycleBinInfoTip = a=b; c\r\nusbstorageoff = off"},
        {"unknown-setting.ini", "[Kestro]\nNoRun = on\nNoSuchThing = on\n"},
        {"not-on-off.ini", "[Kestro]\nNoRun = yes\n"},
        {"number-too-big.ini", "[Kestro]\nMaxRecentDocs = 2147483648\n"},
        {"entry-before-section.ini", "NoRun = on\n[Kestro]\n"},
        {"second-section.ini", "[Kestro]\n[Kestro]\n"},
        {"open-section.ini", "[Kestro\n"},
        {"given-twice.ini", "[Kestro]\nNoRun = on\r\nnorun = off\n"},
        {"action.ini", "[Kestro]\nSearchHistory = on\n"},
        {"not-utf8.ini", "[Kestro]\nRecycleBinName = \xC0\xAF\n"},
        {"utf16.ini", std::string("\xFF\xFE[\0K\0", 6)},
        {"long-text.ini", "[Kestro]\nWallpaper = \"" + std::string(kMaxProfileTextChars + 1, 'w') + "\"\n"},
    };
    for (const auto& c : profileCases) saveText(c.first, c.second);

    // Hives: empty, the offline tests' three, and the damage they refuse.
    const std::string hive = std::string(argv[1]) + "/hive";
    test::TempDir tmp;
    auto make = [&](const std::string& name, const char* fixture) {
        std::string file = tmp / name;
        test::WriteEmptyHive(file);
        if (fixture && !test::MergeReg(file, test::ReadFile(std::string(KESTRO_OFFLINE_FIXTURES) + "/" + fixture)))
            std::fprintf(stderr, "hivexregedit refused %s\n", fixture);
        return test::ReadFile(file);
    };
    auto save = [&](const std::string& name, const std::string& bytes) { Save(hive, name, Bytes(bytes.begin(), bytes.end())); };
    save("empty.dat", make("empty", nullptr));
    save("system.dat", make("system", "system.reg"));
    save("software.dat", make("software", "software.reg"));
    std::string user = make("ntuser", "ntuser.reg");
    save("ntuser.dat", user);
    std::string dirty = user;
    dirty[8] = static_cast<char>(dirty[8] + 1);
    save("dirty.dat", dirty);
    save("truncated.dat", user.substr(0, user.size() - 0x1000));
    save("base-block-only.dat", user.substr(0, 0x1000));
    save("short.dat", user.substr(0, 0x20));

    // Dirty hives whose logs carry DisableTaskMgr=1 over a file holding 0.
    const std::string logs = std::string(argv[1]) + "/hive_log";
    std::string newer = user;
    test::SetSequence(newer, 5, 5);
    std::string older = newer;
    test::PatchDword(older, "disabletaskmgr", 0);
    std::string newest = newer;
    test::PatchDword(newest, "NoRun", 0);
    std::string primary = older;
    test::SetSequence(primary, 6, 5);
    const std::string oldLog = test::MakeOldFormatLog(older, newer, 6);
    const std::string log1 = test::MakeNewFormatLog(newer, {{6, newest}});
    const std::string log2 = test::MakeNewFormatLog(older, {{5, newer}});
    Save(logs, "old-format-xp.bin", LogInput(primary, "", "", oldLog));
    Save(logs, "old-format-vista.bin", LogInput(primary, oldLog, "", ""));
    Save(logs, "new-format-two-logs.bin", LogInput(primary, log1, log2, ""));
    Save(logs, "new-format-torn-entry.bin", LogInput(primary, log1.substr(0, log1.size() - 512), log2, ""));
    Save(logs, "clean-hive.bin", LogInput(newer, log1, log2, oldLog));
    std::string damagedBase = primary;
    damagedBase[0x40] ^= 1;
    Save(logs, "damaged-base-block.bin", LogInput(damagedBase, log1, log2, ""));
    return 0;
}
