#include "ui/startup.h"

#include "core/text.h"
#include "form/window_texts.h"

namespace kestro {

const wchar_t kApplicationTitle[] = L"Kestro";

void FormCreate(IMainFormView& view) {
    view.SetApplicationTitle(kApplicationTitle);
    LoadSettingsState(view);
    view.ClearSystemInfo();
    view.AppendSystemInfoLine(kWindowsFolderLine + FromAnsi(Zfunctions::GetWindowsDir()));
    view.AppendSystemInfoLine(kTempFolderLine + FromAnsi(Zfunctions::GetTempDir()));
    view.SetNoticeCaption(kRestartNotice);
}

std::string ErrorBoxText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > static_cast<unsigned char>('.'))
        return message + ".";
    return message;
}

void ShowHandlerError(IMessagePresenter& presenter, const std::exception& error) {
    presenter.ShowError(FromAnsi(ErrorBoxText(error.what())));
}

}  // namespace kestro

namespace kestro {

std::int32_t ParseWholeNumber(const std::wstring& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || text[i] == L'\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'-' || text[i] == L'+')) negative = text[i++] == L'-';
    std::size_t end = text.size();
    while (end > i && (text[end - 1] == L' ' || text[end - 1] == L'\t')) --end;
    if (i == end) return 0;
    long long value = 0;
    for (; i < end; ++i) {
        if (text[i] < L'0' || text[i] > L'9') return 0;
        value = value * 10 + (text[i] - L'0');
        if (value > 2147483648LL) return 0;
    }
    if (negative) value = -value;
    if (value > 2147483647LL) return 0;
    return static_cast<std::int32_t>(value);
}

}  // namespace kestro
