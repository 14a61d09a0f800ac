// A small inspector for a running kestro.exe, run in the same Wine prefix:
// an outside program, as accessibility and automation tools are.
//
//   kestro_probe wait [ms]          exits 0 once the main window (found by its caption) is visible
//   kestro_probe checked CAPTION..  prints "CAPTION 1" or "CAPTION 0" per toggle (BM_GETCHECK)
//   kestro_probe spin               prints the recent-documents spin edit's text
//   kestro_probe origin [PAGE]      prints the screen position of the client area of the
//                                   main window, or of the page with that caption
//   kestro_probe page N             clicks the button of page N (0-3) of the tab control
//   kestro_probe tab N              prints the screen position of the centre of page N's button
//   kestro_probe rect               prints the main window's screen rectangle: left top width height
//   kestro_probe answer [ms]        waits for a message box of the program, prints
//                                   "CAPTION|TEXT|OWNER-TITLE" and presses its OK
//   kestro_probe close              asks the main window to close
//   kestro_probe smoothing          prints this process's SPI_GETFONTSMOOTHING and
//                                   SPI_GETFONTSMOOTHINGTYPE: "1 2" is on, ClearType
//   kestro_probe current            prints the number of the page shown (0-3)
//   kestro_probe focus              prints the control with the keyboard focus:
//                                   "CLASS|TEXT", or "none"
//   kestro_probe chooser            prints 1 when the folder chooser is visible, else 0
//   kestro_probe names              one line per visible control of the window and of the
//                                   page shown, as a screen reader's standard proxies see
//                                   it: "CLASS|TEXT|tab=0/1|checked=0/1/-|label=LABEL|name=NAME|msaa=..."
//                                   (LABEL: the nearest text label before it among its
//                                   siblings, hidden ones included; NAME: the window text for
//                                   a button, the label for an edit or a picture; msaa: what
//                                   oleacc's AccessibleObjectFromWindow answered)
// Output is UTF-8.
#include <windows.h>
#include <commctrl.h>
#include <oleacc.h>

#include "form/form_layout.h"
#include "tools/message_box.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

HWND FindMain() { return FindWindowW(nullptr, kestro::kMainCaption); }


std::string Narrow(const std::wstring& text) {
    char buffer[2048] = {};
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, buffer, sizeof buffer, nullptr, nullptr);
    return buffer;
}

// WM_GETTEXT, which the system carries across processes: GetWindowText
// would give another process's edit its creation text only.
std::wstring TextOf(HWND window) {
    wchar_t buffer[1024] = {};
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000, &result);
    return buffer;
}

struct Search {
    std::wstring caption;
    const wchar_t* className;
    HWND found;
};

