#include "ctl/writes.h"

#include "platform/memory_registry.h"
#include "platform/text.h"
#include "settings/uFunctions.h"

#include <cctype>
#include <stdexcept>

namespace kestro {

namespace {

SettingId IdOf(const Setting& row) { return static_cast<SettingId>(&row - kCatalogue); }

// REG_SZ as the export formats hold it: UTF-16LE with its zero.
std::vector<std::uint8_t> Utf16Text(const std::vector<std::uint8_t>& ansi) {
    std::string text(ansi.begin(), ansi.end());
    const std::size_t zero = text.find('\0');
    if (zero != std::string::npos) text.resize(zero);
    const std::wstring wide = FromAnsi(text);
    std::vector<std::uint8_t> out;
    for (wchar_t c : wide) {
        const auto unit = static_cast<std::uint32_t>(c);
        out.push_back(static_cast<std::uint8_t>(unit));
        out.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

// Registry names ignore case.
bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

}  // namespace

void WriteSetting(const Setting& row, const SettingValue& value) {
    switch (value.kind) {
        case ValueKind::Toggle:
            row.write(value.on ? row.argDown : row.argUp);
            return;
        case ValueKind::Number:
            row.write(value.number);
            return;
        case ValueKind::Text: {
            const std::string ansi = ToAnsi(value.text);
            switch (IdOf(row)) {
                case SettingId::RecycleBinName: Zfunctions::SetRecycleBinName(ansi); return;
                case SettingId::RecycleBinInfoTip: Zfunctions::SetRecycleBinInfoTip(ansi); return;
                case SettingId::Wallpaper: Zfunctions::SetWallpaper(ansi); return;
                default: break;
            }
            break;
        }
        case ValueKind::Action:
            break;
    }
    throw std::logic_error(std::string("No writer takes this value for ") + row.name);
}

std::vector<RegValue> RegistryValuesFor(const Profile& profile) {
    MemoryRegistryStore scratch;
    {
        ScopedRegistryStore scope(scratch);
        for (const ProfileEntry& entry : profile.entries) WriteSetting(*entry.row, entry.value);
    }
    std::vector<RegValue> values;
    for (const ProfileEntry& entry : profile.entries) {
        const Setting& row = *entry.row;
        for (std::size_t i = 0; i < row.ValueCount(); ++i) {
            MemoryRegistryStore::Value stored;
            if (!scratch.GetValue(row.root, row.keyPath, row.valueNames[i], &stored)) continue;
            RegValue value{row.root, row.keyPath, row.valueNames[i], stored.type,
                           stored.type == kRegSz ? Utf16Text(stored.data) : stored.data};
            // One registry value, however many entries wrote it.
            bool known = false;
            for (const RegValue& earlier : values)
                known = known || (earlier.root == value.root && SameName(earlier.keyPath, value.keyPath) &&
                                  SameName(earlier.name, value.name));
            if (!known) values.push_back(std::move(value));
        }
    }
    return values;
}

}  // namespace kestro
