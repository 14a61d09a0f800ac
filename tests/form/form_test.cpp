// The main window's logic over its small interfaces: the creation handler,
// the error box's text, the spin edit's number, and the control table.
#include "settings/catalogue.h"
#include "tests/engine_fixture.h"
#include "form/form_layout.h"
#include "ui/startup.h"
#include "core/text.h"

#include <set>
#include <string>
#include <utility>
#include <vector>

namespace kestro::test {
namespace {

class FakeMainForm : public IMainFormView {
public:
    IToggle& Toggle(const char* control) override { return view.Toggle(control); }
    void SetRecentDocsCount(std::int32_t count) override { view.SetRecentDocsCount(count); }
    void SetApplicationTitle(const std::wstring& t) override { title = t; }
    void ClearSystemInfo() override { info = L""; }
    void AppendSystemInfoLine(const std::wstring& line) override { info += (info.empty() ? L"" : L"\n") + line; }
    void SetNoticeCaption(const std::wstring& caption) override { notice = caption; }

    FakeView view;
    std::wstring title, notice = L"lbInfa", info = L"mmSystemInfo";
};

class RecordingPresenter : public IMessagePresenter {
public:
    void ShowError(const std::wstring& text) override { shown.push_back(text); }
    std::vector<std::wstring> shown;
};

using FormCreateTest = EngineTest;

TEST_F(FormCreateTest, FillsTheWindowInItsSixSteps) {
    FakeMainForm form;
    RecordingPresenter presenter;
    RunHandler(presenter, [&] { FormCreate(form); });
    EXPECT_TRUE(presenter.shown.empty());
    EXPECT_EQ(L"Kestro", form.title);
    EXPECT_TRUE(form.view.Down("sbDelAutorunCDROM"));
    EXPECT_EQ(L"Windows запущен из папки: " + FromAnsi(Zfunctions::GetWindowsDir()) + L"\n" +
                  L"Каталог временных файлов: " + FromAnsi(Zfunctions::GetTempDir()),
              form.info);
    EXPECT_EQ(L"учтите, что многие опции вступают в силу только после перезагрузки.", form.notice);
}

TEST_F(FormCreateTest, AFailingReadSkipsTheRemainingStepsAndIsShownOnce) {
    PutText(kHkeyCurrentUser, kExplorer, "NoFind", "1");
    PutDword(kHkeyCurrentUser, kExplorer, "NoNetworkConnections", 1);
    FakeMainForm form;
    RecordingPresenter presenter;
    RunHandler(presenter, [&] { FormCreate(form); });
    ASSERT_EQ(1u, presenter.shown.size());
    EXPECT_EQ(L"Invalid data type for 'NoFind'", presenter.shown[0]);  // ends in an apostrophe: no full stop
    EXPECT_EQ(L"Kestro", form.title);                                  // step 1 ran
    EXPECT_TRUE(form.view.Down("sbDelLANConnection"));
    EXPECT_FALSE(form.view.WasSet("sbDelFind"));
    EXPECT_EQ(L"mmSystemInfo", form.info);  // steps 3 to 6 did not
    EXPECT_EQ(L"lbInfa", form.notice);
}

TEST(ErrorBoxTextTest, AddsAFullStopOnlyAfterCharactersThatSortAfterIt) {
    EXPECT_EQ("Failed to set data for 'NoRun'", ErrorBoxText("Failed to set data for 'NoRun'"));
    EXPECT_EQ("Access denied.", ErrorBoxText("Access denied"));
    EXPECT_EQ("Done.", ErrorBoxText("Done."));
    EXPECT_EQ("", ErrorBoxText(""));
    EXPECT_EQ("Path C:\\.", ErrorBoxText("Path C:\\"));  // '\\' sorts after '.'
    EXPECT_EQ("50%", ErrorBoxText("50%"));                // '%' sorts before '.'
    EXPECT_EQ("a/.", ErrorBoxText("a/"));                 // '/' right after '.'
    EXPECT_EQ("\xCF\xF0\xE8\xE2\xE5\xF2.", ErrorBoxText("\xCF\xF0\xE8\xE2\xE5\xF2"));  // a Cyrillic last byte, above 0x7F
}

TEST(ParseWholeNumberTest, TextThatIsNotAWholeNumberGivesZero) {
    EXPECT_EQ(15, ParseWholeNumber(L"15"));
    EXPECT_EQ(-1, ParseWholeNumber(L"-1"));
    EXPECT_EQ(7, ParseWholeNumber(L" +7 "));
    EXPECT_EQ(2147483647, ParseWholeNumber(L"2147483647"));
    EXPECT_EQ(-2147483647 - 1, ParseWholeNumber(L"-2147483648"));
    for (const wchar_t* bad : {L"abc", L"", L"-", L"12a", L"1.5", L"2147483648", L"99999999999999999999", L"0x10"})
        EXPECT_EQ(0, ParseWholeNumber(bad)) << std::wstring(bad).size();
}

TEST(ControlTableTest, NamesAreUniqueAndEveryCatalogueControlIsThere) {
    std::set<std::string> names;
    for (std::size_t i = 0; i < kMainControlCount; ++i) EXPECT_TRUE(names.insert(kMainControls[i].name).second) << kMainControls[i].name;
    int toggles = 0;
    for (const Setting& row : kCatalogue) {
        const ControlDef* def = FindControlDef(row.control);
        ASSERT_NE(nullptr, def) << row.control;
        if (row.IsToggle()) {
            ++toggles;
            EXPECT_EQ(ControlKind::Toggle, def->kind) << row.control;
            EXPECT_EQ(HandlerId::Toggle, def->handler) << row.control;
        }
    }
    EXPECT_EQ(30, toggles);
    // No two toggles share a group; springing buttons have none.
    std::set<int> groups;
    for (std::size_t i = 0; i < kMainControlCount; ++i) {
        const ControlDef& def = kMainControls[i];
        if (def.kind == ControlKind::Toggle) {
            EXPECT_TRUE(groups.insert(def.group).second) << def.name;
        }
        if (def.kind == ControlKind::SpringButton) {
            EXPECT_EQ(0, def.group) << def.name;
        }
    }
}

// The misspellings the table once carried, and the slips of typing that
// read as one (a doubled blank, a blank before a comma): none in any
// caption, tooltip or page name.
TEST(ControlTableTest, NoTextCarriesAKnownMisspelling) {
    const wchar_t* wrong[] = {L"пунк ", L"пук ", L"всплавающ", L"открываетм", L"установлива", L"Паралельн",
                              L"по средствам", L"запрет установка", L"  ", L" ,"};
    std::vector<std::pair<std::string, std::wstring>> texts;
    for (std::size_t i = 0; i < kMainControlCount; ++i) {
        const ControlDef& def = kMainControls[i];
        if (def.caption) texts.emplace_back(def.name, def.caption);
        if (def.tooltip) texts.emplace_back(std::string(def.name) + " tooltip", def.tooltip);
    }
    for (const PageDef& page : kMainPages) texts.emplace_back(page.name, page.caption);
    for (const auto& text : texts)
        for (const wchar_t* word : wrong)
            EXPECT_EQ(std::wstring::npos, text.second.find(word)) << text.first << ": " << WideToUtf8(word);
}

}  // namespace
}  // namespace kestro::test
