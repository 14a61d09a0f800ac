#include "form/window_texts.h"

namespace kestro {

const wchar_t kWindowsFolderLine[] = L"Windows запущен из папки: ";
const wchar_t kTempFolderLine[] = L"Каталог временных файлов: ";
const wchar_t kRestartNotice[] = L"учтите, что многие опции вступают в силу только после перезагрузки.";

const wchar_t kWallpaperFilter[] = L"*.bmp\0*.bmp\0";
const wchar_t kPictureFilter[] = L"Изображения (*.bmp;*.jpg;*.jpeg)\0*.bmp;*.jpg;*.jpeg\0";

const wchar_t kChooseFolderText[] = L"выберите папку";
const wchar_t kChooseFolderCaption[] = L"Information";
const wchar_t kDesktopIniFailedText[] =
    L"Невозможно создать Desktop.ini\r\nпроверьте правильность ввода путей к:\r\n1) папке\r\n2) картинке";
const wchar_t kDesktopIniFailedCaption[] = L"Error";

const wchar_t kIgnoredSettingNote[] =
    L"Windows %1 не читает эту настройку: здесь переключатель ничего не изменит (её читает Windows %2).";
const wchar_t kFolderBackgroundNote[] =
    L"Проводник Windows Vista и более новых больше не показывает картинку на фоне папки: она будет записана "
    L"в Desktop.ini папки, но видна не будет.";

const wchar_t kChooserCaption[] = L"Выбор каталога";
const wchar_t kChooserOkCaption[] = L"OK";
const wchar_t kChooserCancelCaption[] = L"Отмена";

const wchar_t kFromMachineLine[] = L"Задано для всего компьютера (раздел HKEY_LOCAL_MACHINE).";
const wchar_t kFromLocalGpoLine[] = L"Задано локальной групповой политикой компьютера.";
const wchar_t kFromDomainLine[] = L"Задано групповой политикой домена.";
const wchar_t kPolicyDomainText[] =
    L"Этот параметр задан групповой политикой домена. Изменить его может только администратор домена.";
const wchar_t kAskPolicyLiftText[] =
    L"Этот параметр задан для всего компьютера, а не только для вас. "
    L"Если продолжить, он изменится для всех учётных записей этого компьютера.\n\nИзменить?";
const wchar_t kPolicyNoRightsText[] =
    L"Этот параметр задан для всего компьютера. Изменить его может только администратор компьютера.";
const wchar_t kPolicyCannotLiftText[] = L"Не удалось изменить параметр, заданный для всего компьютера:";

}  // namespace kestro