BOOL CALLBACK FindChild(HWND window, LPARAM lParam) {
    auto* search = reinterpret_cast<Search*>(lParam);
    wchar_t cls[64] = {};
    GetClassNameW(window, cls, 64);
    if ((search->caption.empty() || search->caption == TextOf(window)) &&
        (!search->className || lstrcmpiW(cls, search->className) == 0)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindChildOf(HWND parent, const std::wstring& caption, const wchar_t* className = nullptr) {
    Search search = {caption, className, nullptr};
    EnumChildWindows(parent, FindChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// TCM_GETITEMRECT writes into the tab control's own process: lend it a
// buffer there and read it back.
bool RemoteItemRect(HWND tab, int index, RECT* out) {
    DWORD pid = 0;
    GetWindowThreadProcessId(tab, &pid);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!process) return false;
    bool ok = false;
    void* remote = VirtualAllocEx(process, nullptr, sizeof(RECT), MEM_COMMIT, PAGE_READWRITE);
    if (remote) {
        if (SendMessageW(tab, TCM_GETITEMRECT, index, reinterpret_cast<LPARAM>(remote)))
            ok = ReadProcessMemory(process, remote, out, sizeof(RECT), nullptr) != FALSE;
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    }
    CloseHandle(process);
    return ok;
}



std::wstring ClassOf(HWND window) {
    wchar_t cls[64] = {};
    GetClassNameW(window, cls, 64);
    return cls;
}

bool IsClass(HWND window, const wchar_t* name) { return lstrcmpiW(ClassOf(window).c_str(), name) == 0; }

// The label a proxy names an edit or a picture by: the nearest static
// before it among its siblings that shows text (visible or not), unless a
// control that takes the focus stands between.
std::wstring LabelBefore(HWND control) {
    for (HWND before = GetWindow(control, GW_HWNDPREV); before; before = GetWindow(before, GW_HWNDPREV)) {
        if (IsClass(before, L"Static")) {
            const LONG type = GetWindowLongW(before, GWL_STYLE) & SS_TYPEMASK;
            if (type == SS_BITMAP || type == SS_ICON) continue;
            const std::wstring text = TextOf(before);
            if (!text.empty()) return text;
            continue;
        }
        if (GetWindowLongW(before, GWL_STYLE) & WS_TABSTOP) break;
    }
    return L"";
}

// What oleacc answers for the control from this process: "NAME" (the
// proxy's accName), or the failure as "hr=0x...".
std::wstring MsaaName(HWND control) {
    static HMODULE oleacc = LoadLibraryW(L"oleacc.dll");
    static bool com = SUCCEEDED(CoInitialize(nullptr));
    if (!oleacc || !com) return L"no oleacc";
    using FromWindow = HRESULT(WINAPI*)(HWND, DWORD, REFIID, void**);
    auto fromWindow = reinterpret_cast<FromWindow>(GetProcAddress(oleacc, "AccessibleObjectFromWindow"));
    if (!fromWindow) return L"no AccessibleObjectFromWindow";
    IAccessible* object = nullptr;
    const HRESULT hr = fromWindow(control, static_cast<DWORD>(OBJID_CLIENT), IID_IAccessible,
                                  reinterpret_cast<void**>(&object));
    wchar_t text[64];
    if (FAILED(hr) || !object) {
        wsprintfW(text, L"hr=0x%08lx", static_cast<unsigned long>(hr));
        return text;
    }
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR name = nullptr;
    const HRESULT named = object->get_accName(self, &name);
    std::wstring result;
    if (SUCCEEDED(named) && name) {
        result = name;
        SysFreeString(name);
    } else {
        wsprintfW(text, L"name hr=0x%08lx", static_cast<unsigned long>(named));
        result = text;
    }
    object->Release();
    return result;
}

void PrintNamesOf(HWND parent) {
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!IsWindowVisible(child)) continue;
        if (IsClass(child, L"KestroPage")) {
            PrintNamesOf(child);
            continue;
        }
        const LONG style = GetWindowLongW(child, GWL_STYLE);
        const std::wstring text = TextOf(child);
        const bool button = IsClass(child, L"Button");
        const LONG type = style & BS_TYPEMASK;
        const bool checkable = button && (type == BS_AUTOCHECKBOX || type == BS_CHECKBOX);
        const std::wstring label = LabelBefore(child);
        const bool picture = (style & SS_TYPEMASK) == SS_BITMAP;
        const std::wstring name = button || (IsClass(child, L"Static") && !picture) ? text : label;
        std::printf("%s|%s|tab=%d|checked=%s|label=%s|name=%s|msaa=%s\n", Narrow(ClassOf(child)).c_str(),
                    Narrow(text).c_str(), (style & WS_TABSTOP) ? 1 : 0,
                    checkable ? (SendMessageW(child, BM_GETCHECK, 0, 0) == BST_CHECKED ? "1" : "0") : "-",
                    Narrow(label).c_str(), Narrow(name).c_str(), Narrow(MsaaName(child)).c_str());
    }
}

// The program's process: the owner of its application window.
DWORD ProgramProcess() {
    HWND app = FindWindowW(L"KestroApplication", nullptr);
    DWORD pid = 0;
    if (app) GetWindowThreadProcessId(app, &pid);
    return pid;
}

bool WaitFor(DWORD limit, bool (*ready)()) {
    const DWORD start = GetTickCount();
    while (!ready()) {
        if (GetTickCount() - start > limit) return false;
        Sleep(100);
    }
    return true;
}


// What a command is given: its words (wide and narrowed), the wait limit
// (the second word as milliseconds, for the commands that wait) and the
// main window, for the commands that need it.
struct ProbeCall {
    int argc;
    const char** argv;
    wchar_t** wargv;
    DWORD limit;
    HWND main;
};

int Smoothing(const ProbeCall&) {
    BOOL on = FALSE;
    UINT type = 0;
    if (!SystemParametersInfoW(SPI_GETFONTSMOOTHING, 0, &on, 0) || !SystemParametersInfoW(SPI_GETFONTSMOOTHINGTYPE, 0, &type, 0))
        return 1;
    std::printf("%d %u\n", on ? 1 : 0, type);
    return 0;
}

int Wait(const ProbeCall& call) {
    return WaitFor(call.limit, [] {
               HWND main = FindMain();
               return main && IsWindowVisible(main) && IsWindowEnabled(main);
           })
               ? 0
               : 1;
}

int Answer(const ProbeCall& call) {
    static HWND box;
    if (!WaitFor(call.limit, [] {
            const DWORD process = ProgramProcess();
            box = process ? kestro::FindMessageBoxOf(process) : nullptr;
            return box != nullptr;
        }))
        return 1;
    Sleep(200);
    std::printf("%s|%s|%s\n", Narrow(TextOf(box)).c_str(), Narrow(TextOf(GetDlgItem(box, 0xFFFF))).c_str(),
                Narrow(TextOf(GetWindow(box, GW_OWNER))).c_str());
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return 0;
}

int Close(const ProbeCall& call) {
    PostMessageW(call.main, WM_CLOSE, 0, 0);
    return 0;
}

int Rect(const ProbeCall& call) {
    RECT rc;
    GetWindowRect(call.main, &rc);
    std::printf("%ld %ld %ld %ld\n", rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top);
    return 0;
}

int Origin(const ProbeCall& call) {
    HWND window = call.argc > 2 ? FindChildOf(call.main, call.wargv[2], L"KestroPage") : call.main;
    if (!window) return 1;
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    std::printf("%ld %ld\n", origin.x, origin.y);
    return 0;
}

int Spin(const ProbeCall& call) {
    // The spin edit's arrows stand on a page; the tab control has arrows
    // of its own for scrolling its buttons.
    HWND arrows = nullptr;
    for (HWND page = FindWindowExW(call.main, nullptr, L"KestroPage", nullptr); page && !arrows;
         page = FindWindowExW(call.main, page, L"KestroPage", nullptr))
        arrows = FindWindowExW(page, nullptr, UPDOWN_CLASSW, nullptr);
    if (!arrows) return 1;
    std::printf("%s\n", Narrow(TextOf(reinterpret_cast<HWND>(SendMessageW(arrows, UDM_GETBUDDY, 0, 0)))).c_str());
    return 0;
}

int Page(const ProbeCall& call) {
    HWND tab = FindChildOf(call.main, L"", WC_TABCONTROLW);
    RECT item;
    if (!tab || !RemoteItemRect(tab, std::atoi(call.argv[2]), &item)) return 1;
    // A click on the tab's button, as the mouse gives it.
    const LPARAM at = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
    SendMessageW(tab, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(tab, WM_LBUTTONUP, 0, at);
    return SendMessageW(tab, TCM_GETCURSEL, 0, 0) == std::atoi(call.argv[2]) ? 0 : 1;
}

int Tab(const ProbeCall& call) {
    HWND tab = FindChildOf(call.main, L"", WC_TABCONTROLW);
    RECT item;
    if (!tab || !RemoteItemRect(tab, std::atoi(call.argv[2]), &item)) return 1;
    POINT centre = {(item.left + item.right) / 2, (item.top + item.bottom) / 2};
    ClientToScreen(tab, &centre);
    std::printf("%ld %ld\n", centre.x, centre.y);
    return 0;
}

int Current(const ProbeCall& call) {
    HWND tab = FindChildOf(call.main, L"", WC_TABCONTROLW);
    if (!tab) return 1;
    std::printf("%d\n", static_cast<int>(SendMessageW(tab, TCM_GETCURSEL, 0, 0)));
    return 0;
}

int Focus(const ProbeCall& call) {
    // The focus belongs to the program's input thread: asked of it.
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(call.main, nullptr), &info)) return 1;
    if (!info.hwndFocus) {
        std::printf("none\n");
        return 0;
    }
    std::printf("%s|%s\n", Narrow(ClassOf(info.hwndFocus)).c_str(), Narrow(TextOf(info.hwndFocus)).c_str());
    return 0;
}

