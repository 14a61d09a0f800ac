// The main window as it is built: every control of the table in its place
// with its caption and tooltip, and the window's own frame.
#include "tests/ui/ui_fixture.h"

#include "ui/form_layout.h"

#include <commctrl.h>

namespace kestro::test {
namespace {

using LayoutTest = MainWindowTest;

TEST_F(LayoutTest, WindowHasItsCaptionClientSizeAndFrame) {
    CreateWindows();
    EXPECT_EQ(std::wstring(kMainCaption), TextOf(main_->Hwnd()));
    EXPECT_EQ(L"Kestro", TextOf(Application().Hwnd()));
    RECT rc;
    GetClientRect(main_->Hwnd(), &rc);
    EXPECT_EQ(521, rc.right);
    EXPECT_EQ(586, rc.bottom);
    const LONG style = GetWindowLongW(main_->Hwnd(), GWL_STYLE);
    EXPECT_FALSE(style & WS_THICKFRAME) << "resizable";
    EXPECT_FALSE(style & WS_MAXIMIZEBOX) << "maximisable";
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_EQ(Application().Hwnd(), GetWindow(main_->Hwnd(), GW_OWNER));
}

}  // namespace
}  // namespace kestro::test
