#include "settings/readback.h"

#include "settings/catalogue.h"

#include <memory>

namespace kestro {

namespace {

std::int32_t ReadValue(const Setting& row, std::size_t i) {
    return row.root == kHkeyCurrentUser ? Zfunctions::ReadDwordValue(row.keyPath, row.valueNames[i])
                                        : Zfunctions::ReadDwordValueAt(row.keyPath, row.valueNames[i], row.root);
}

}  // namespace

void LoadSettingsState(ISettingsView& view) {
    for (const Setting& row : kCatalogue) {
        switch (row.readBack) {
            case ReadRule::None:
                break;
            case ReadRule::IntoCount:
                view.SetRecentDocsCount(ReadValue(row, 0));
                break;
            case ReadRule::PlainToggle:
                Zfunctions::SyncButtonFromDwordValue(row.keyPath, row.valueNames[0], view.Toggle(row.control));
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
                view.Toggle(row.control).SetDown(down);
                break;
            }
            case ReadRule::EqualsDown:
            case ReadRule::DiffersFromUp:
                view.Toggle(row.control).SetDown(IsDownFromValues(row, [&](std::size_t i) { return ReadValue(row, i); }));
                break;
        }
    }
}

}  // namespace kestro
