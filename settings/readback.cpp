#include "settings/readback.h"

#include "settings/catalogue.h"
#include "settings/policy_sources.h"

#include <memory>

namespace kestro {

namespace {

std::int32_t ReadValue(const Setting& row, std::size_t i) {
    return row.root == kHkeyCurrentUser ? Zfunctions::ReadDwordValue(row.keyPath, row.valueNames[i])
                                        : Zfunctions::ReadDwordValueAt(row.keyPath, row.valueNames[i], row.root);
}

}  // namespace

void ReadToggleState(const Setting& row, IToggle& toggle) {
    switch (row.readBack) {
        case ReadRule::None:
        case ReadRule::IntoCount:
            break;
        case ReadRule::PlainToggle:
            Zfunctions::SyncButtonFromDwordValue(row.keyPath, row.valueNames[0], toggle);
            break;
        case ReadRule::FontSmoothing: {
            bool down = false;
            const char* value = nullptr;
            const std::unique_ptr<SystemParameters> parameters = ActiveRegistryStore().OpenSystemParameters();
            switch (Zfunctions::ReadFontSmoothing(*parameters, &down, &value)) {
                case SystemParameters::Read::Ok: break;
                case SystemParameters::Read::Failed: throw ERegistryException(FailedToGetMessage(value));
                case SystemParameters::Read::WrongType: throw ERegistryException(InvalidDataTypeMessage(value));
            }
            toggle.SetDown(down);
            break;
        }
        case ReadRule::EqualsDown:
        case ReadRule::DiffersFromUp:
            toggle.SetDown(IsDownFromValues(row, [&](std::size_t i) { return ReadValue(row, i); }));
            break;
    }
}

void LoadSettingsState(ISettingsView& view) {
    // The local Group Policy's files are read once, when the first row that
    // Windows also reads elsewhere comes.
    LocalGroupPolicy gpo;
    bool gpoRead = false;
    for (const Setting& row : kCatalogue) {
        if (row.readBack == ReadRule::IntoCount)
            view.SetRecentDocsCount(ReadValue(row, 0));
        else if (row.IsToggle())
            ReadToggleState(row, view.Toggle(row.control));
        else
            continue;
        if (!row.HasMachineCopy()) continue;
        RegistryStore& store = ActiveRegistryStore();
        if (!gpoRead) {
            gpo = LocalGroupPolicy::Read(store);
            gpoRead = true;
        }
        // What cannot be read there leaves the user's own value shown.
        std::int32_t value = 0;
        unsigned sources = 0;
        if (!ReadPolicyPlaces(store, row, gpo).Decides(&value, &sources)) continue;
        if (row.readBack == ReadRule::IntoCount) view.SetRecentDocsCount(value);
        else view.Toggle(row.control).SetDown(value == row.down[0]);
        view.SetSettingSource(row.control, sources);
    }
}

}  // namespace kestro
