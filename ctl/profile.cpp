#include "ctl/profile.h"
#include "ctl/messages.h"

#include "core/text.h"

namespace kestro {

namespace {

std::string Trim(const std::string& s) {
    std::size_t begin = 0, end = s.size();
    while (begin < end && (s[begin] == ' ' || s[begin] == '\t')) ++begin;
    while (end > begin && (s[end - 1] == ' ' || s[end - 1] == '\t')) --end;
    return s.substr(begin, end - begin);
}

}  // namespace

bool ReadProfile(const std::string& bytes, Profile* profile, ProfileError* error) {
    const auto fail = [&](int line, std::string message) {
        error->line = line;
        error->message = std::move(message);
        return false;
    };
    if (bytes.size() > kMaxProfileBytes)
        return fail(0, Tr("the file is larger than %1 bytes: not a profile", kMaxProfileBytes));
    std::string text = bytes;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    if (text.find('\0') != std::string::npos) return fail(0, Tr("not a text file (it holds zero bytes; UTF-16?)"));

    Profile result;
    bool inSection = false, sawSection = false;
    int number = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() > kMaxProfileLineBytes)
            return fail(number, Tr("the line is longer than %1 bytes", kMaxProfileLineBytes));
        if (!IsValidUtf8(line)) return fail(number, Tr("not UTF-8 text"));
        line = Trim(line);
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[') {
            if (line.back() != ']') return fail(number, Tr("a section name must end with ]"));
            const std::string section = Trim(line.substr(1, line.size() - 2));
            if (!SameAsciiNoCase(section, "Kestro")) return fail(number, Tr("unknown section [%1]: only [Kestro]", section));
            if (sawSection) return fail(number, Tr("a second [Kestro] section"));
            inSection = sawSection = true;
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) return fail(number, Tr("expected Name = value"));
        if (!inSection) return fail(number, Tr("an entry before the [Kestro] section"));
        const std::string name = Trim(line.substr(0, equals));
        const std::string value = Trim(line.substr(equals + 1));
        if (name.empty()) return fail(number, Tr("a value without a name"));
        const Setting* row = FindSettingByName(name);
        if (!row) return fail(number, Tr("unknown setting '%1'", name));
        if (!row->HasState()) return fail(number, Tr("%1 is an action, not a setting", row->name));
        for (const ProfileEntry& entry : result.entries)
            if (entry.row == row)
                return fail(number, Tr("%1 was given already on line %2", row->name, entry.line));
        ProfileEntry entry;
        entry.row = row;
        entry.line = number;
        std::string why;
        if (AsciiLower(value) == kDefaultWord) entry.value = SettingValue::Default(KindOf(*row));
        else if (!ParseSettingValue(*row, value, &entry.value, &why)) return fail(number, why);
        result.entries.push_back(std::move(entry));
    }
    if (!sawSection) return fail(0, Tr("no [Kestro] section"));
    *profile = std::move(result);
    return true;
}

std::string WriteProfile(const Profile& profile, const std::vector<std::string>& notes) {
    std::string out = "; Kestro profile: kestroctl apply FILE sets these values (default: none stored).\r\n[Kestro]\r\n";
    for (const ProfileEntry& entry : profile.entries)
        out += std::string(entry.row->name) + " = " + FormatSettingValue(entry.value) + "\r\n";
    for (const std::string& note : notes) out += "; " + note + "\r\n";
    return out;
}

}  // namespace kestro
