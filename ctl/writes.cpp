#include "ctl/writes.h"

#include "ctl/prior_state.h"
#include "registry/memory_registry.h"
#include "core/text.h"
#include "settings/uFunctions.h"

#include <stdexcept>

namespace kestro {

void WriteSetting(const Setting& row, const SettingValue& value) {
    if (value.isDefault) {
        // Every value of the row deleted, where the writer would store it.
        for (std::size_t i = 0; i < row.ValueCount(); ++i) {
            const StoredValue absent{row.root, row.keyPath, row.valueNames[i], false, kRegNone, {}};
            if (WriteStoredValue(ActiveRegistryStore(), absent) != kErrorSuccess)
                throw ERegistryException("Failed to delete '" + std::string(row.valueNames[i]) + "'");
        }
        return;
    }
    switch (value.kind) {
        case ValueKind::Toggle:
            Zfunctions::WriteSetting(row, SettingArgument::Number(row.HandlerArgument(value.on)));
            return;
        case ValueKind::Number:
            Zfunctions::WriteSetting(row, SettingArgument::Number(value.number));
            return;
        case ValueKind::Text:
            // The writers take UTF-8 and store UTF-16, as the window's handlers do.
            Zfunctions::WriteSetting(row, SettingArgument::Text(WideToUtf8(value.text)));
            return;
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
        // A default stores nothing, so there is nothing to carry.
        if (entry.value.isDefault) continue;
        const Setting& row = *entry.row;
        for (std::size_t i = 0; i < row.ValueCount(); ++i) {
            // As stored: texts in UTF-16, which is what both export formats hold.
            MemoryRegistryStore::Value stored;
            if (!scratch.GetValueW(row.root, row.keyPath, row.valueNames[i], &stored)) continue;
            RegValue value{row.root, row.keyPath, row.valueNames[i], stored.type, stored.data};
            // One registry value, however many entries wrote it.
            bool known = false;
            for (const RegValue& earlier : values)
                known = known || (earlier.root == value.root && SameAsciiNoCase(earlier.keyPath, value.keyPath) &&
                                  SameAsciiNoCase(earlier.name, value.name));
            if (!known) values.push_back(std::move(value));
        }
    }
    return values;
}

}  // namespace kestro
