// The real windows, built in the test process under Wine: the application
// object once per process, a fresh main window (and chooser) per test.
#pragma once

#include "ui/application.h"
#include "ui/uChkDir.h"
#include "ui/uMain.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace kestro::test {

// Runs the messages that are waiting, for at most `ms` milliseconds.
void PumpMessages(int ms = 50);
// The same through the program's own loop step: the main window's key
// preview and the dialog manager see each message first.
void PumpDialogMessages(int ms = 50);

// Records what would have gone into the error box.
class RecordingPresenter : public IMessagePresenter {
public:
    void ShowError(const std::wstring& text) override { errors.push_back(text); }
    std::vector<std::wstring> errors;
};

// Watches, on a thread of its own, for message boxes of this process and
// answers each with its default button (or with `answer`: IDYES, IDNO)
// after noting its caption, text and the window that owns it.
class DialogWatcher {
public:
    struct Seen {
        std::wstring caption;
        std::wstring text;
        HWND owner;
        bool mainWindowDisabled;  // whether the main window was disabled meanwhile
        HICON icon;               // the box's icon, null when it has none
    };
    explicit DialogWatcher(HWND mainWindow = nullptr, int answer = IDOK);
    ~DialogWatcher();
    std::vector<Seen> Seen_() const;

private:
    void Loop();
    HWND main_;
    int answer_;
    std::atomic<bool> stop_{false};
    mutable CRITICAL_SECTION lock_;
    std::vector<Seen> seen_;
    std::thread thread_;
};

// A folder of its own under %TEMP% for one test (its name made unique with
// the process id), removed with everything in it at the end.
class TempFolder {
public:
    explicit TempFolder(const std::wstring& name);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::wstring& Path() const { return path_; }
    // The full path of something inside it.
    std::wstring Child(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

// Removes a file or a folder with everything in it, read-only ones too.
void RemoveTree(const std::wstring& path);
// The bytes of a file; false when it cannot be read.
bool ReadFileBytes(const std::wstring& path, std::string* bytes);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);

// The text the window's tooltip shows for a control.
std::wstring TooltipOf(HWND tooltip, HWND control);

// Deletes every value and key of the catalogue (and the search history), so
// that each case starts from a machine where none of them was ever set.
void ResetCatalogueKeys();

class MainWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    void SetUp() override;
    void TearDown() override;

    // Builds the windows as the program does (FormCreate included), with
    // errors recorded instead of shown unless `realErrorBox`.
    void CreateWindows(bool realErrorBox = false);
    void DestroyWindows();

    // The control; when its page has not been shown yet, the page is opened
    // first, as a user would to reach it.
    HWND Control(const char* name) const;
    bool IsDown(const char* name) const { return SendMessageW(Control(name), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    std::wstring TextOf(HWND window) const;
    // A click as the mouse gives it: press and release over the control.
    void Click(const char* name);
    // A key pressed and released on the control that has the focus, with
    // Ctrl and Shift held or not, through the program's message loop step.
    void PressKey(WORD key, bool ctrl = false, bool shift = false);

    std::unique_ptr<TfrmMain> main_;
    std::unique_ptr<TfrmChkDir> chooser_;
    RecordingPresenter errors_;
};

}  // namespace kestro::test