int Chooser(const ProbeCall&) {
    HWND chooser = FindWindowW(L"TfrmChkDir", nullptr);
    std::printf("%d\n", chooser && IsWindowVisible(chooser) ? 1 : 0);
    return 0;
}

int Names(const ProbeCall& call) {
    PrintNamesOf(call.main);
    return 0;
}

int Checked(const ProbeCall& call) {
    int status = 0;
    for (int i = 2; i < call.argc; ++i) {
        HWND button = FindChildOf(call.main, call.wargv[i], L"Button");
        if (!button) {
            std::printf("%s ?\n", call.argv[i]);
            status = 1;
            continue;
        }
        std::printf("%s %d\n", call.argv[i], SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0);
    }
    return status;
}

struct ProbeCommand {
    const char* name;
    bool needsMain;  // fails, saying so, when there is no main window
    int minArgc;     // the command word included
    int (*run)(const ProbeCall&);
};

constexpr ProbeCommand kCommands[] = {
    {"smoothing", false, 2, Smoothing}, {"wait", false, 2, Wait},       {"answer", false, 2, Answer},
    {"close", true, 2, Close},          {"rect", true, 2, Rect},        {"origin", true, 2, Origin},
    {"spin", true, 2, Spin},            {"page", true, 3, Page},        {"tab", true, 3, Tab},
    {"current", true, 2, Current},      {"focus", true, 2, Focus},      {"chooser", true, 2, Chooser},
    {"names", true, 2, Names},          {"checked", true, 2, Checked},
};

}  // namespace

int wmain(int argc, wchar_t** wargv) {
    // Arguments arrive wide, whatever the code page; the command words are ASCII.
    std::string narrowed[16];
    const char* argv[16] = {};
    if (argc > 16) argc = 16;
    for (int i = 0; i < argc; ++i) {
        narrowed[i] = Narrow(wargv[i]);
        argv[i] = narrowed[i].c_str();
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: kestro_probe wait|checked|spin|origin|page|rect|answer|close ...\n");
        return 2;
    }
    const std::string command = argv[1];
    for (const ProbeCommand& known : kCommands) {
        if (command != known.name || argc < known.minArgc) continue;
        ProbeCall call = {argc, argv, wargv, argc > 2 ? static_cast<DWORD>(std::atoi(argv[2])) : 30000, nullptr};
        if (known.needsMain && !(call.main = FindMain())) {
            std::fprintf(stderr, "kestro_probe: no main window\n");
            return 1;
        }
        return known.run(call);
    }
    std::fprintf(stderr, "kestro_probe: unknown command %s\n", command.c_str());
    return 2;
}
