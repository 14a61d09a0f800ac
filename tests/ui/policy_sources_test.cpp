// A toggle whose state Windows takes from the machine's copy: down at start,
// a tooltip that says so, and a click that asks first (Yes lifts it, No
// changes nothing), on Wine's registry.
#include "tests/ui/ui_fixture.h"

#include "form/window_texts.h"
#include "registry/memory_registry.h"

namespace kestro::test {
namespace {

constexpr const char* kExplorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";

void PutDword(HKEY root, const char* name, DWORD value) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(root, kExplorer, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value));
    RegCloseKey(key);
}

// The value, or -1 when absent.
long long Dword(HKEY root, const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, kExplorer, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) return -1;
    DWORD value = 0, size = sizeof value, type = 0;
    const LONG rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? static_cast<long long>(value) : -1;
}

constexpr const char* kRegistryHistory =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Group Policy\\History\\{35378EAC-683F-11D2-A89A-00C04FBBCF62}";

class PolicySourceWindowTest : public MainWindowTest {
protected:
    void TearDown() override {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kExplorer, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
            RegDeleteValueA(key, "NoRun");
            RegCloseKey(key);
        }
        // Without its GPOLink the history's entry is no domain's any more.
        const std::string entry = std::string(kRegistryHistory) + "\\0";
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, entry.c_str(), 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
            RegDeleteValueA(key, "GPOLink");
            RegCloseKey(key);
        }
        MainWindowTest::TearDown();
    }
    // Windows' record that the domain's object applied registry settings
    // to the machine (GPOLink 3), read from the domain controller's share
    // as XP does: no copy on the computer says which values it set.
    void DomainApplied(const wchar_t* name) {
        HKEY key = nullptr;
        const std::string path = std::string(kRegistryHistory) + "\\0";
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                                 KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key, nullptr));
        const DWORD link = 3;
        RegSetValueExA(key, "GPOLink", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&link), sizeof link);
        RegSetValueExW(key, L"DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>(name),
                       static_cast<DWORD>((wcslen(name) + 1) * sizeof(wchar_t)));
        const wchar_t share[] = L"\\\\corp.example\\SysVol\\corp.example\\Policies\\{31B2F340-016D-11D2-945F-00C04FB984F9}\\Machine";
        RegSetValueExW(key, L"FileSysPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(share), sizeof share);
        RegCloseKey(key);
    }
    std::wstring TooltipOf(const char* name) { return test::TooltipOf(main_->Tooltip(), Control(name)); }
    // Clicks the toggle and answers each box that comes with `answer`,
    // waiting for `boxes` of them; the texts of those seen.
    std::vector<std::wstring> ClickAnswering(const char* name, int answer, std::size_t boxes) {
        DialogWatcher watcher(main_->Hwnd(), answer);
        Click(name);
        PumpMessages(200);
        for (int i = 0; i < 100 && watcher.Seen_().size() < boxes; ++i) PumpMessages(20);
        std::vector<std::wstring> texts;
        for (const DialogWatcher::Seen& seen : watcher.Seen_()) texts.push_back(seen.text);
        return texts;
    }
};

TEST_F(PolicySourceWindowTest, TheMachinesNoRunIsDownAtStartAndAConfirmedClickLiftsBothCopies) {
    PutDword(HKEY_LOCAL_MACHINE, "NoRun", 1);
    CreateWindows();
    EXPECT_TRUE(IsDown("sbDelDoing"));
    EXPECT_NE(std::wstring::npos, TooltipOf("sbDelDoing").find(kFromMachineLine)) << TooltipOf("sbDelDoing");
    EXPECT_EQ(std::wstring::npos, TooltipOf("sbDelFind").find(kFromMachineLine));
    EXPECT_EQ(std::vector<std::wstring>{kAskPolicyLiftText}, ClickAnswering("sbDelDoing", IDYES, 1));
    EXPECT_EQ(-1, Dword(HKEY_LOCAL_MACHINE, "NoRun"));
    EXPECT_EQ(0, Dword(HKEY_CURRENT_USER, "NoRun"));
    EXPECT_FALSE(IsDown("sbDelDoing"));
    EXPECT_TRUE(errors_.errors.empty());
}

TEST_F(PolicySourceWindowTest, NoChangesNothing) {
    PutDword(HKEY_LOCAL_MACHINE, "NoRun", 1);
    CreateWindows();
    ASSERT_TRUE(IsDown("sbDelDoing"));
    EXPECT_EQ(std::vector<std::wstring>{kAskPolicyLiftText}, ClickAnswering("sbDelDoing", IDNO, 1));
    EXPECT_EQ(1, Dword(HKEY_LOCAL_MACHINE, "NoRun"));
    EXPECT_EQ(-1, Dword(HKEY_CURRENT_USER, "NoRun"));
    EXPECT_TRUE(IsDown("sbDelDoing"));
}

TEST_F(PolicySourceWindowTest, AClickTheMachineAgreesWithAsksNothing) {
    PutDword(HKEY_LOCAL_MACHINE, "NoRun", 0);
    CreateWindows();
    ASSERT_FALSE(IsDown("sbDelDoing"));
    EXPECT_TRUE(ClickAnswering("sbDelFind", IDNO, 0).empty());  // no machine copy: no question
    EXPECT_EQ(1, Dword(HKEY_CURRENT_USER, "NoFind"));
}

TEST_F(PolicySourceWindowTest, AClickAgainstTheDomainsValueIsRefusedInRussianAndWritesNothing) {
    PutDword(HKEY_LOCAL_MACHINE, "NoRun", 1);
    DomainApplied(L"Политика домена");
    CreateWindows();
    ASSERT_TRUE(IsDown("sbDelDoing"));
    EXPECT_NE(std::wstring::npos, TooltipOf("sbDelDoing").find(kFromDomainLine)) << TooltipOf("sbDelDoing");
    EXPECT_EQ(std::vector<std::wstring>{kPolicyDomainText}, ClickAnswering("sbDelDoing", IDOK, 1));
    EXPECT_EQ(1, Dword(HKEY_LOCAL_MACHINE, "NoRun"));
    EXPECT_EQ(-1, Dword(HKEY_CURRENT_USER, "NoRun"));
    EXPECT_TRUE(IsDown("sbDelDoing"));
    EXPECT_TRUE(errors_.errors.empty());
}

// A user without administrator rights may read HKEY_LOCAL_MACHINE but not
// change it: after Yes, the box says so, and nothing is written, not even
// the user's own value.
TEST_F(PolicySourceWindowTest, WithoutTheRightsForTheMachinesCopyTheBoxSaysSoAndNothingIsWritten) {
    MemoryRegistryStore store;
    store.PutValue(kHkeyLocalMachine, kExplorer, "NoRun", kRegDword, {1, 0, 0, 0});
    store.DenyWrite(kHkeyLocalMachine, "");
    ScopedRegistryStore scope(store);
    CreateWindows();
    ASSERT_TRUE(IsDown("sbDelDoing"));
    const std::string before = store.Dump();
    const std::vector<std::wstring> expected = {kAskPolicyLiftText, kPolicyNoRightsText};
    EXPECT_EQ(expected, ClickAnswering("sbDelDoing", IDYES, 2));
    EXPECT_EQ(before, store.Dump());
    EXPECT_TRUE(IsDown("sbDelDoing"));
    EXPECT_EQ(0, store.OpenHandleCount());
}

}  // namespace
}  // namespace kestro::test
