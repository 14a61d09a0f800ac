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

}  // namespace

// Creation order is tab order within each parent. Labels are sized to
// their text where width and height are 0.
const ControlDef kMainControls[] = {
    {"imgLogo", K::Picture, P::Window, 24, 0, 500, 90, nullptr,
     L"перейти на сайт " KESTRO_WEB_SITE, nullptr, 0, H::Logo, PictureId::Logo},
    {"imgHelp", K::Picture, P::Window, 8, 488, 40, 35, nullptr, nullptr, nullptr, 0, H::None, PictureId::Help},
    {"lbInfa", K::BoldLabel, P::Window, 57, 500, 0, 0, L"lbInfa", nullptr, nullptr, 0, H::None},
    {"PageControl", K::TabControl, P::Window, 8, 96, 521, 385, nullptr, nullptr, nullptr, 0, H::None},
    {"bbExit", K::PushButton, P::Window, 168, 552, 193, 25, L"Выход",
     L"выход из программы - Спасибо за пользование", "GLYPH_EXIT", 0, H::Exit},

    // Page ts1, left column.
    {"sbClearSearch", K::SpringButton, P::Ts1, kLeftColumn, kRow[0], 239, 22, L"очистить поиск",
     L"удаляет из поисковика всё, что вы искали до этого", "GLYPH_SEARCH", 0, H::ClearSearch},
    Toggle1("sbPrintVerWindows", kLeftColumn, 1, 2, nullptr, L"вывести версию Windows",
            L"выводит версию сборки Windows на экран"),
    Toggle1("sbBanInstallUninstallSoft", kLeftColumn, 2, 3, "GLYPH_INSTALL", L"запрет установки программ",
            L"закрывает «Установку и удаление программ» в Панели управления; установщики самих программ по-прежнему работают"),
    Toggle1("sbDelAutorunCDROM", kLeftColumn, 3, 4, nullptr, L"отключить autorun", L"убирает autorun с вашего привода"),
    Toggle1("sbBanSetupPrinters", kLeftColumn, 4, 5, nullptr, L"запрет установки принтеров",
            L"запрещает установку новых принтеров"),
    Toggle1("sbFastOpenDir", kLeftColumn, 5, 6, "GLYPH_SPEED", L"быстрое открытие папок",
            L"отключает запись времени последнего доступа к файлам, что ускоряет открытие папок с множеством файлов, только для NTFS"),
    Toggle1("sbClearTypeStyle", kLeftColumn, 6, 7, "GLYPH_FONT", L"сглаживание экранных шрифтов",
            L"устанавливает режим сглаживания экранных шрифтов, особенно заметно на ЖК-мониторах"),
    {"sbSetWallpaper", K::SpringButton, P::Ts1, kLeftColumn, kRow[7], 239, 22, L"установить обои",
     L"устанавливает обои на рабочий стол посредством реестра", nullptr, 0, H::SetWallpaper},
    Toggle1("sbBanMonitor", kLeftColumn, 8, 9, "GLYPH_MONITOR", L"запрет настройки монитора",
            L"запрещает настройку св-в монитора в Монитор->Св-ва"),
    Toggle1("sbBanTheams", kLeftColumn, 9, 10, "GLYPH_MONITOR", L"запрет настройки темы",
            L"запрещает установку новой темы для монитора. Монитор->Тема"),
    Toggle1("sbBanFon", kLeftColumn, 10, 11, "GLYPH_MONITOR", L"запрет настройки фона",
            L"запрещает установку нового фона для монитора. Монитор->Фон"),
    Toggle1("sbBanZastavka", kLeftColumn, 11, 12, nullptr, L"запрет настройки заставки",
            L"запрещает установку новой заставки для монитора. Монитор->Заставка"),
    Toggle1("sbBanOformlenie", kLeftColumn, 12, 13, nullptr, L"запрет настройки оформления",
            L"запрещает настройку оформления. Монитор->Оформление"),
    Toggle1("sbDelPubmenuInStart", kLeftColumn, 13, 14, "GLYPH_START", L"убрать подсказки в ПУСК",
            L"Убирает всплывающее (контекстное) меню и возможность перетаскивания папок в ПУСК; подсказки к пунктам меню остаются"),

    // Page ts1, right column.
    Toggle1("sbClearResentWhenShoutDownSystem", kRightColumn, 0, 15, nullptr, L"очищать документы при перезагрузке",
            L"очищает ПУСК->Документы при перезагрузке ПК"),
    Toggle1("sbNotRecent", kRightColumn, 1, 16, "GLYPH_DOCS", L"не запоминать открываемые документы",
            L"не запоминает недавно открываемые документы. ПУСК->Документы"),
    Toggle1("sbBanRegEdit", kRightColumn, 2, 17, "GLYPH_REGISTRY", L"запрет входа в реестр", L"запрещает вход в реестр"),
    Toggle1("sbDelLANConnection", kRightColumn, 3, 18, "GLYPH_NETWORK", L"убрать Сетевые подключения",
            L"убирает Сетевые подключения из ПУСК->Настройка"),
    Toggle1("sbDelChangeUser", kRightColumn, 4, 19, "GLYPH_USER", L"убрать Сменить пользователя",
            L"убирает из ПУСК кнопку «Выход из системы», а с ней и смену пользователя"),
    Toggle1("sbDelFavorites", kRightColumn, 5, 20, nullptr, L"убрать Избранное", L"убирает пункт Избранное в ПУСК"),
    Toggle1("sbDelDocuments", kRightColumn, 6, 21, nullptr, L"убрать Документы", L"убирает пункт ПУСК->Документы"),
    Toggle1("sbDelDoing", kRightColumn, 7, 27, "GLYPH_START", L"убрать Выполнить", L"убирает пункт ПУСК->Выполнить"),
    Toggle1("sbDelFind", kRightColumn, 8, 26, nullptr, L"убрать Найти", L"убирает пункт ПУСК->Найти"),
    Toggle1("sbDelAllProgramm", kRightColumn, 9, 25, "GLYPH_PROGRAMS", L"убрать Все программы",
            L"Убирает ПУСК->Все программы {в стиле XP}"),
    Toggle1("sbDelTaskBar", kRightColumn, 10, 24, "GLYPH_PANEL", L"убрать Панель управления",
            L"убирает пункт ПУСК->Настройка->«Панель задач и меню Пуск» и запрещает менять свойства панели задач; сама Панель управления остаётся"),
    Toggle1("sbDelTaskMGR", kRightColumn, 11, 23, nullptr, L"убрать Диспетчер задач", L"запрещает вызов Диспетчера задач"),
    Toggle1("sbDelHelp", kRightColumn, 12, 28, nullptr, L"убрать Справка", L"убирает пункт ПУСК->Справка"),
    Toggle1("sbDelMyPictures", kRightColumn, 13, 22, "GLYPH_PICTURES", L"убрать Мои рисунки",
            L"убирает пункт ПУСК->Документы->Мои рисунки"),

    // Page ts2, in its tab order: row by row, each edit before its button.
    {"lbNumRemDocuments", K::Label, P::Ts2, 8, 8, 0, 0, L"Количество документов в ПУСК->Документы:", nullptr, nullptr, 0,
     H::None},
    {"seNumRemDocuments", K::SpinEdit, P::Ts2, 8, 32, 121, 22, L"0", L"Количество выводимых документов в ПУСК->Документы",
     nullptr, 0, H::None},
    {"bbSetNumRemDocuments", K::PushButton, P::Ts2, 136, 32, 113, 25, L"Установить",
     L"Количество выводимых документов в ПУСК->Документы", "GLYPH_SET", 0, H::SetNumRemDocuments},
    {"leTrashName", K::LabeledEdit, P::Ts2, 8, 80, 121, 21, L"имя корзины:", L"введите имя для корзины", nullptr, 0,
     H::None},
    {"bbSetTrashName", K::PushButton, P::Ts2, 136, 80, 113, 25, L"Установить", L"переименовывает корзину", nullptr, 0,
     H::SetTrashName},
    {"leTrashTipText", K::LabeledEdit, P::Ts2, 8, 120, 121, 21, L"всплывающий текст корзины:",
     L"введите всплывающую подсказку для корзины", nullptr, 0, H::None},
    {"bbSetTrashTipText", K::PushButton, P::Ts2, 136, 120, 113, 25, L"Установить",
     L"вводит новый всплывающий текст для корзины", nullptr, 0, H::SetTrashTipText},
    {"lbSetpictureBackgroundFolder", K::Label, P::Ts2, 8, 192, 0, 0, L"Установить картинку на задний фон папки:",
     nullptr, nullptr, 0, H::None},
    {"edFolder", K::ReadOnlyEdit, P::Ts2, 8, 216, 393, 21, kFolderPlaceholder, nullptr, nullptr, 0, H::None},
    {"bbSetFolder", K::PushButton, P::Ts2, 408, 216, 75, 25, L"...",
     L"выбрать папку, в которую надо поставить картинку на задний фон", nullptr, 0, H::SetFolder},
    {"edPicture", K::ReadOnlyEdit, P::Ts2, 8, 248, 393, 21, kPicturePlaceholder, nullptr, nullptr, 0, H::None},
    {"bbSetPicture", K::PushButton, P::Ts2, 408, 248, 75, 25, L"...", L"выбрать картинку для заднего фона папки",
     nullptr, 0, H::SetPicture},
    {"bbSetPictureBackgroundFolder", K::PushButton, P::Ts2, 8, 280, 476, 25, L"Установить картинку на задний фон папки",
     nullptr, nullptr, 0, H::SetPictureBackgroundFolder},

    // Page tb3.
    {"mmSystemInfo", K::Memo, P::Tb3, 8, 8, 481, 145, L"mmSystemInfo", nullptr, nullptr, 0, H::None},

    // Page TabSheet1.
    Device("sbBanUSB", 112, 41, L"Откл. Flash", L"отключает Flash"),
    Device("sbBanFDD", 136, 42, L"Откл. FDD", L"отключает привод для 3.5 дискет"),
    Device("sbBanCDROM", 160, 43, L"Откл. CD-ROM", L"отключает привод CD-ROM"),
    Device("sbBanParallesPort", 184, 44, L"Откл. Параллельный порт", L"отключает параллельный порт"),
};

const std::size_t kMainControlCount = sizeof kMainControls / sizeof kMainControls[0];

const ControlDef* FindControlDef(const char* name) {
    for (const ControlDef& def : kMainControls)
        if (std::strcmp(def.name, name) == 0) return &def;
    return nullptr;
}

}  // namespace kestro
