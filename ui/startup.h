// What the main window does while it is created, and how the application
// shows an error, over small interfaces so that both also run off Windows.
#pragma once

#include "settings/readback.h"

#include <exception>
#include <string>

namespace kestro {

// The main window as its creation handler sees it.
class IMainFormView : public ISettingsView {
public:
    virtual void SetApplicationTitle(const std::wstring& title) = 0;
    virtual void ClearSystemInfo() = 0;
    virtual void AppendSystemInfoLine(const std::wstring& line) = 0;
    virtual void SetNoticeCaption(const std::wstring& caption) = 0;
};

// Shows the application's error box: the text as given, caption the
// application title, stop icon, one OK button, modal to the application.
class IMessagePresenter {
public:
    virtual ~IMessagePresenter() = default;
    virtual void ShowError(const std::wstring& text) = 0;
};

extern const wchar_t kApplicationTitle[];

// The creation handler's steps, in order; an error leaves it at once, with
// the remaining steps skipped.
void FormCreate(IMainFormView& view);

// The error box's text: the message, with a full stop added when it is not
// empty and its last byte sorts after '.'.
std::string ErrorBoxText(const std::string& message);

// The one place where an error that a handler raised is shown.
void ShowHandlerError(IMessagePresenter& presenter, const std::exception& error);

// Runs a handler; what it raises goes to the presenter and goes no further.
template <typename Handler>
void RunHandler(IMessagePresenter& presenter, Handler&& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        ShowHandlerError(presenter, error);
    }
}

}  // namespace kestro

namespace kestro {

// The spin edit's value: its text read as a whole number; anything else,
// out-of-range numbers included, gives 0.
std::int32_t ParseWholeNumber(const std::wstring& text);

}  // namespace kestro
