// Program entry: the application object, the main window (which reads
// every setting back while it is created), the hidden folder chooser, and
// the message loop until the main window closes.
#include "ui/application.h"
#include "ui/uChkDir.h"
#include "ui/uMain.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    using namespace kestro;
    // The shell namespace of the folder chooser wants COM on this thread.
    CoInitialize(nullptr);
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_TAB_CLASSES | ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&controls);

    TApplication& application = Application();
    if (!application.Initialize(instance)) return 1;

    TfrmMain main;
    frmMain = &main;
    if (!main.Create(instance, application.Hwnd())) return 1;
    application.SetMainWindow(main.Hwnd());
    application.AddDialogWindow(main.Hwnd());

    TfrmChkDir chooser;
    frmChkDir = &chooser;
    chooser.Create(instance, main.Hwnd());
    application.AddDialogWindow(chooser.Hwnd());

    application.ShowMainWindow();
    const int code = application.Run();

    frmChkDir = nullptr;
    frmMain = nullptr;
    CoUninitialize();
    return code;
}
