#include "form/form_layout.h"

#include <cstring>

namespace kestro {

const wchar_t kMainCaption[] = L"Настройщик операционной системы WindowsXP";
const wchar_t kFolderPlaceholder[] = L"<выбрать папку>";
const wchar_t kPicturePlaceholder[] = L"<выбрать картинку>";
const wchar_t kWebSiteAddress[] = KESTRO_WEB_SITE;

const PageDef kMainPages[kMainPageCount] = {
    {"ts1", L"Основные настройки"},
    {"ts2", L"Дополнительно"},
    {"tb3", L"Системная информация"},
    {"TabSheet1", L"Блокировка устройств"},
};

namespace {

using K = ControlKind;
using P = PageId;
using H = HandlerId;

// Page ts1: two columns of 239 x 22 buttons.
constexpr int kLeftColumn = -4;
constexpr int kRightColumn = 258;
constexpr int kRow[14] = {8, 32, 56, 80, 104, 128, 152, 175, 199, 223, 247, 271, 295, 319};

constexpr ControlDef Toggle1(const char* name, int column, int row, int group, const char* glyph,
                             const wchar_t* caption, const wchar_t* tooltip) {
    return {name, K::Toggle, P::Ts1, column, kRow[row], 239, 22, caption, tooltip, glyph, group, H::Toggle};
}

constexpr ControlDef Device(const char* name, int top, int group, const wchar_t* caption, const wchar_t* tooltip) {
    return {name, K::Toggle, P::TabSheet1, 160, top, 193, 22, caption, tooltip, nullptr, group, H::Toggle};
}

constexpr ControlDef Row(const char* name, ControlKind kind, PageId page, int left, int top, int width, int height,
                        const wchar_t* caption, const wchar_t* tooltip, const char* glyph, int group, HandlerId handler,
                        PictureId picture = PictureId::None) {
    return {name, kind, page, left, top, width, height, caption, tooltip, glyph, group, handler, picture};
}

}  // namespace

const ControlDef kMainControls[kMainControlCount] = {
#define KESTRO_CONTROL(name, maker, ...) maker(#name, __VA_ARGS__),
#include "form/main_controls.def"
#undef KESTRO_CONTROL
};

const ControlDef* FindControlDef(const char* name) {
    for (const ControlDef& def : kMainControls)
        if (std::strcmp(def.name, name) == 0) return &def;
    return nullptr;
}

bool FindControlId(const char* name, ControlId* id) {
    const ControlDef* def = FindControlDef(name);
    if (!def) return false;
    *id = static_cast<ControlId>(def - kMainControls);
    return true;
}

}  // namespace kestro
