#include "form/accessible_names.h"

#include "form/form_layout.h"

#include <cstring>

namespace kestro {

const AccessibleNameDef kAccessibleNames[] = {
    {"imgLogo", L"Сайт программы: " KESTRO_WEB_SITE},
    {"imgHelp", L"Примечание"},
    {"edFolder", L"Папка:"},
    {"bbSetFolder", L"Выбрать папку..."},
    {"edPicture", L"Картинка для фона папки:"},
    {"bbSetPicture", L"Выбрать картинку..."},
    {"mmSystemInfo", L"Системная информация:"},
};

const unsigned kAccessibleNameCount = sizeof kAccessibleNames / sizeof kAccessibleNames[0];

const wchar_t* AccessibleNameOf(const char* control) {
    for (const AccessibleNameDef& def : kAccessibleNames)
        if (std::strcmp(def.control, control) == 0) return def.name;
    return nullptr;
}

}  // namespace kestro
