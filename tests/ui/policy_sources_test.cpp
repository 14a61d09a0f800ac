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
    std::wstring TooltipOf(const char* name) {
        const HWND control = Control(name);
        wchar_t text[1024] = {};
        TOOLINFOW info = {};
        info.cbSize = TTTOOLINFOW_V2_SIZE;
        info.hwnd = GetParent(control);
        info.uId = reinterpret_cast<UINT_PTR>(control);
        info.lpszText = text;
        SendMessageW(main_->Tooltip(), TTM_GETTEXTW, 1024, reinterpret_cast<LPARAM>(&info));
        return text;
    }
};

TEST_F(PolicySourceWindowTest, TheMachinesNoRunIsDownAtStartAndAConfirmedClickLiftsBothCopies) {
    PutDword(HKEY_LOCAL_MACHINE, "NoRun", 1);
    CreateWindows();
    EXPECT_TRUE(IsDown("sbDelDoing"));
    EXPECT_NE(std::wstring::npos, TooltipOf("sbDelDoing").find(kFromMachineLine)) << TooltipOf("sbDelDoing");
    EXPECT_EQ(std::wstring::npos, TooltipOf("sbDelFind").find(kFromMachineLine));
    {
        DialogWatcher watcher(main_->Hwnd(), IDYES);
        Click("sbDelDoing");
        PumpMessages(200);
        const auto seen = watcher.Seen_();
        ASSERT_EQ(1u, seen.size());
        EXPECT_EQ(kAskPolicyLiftText, seen[0].text);
    }
    EXPECT_EQ(-1, Dword(HKEY_LOCAL_MACHINE, "NoRun"));
    EXPECT_EQ(0, Dword(HKEY_CURRENT_USER, "NoRun"));
    EXPECT_FALSE(IsDown("sbDelDoing"));
    EXPECT_TRUE(errors_.errors.empty());
}

TEST_F(PolicySourceWindowTest, NoChangesNothing) {
    PutDword(HKEY_LOCAL_MACHINE, "NoRun", 1);
    CreateWindows();
    ASSERT_TRUE(IsDown("sbDelDoing"));
    {
        DialogWatcher watcher(main_->Hwnd(), IDNO);
        Click("sbDelDoing");
        PumpMessages(200);
        EXPECT_EQ(1u, watcher.Seen_().size());
    }
    EXPECT_EQ(1, Dword(HKEY_LOCAL_MACHINE, "NoRun"));
    EXPECT_EQ(-1, Dword(HKEY_CURRENT_USER, "NoRun"));
    EXPECT_TRUE(IsDown("sbDelDoing"));
}

TEST_F(PolicySourceWindowTest, AClickTheMachineAgreesWithAsksNothing) {
    PutDword(HKEY_LOCAL_MACHINE, "NoRun", 0);
    CreateWindows();
    ASSERT_FALSE(IsDown("sbDelDoing"));
    // Turning it on contradicts the machine's 0: asked.
    DialogWatcher watcher(main_->Hwnd(), IDNO);
    Click("sbDelFind");  // no machine copy: no question
    PumpMessages(200);
    EXPECT_TRUE(watcher.Seen_().empty());
    EXPECT_EQ(1, Dword(HKEY_CURRENT_USER, "NoFind"));
}

TEST_F(PolicySourceWindowTest, AClickAgainstTheDomainsValueIsRefusedInRussianAndWritesNothing) {
    PutDword(HKEY_LOCAL_MACHINE, "NoRun", 1);
    DomainApplied(L"Политика домена");
    CreateWindows();
    ASSERT_TRUE(IsDown("sbDelDoing"));
    EXPECT_NE(std::wstring::npos, TooltipOf("sbDelDoing").find(kFromDomainLine)) << TooltipOf("sbDelDoing");
    {
        DialogWatcher watcher(main_->Hwnd(), IDOK);
        Click("sbDelDoing");
        PumpMessages(200);
        const auto seen = watcher.Seen_();
        ASSERT_EQ(1u, seen.size());
        EXPECT_EQ(kPolicyDomainText, seen[0].text);
    }
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
    {
        DialogWatcher watcher(main_->Hwnd(), IDYES);
        Click("sbDelDoing");
        for (int i = 0; i < 100 && watcher.Seen_().size() < 2; ++i) PumpMessages(20);
        const auto seen = watcher.Seen_();
        ASSERT_EQ(2u, seen.size());
        EXPECT_EQ(kAskPolicyLiftText, seen[0].text);
        EXPECT_EQ(kPolicyNoRightsText, seen[1].text);
    }
    EXPECT_EQ(before, store.Dump());
    EXPECT_TRUE(IsDown("sbDelDoing"));
    EXPECT_EQ(0, store.OpenHandleCount());
}

}  // namespace
}  // namespace kestro::test
