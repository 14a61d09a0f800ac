// The folder chooser: a tree of the shell's namespace from which the user
// picks the folder whose background picture is to be set.
#pragma once

#include "ui/window.h"

#include <string>

namespace kestro {

class TfrmChkDir : public Window {
public:
    bool Create(HINSTANCE instance, HWND owner);

    // Shows the chooser without waiting for it; when it is visible already,
    // only brings it to the front.
    void ShowChooser();

    const std::wstring& SelectedDir() const { return FSelectedDir; }

    void bbOKClick();
    void bbCancelClick();
    void FormClose();

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    HINSTANCE instance_ = nullptr;
    std::wstring FSelectedDir;  // survives from one showing to the next
};

extern TfrmChkDir* frmChkDir;

}  // namespace kestro
