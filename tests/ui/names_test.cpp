// What a screen reader's standard proxies read of the window: a button by
// its text, an edit or a picture by the label just before it among its
// siblings (a hidden one counts), the tab strip by its tabs; a button whose
// text says nothing answers the reader's request with a name of its own.
#include "tests/ui/ui_fixture.h"

#include "form/accessible_names.h"
#include "form/form_layout.h"
#include "settings/catalogue.h"

#include <oleacc.h>

namespace kestro::test {
namespace {

std::wstring ClassOf(HWND window) {
    wchar_t cls[64] = {};
    GetClassNameW(window, cls, 64);
    return cls;
}

class NamesTest : public MainWindowTest {
protected:
    std::wstring LabelBefore(HWND control) const {
        for (HWND before = GetWindow(control, GW_HWNDPREV); before; before = GetWindow(before, GW_HWNDPREV)) {
            if (lstrcmpiW(ClassOf(before).c_str(), L"Static") == 0) {
                if ((GetWindowLongW(before, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP) continue;
                if (!TextOf(before).empty()) return TextOf(before);
                continue;
            }
            if (GetWindowLongW(before, GWL_STYLE) & WS_TABSTOP) break;
        }
        return L"";
    }
    // The name by the proxies' rules, as screen readers get it on Windows.
    std::wstring ProxyName(HWND control) const {
        const std::wstring cls = ClassOf(control);
        if (lstrcmpiW(cls.c_str(), L"Button") == 0) return TextOf(control);
        if (lstrcmpiW(cls.c_str(), WC_TABCONTROLW) == 0) return L"(tabs)";
        return LabelBefore(control);
    }
    // What oleacc gives in this process: the name, or empty.
    static std::wstring MsaaName(HWND control, HRESULT* failure = nullptr) {
        IAccessible* object = nullptr;
        const HRESULT hr = AccessibleObjectFromWindow(control, static_cast<DWORD>(OBJID_CLIENT), IID_IAccessible,
                                                      reinterpret_cast<void**>(&object));
        if (failure) *failure = hr;
        if (FAILED(hr) || !object) return L"";
        VARIANT self;
        VariantInit(&self);
        self.vt = VT_I4;
        self.lVal = CHILDID_SELF;
        BSTR name = nullptr;
        std::wstring result;
        if (SUCCEEDED(object->get_accName(self, &name)) && name) result = name;
        SysFreeString(name);
        object->Release();
        return result;
    }
};

TEST_F(NamesTest, EveryControlThatTakesTheFocusIsNamedAsTheProxiesReadIt) {
    CreateWindows();
    for (int page = 0; page < kMainPageCount; ++page) {
        main_->SelectPage(page);
        for (HWND control : main_->TabOrder()) {
            std::string row = "?";
            for (std::size_t i = 0; i < kMainControlCount; ++i)
                if (main_->Control(kMainControls[i].name) == control) row = kMainControls[i].name;
            SCOPED_TRACE(row);
            const std::wstring name = ProxyName(control);
            EXPECT_FALSE(name.empty());
            // A button whose caption says nothing answers for itself (where
            // oleacc answers in this process at all: see below).
            if (name == L"..." && !MsaaName(Control("bbExit")).empty()) EXPECT_EQ(std::wstring(AccessibleNameOf(row.c_str())), MsaaName(control));
        }
    }
    EXPECT_EQ(L"Папка:", LabelBefore(Control("edFolder")));
    EXPECT_EQ(L"Системная информация:", LabelBefore(Control("mmSystemInfo")));
    EXPECT_EQ(L"имя корзины:", LabelBefore(Control("leTrashName")));
    EXPECT_EQ(L"Количество документов в ПУСК->Документы:", LabelBefore(Control("seNumRemDocuments")));
    EXPECT_EQ(std::wstring(AccessibleNameOf("imgLogo")), LabelBefore(Control("imgLogo")));
    EXPECT_EQ(std::wstring(AccessibleNameOf("imgHelp")), LabelBefore(Control("imgHelp")));
    // The hidden labels stay hidden.
    EXPECT_FALSE(IsWindowVisible(main_->Control("edFolder.Name")));
}

TEST_F(NamesTest, TheDotButtonsAnswerWithTheirPurposeAndOtherButtonsWithTheirText) {
    CoInitialize(nullptr);
    CreateWindows();
    // The 64-bit oleacc of this Wine answers no window of its own process,
    // not even a plain button (the e2e suite reads the same names from
    // another process, where it answers).
    HRESULT failure = S_OK;
    if (MsaaName(Control("bbExit"), &failure).empty())
        GTEST_SKIP() << "oleacc gives no object in this process: hr 0x" << std::hex << failure;
    EXPECT_EQ(L"Выбрать папку...", MsaaName(Control("bbSetFolder")));
    EXPECT_EQ(L"Выбрать картинку...", MsaaName(Control("bbSetPicture")));
    EXPECT_EQ(L"...", TextOf(Control("bbSetFolder")));  // what the eye sees is unchanged
    EXPECT_EQ(L"Выход", MsaaName(Control("bbExit")));
    EXPECT_EQ(std::wstring(AccessibleNameOf("imgLogo")), MsaaName(Control("imgLogo")));
    // The button still works as one behind its name.
    main_->SelectPage(1);
    SendMessageW(Control("bbSetFolder"), BM_CLICK, 0, 0);
    PumpMessages(200);
    EXPECT_TRUE(IsWindowVisible(chooser_->Hwnd()));
}

TEST_F(NamesTest, TogglesAreCheckButtonsInTheTabOrderWithTheirState) {
    CreateWindows();
    Click("sbDelFind");
    for (const Setting& row : kCatalogue) {
        if (!row.IsToggle()) continue;
        SCOPED_TRACE(row.control);
        HWND toggle = Control(row.control);
        const LONG style = GetWindowLongW(toggle, GWL_STYLE);
        EXPECT_EQ(BS_AUTOCHECKBOX, style & BS_TYPEMASK);  // a check button to the proxies
        EXPECT_TRUE(style & BS_PUSHLIKE);
        EXPECT_TRUE(style & WS_TABSTOP);
        EXPECT_EQ(IsDown(row.control), SendMessageW(toggle, BM_GETCHECK, 0, 0) == BST_CHECKED);
        EXPECT_FALSE(TextOf(toggle).empty());
    }
    EXPECT_TRUE(IsDown("sbDelFind"));
}

}  // namespace
}  // namespace kestro::test
