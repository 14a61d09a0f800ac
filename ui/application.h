// The application object: the window that carries the task-bar button and
// the title, the message loop, and the error box.
#pragma once

#include "ui/startup.h"
#include "ui/window.h"

#include <exception>
#include <string>

namespace kestro {

// A window that sees its controls' keys before the dialog manager does:
// for keys that dialogs do not know, and for those the dialog manager
// would take in another window's order.
class IKeyPreview {
public:
    virtual ~IKeyPreview() = default;
    // True when the key is taken: nothing else sees it.
    virtual bool PreviewKey(const MSG& msg) = 0;
};

class TApplication : public Window, public IMessagePresenter {
public:
    // Makes itself the box for what a window's handler lets escape.
    TApplication();

    // Registers the program's window classes and creates the application
    // window: zero-sized, it only carries the task-bar button and owns the
    // program's windows and message boxes.
    bool Initialize(HINSTANCE instance);
    HINSTANCE Instance() const { return instance_; }
    HICON Icon() const { return icon_; }

    void SetTitle(const std::wstring& title);
    std::wstring Title() const;

    // The window whose closing ends the program; it is shown and
    // activated with the application.
    void SetMainWindow(HWND window) { main_ = window; }
    HWND MainWindow() const { return main_; }
    // Windows whose dialog keys (Tab, Enter) the message loop handles,
    // each with what sees its keys first, if anything.
    void AddDialogWindow(HWND window, IKeyPreview* preview = nullptr);
    // What the message loop does with a message before dispatching it: true
    // when a window's key preview or the dialog manager took it.
    bool TranslateDialogMessage(MSG& msg);

    // Shows the application window and the main window.
    void ShowMainWindow();
    void Minimize();
    int Run();

    // The error box: stop icon, one OK button, caption the application
    // title, modal to every window of the program.
    void ShowError(const std::wstring& text) override;
    // Sends errors to another presenter instead (null: back to the box).
    void RedirectErrors(IMessagePresenter* presenter) { redirect_ = presenter; }
    void ShowException(const std::exception& error) { ShowHandlerError(*this, error); }

    // Runs a message box owned by the application window with every other
    // window of the program disabled meanwhile.
    int ModalMessageBox(const std::wstring& text, const std::wstring& caption, UINT type);

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    HINSTANCE instance_ = nullptr;
    HICON icon_ = nullptr;
    HWND main_ = nullptr;
    struct DialogWindow {
        HWND window;
        IKeyPreview* preview;
    };
    DialogWindow dialogs_[4] = {};
    IMessagePresenter* redirect_ = nullptr;
};

// The one application object of the process.
TApplication& Application();

}  // namespace kestro
