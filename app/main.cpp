// Program entry: the application object, the main window (which reads
// every setting back while it is created), the hidden folder chooser, and
// the message loop until the main window closes.
#include "ui/application.h"
#include "ui/shell_library.h"
#include "ui/uChkDir.h"
#include "ui/uMain.h"

#include <windows.h>
#include <commctrl.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    using namespace kestro;
    // COM starts when the folder chooser or a shell dialog first needs it.
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_TAB_CLASSES | ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&controls);

    TApplication& application = Application();
    if (!application.Initialize(instance)) return 1;

    int code = 1;
    {
        TfrmMain main;
        if (!main.Create(instance, application.Hwnd())) return 1;
        application.SetMainWindow(main.Hwnd());
        application.AddDialogWindow(main.Hwnd(), &main);

        TfrmChkDir chooser;
        chooser.Create(instance, main.Hwnd());
        main.ConnectChooser(&chooser);
        application.AddDialogWindow(chooser.Hwnd());

        application.ShowMainWindow();
        code = application.Run();
    }
    // The chooser's shell objects went with it.
    shell::EndCom();
    return code;
}
