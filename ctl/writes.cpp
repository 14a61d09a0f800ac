#include "ctl/writes.h"

#include "platform/memory_registry.h"
#include "platform/text.h"
#include "settings/uFunctions.h"

#include <cctype>
#include <stdexcept>

namespace kestro {

namespace {

SettingId IdOf(const Setting& row) { return static_cast<SettingId>(&row - kCatalogue); }

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
            // The writers take UTF-8 and store UTF-16, as the window's handlers do.
            const std::string utf8 = WideToUtf8(value.text);
            switch (IdOf(row)) {
                case SettingId::RecycleBinName: Zfunctions::SetRecycleBinName(utf8); return;
                case SettingId::RecycleBinInfoTip: Zfunctions::SetRecycleBinInfoTip(utf8); return;
                case SettingId::Wallpaper: Zfunctions::SetWallpaper(utf8); return;
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
            // As stored: texts in UTF-16, which is what both export formats hold.
            MemoryRegistryStore::Value stored;
            if (!scratch.GetValueW(row.root, row.keyPath, row.valueNames[i], &stored)) continue;
            RegValue value{row.root, row.keyPath, row.valueNames[i], stored.type, stored.data};
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
