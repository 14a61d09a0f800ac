// On a Windows that does not read a toggle's setting, the toggle's tooltip
// says so, and the folder background's says from Vista on that Explorer no
// longer shows it; on a Windows that reads them, neither. The Windows is
// the one Wine reports to a program: a copy of this test program, with its
// own Version in the prefix (AppDefaults), builds the window and writes the
// tooltips to a file, once as Windows 10 and once as XP.
#include "tests/ui/ui_fixture.h"

#include "core/text.h"
#include "settings/catalogue.h"

#include <cstdio>
#include <string>

namespace kestro::test {
namespace {

constexpr wchar_t kOutputVariable[] = L"KESTRO_TOOLTIP_OUT";
constexpr char kTestName[] = "WindowsNoteTest.TheTooltipSaysWhatThisWindowsDoesNotDo";

std::string ControlOf(const char* setting) { return FindSettingByName(setting)->control; }

struct Tooltips {
    std::wstring xpOnly;     // NoSMMyPictures: XP's Start menu alone
    std::wstring everywhere;  // NoSetTaskbar: every Windows
    std::wstring folderBackground;
};

// Runs a copy of this program as Wine's `version`; the tooltips it saw.
bool TooltipsAs(const wchar_t* version, Tooltips* seen) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring folder = std::wstring(self).substr(0, std::wstring(self).find_last_of(L"\\/"));
    const std::wstring name = L"kestro_ui_as_" + std::wstring(version) + L"_" + std::to_wstring(GetCurrentProcessId());
    const std::wstring copy = folder + L"\\" + name + L".exe", out = folder + L"\\" + name + L".txt";
    if (!CopyFileW(self, copy.c_str(), FALSE)) return false;
    const std::wstring appKey = L"Software\\Wine\\AppDefaults\\" + name + L".exe";
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, appKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
    RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                   static_cast<DWORD>((wcslen(version) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);

    SetEnvironmentVariableW(kOutputVariable, out.c_str());
    std::wstring command = L"\"" + copy + L"\" --gtest_filter=" + Utf8ToWide(kTestName);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    const bool started = CreateProcessW(copy.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                        &startup, &process);
    SetEnvironmentVariableW(kOutputVariable, nullptr);
    DWORD code = 1;
    if (started) {
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    std::string bytes;
    const bool read = ReadFileBytes(out, &bytes);
    DeleteFileW(copy.c_str());
    DeleteFileW(out.c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, appKey.c_str());
    if (!started || code != 0 || !read) return false;
    // Three tooltips, each ended by a form feed (a tooltip has line ends).
    std::wstring* parts[] = {&seen->xpOnly, &seen->everywhere, &seen->folderBackground};
    std::size_t at = 0;
    for (std::wstring* part : parts) {
        const std::size_t end = bytes.find('\f', at);
        if (end == std::string::npos) return false;
        *part = Utf8ToWide(bytes.substr(at, end - at));
        at = end + 1;
    }
    return true;
}

using WindowsNoteTest = MainWindowTest;

TEST_F(WindowsNoteTest, TheTooltipSaysWhatThisWindowsDoesNotDo) {
    wchar_t out[MAX_PATH] = {};
    if (GetEnvironmentVariableW(kOutputVariable, out, MAX_PATH)) {
        // The copy: the tooltips of the window as this Windows builds it.
        CreateWindows();
        std::string text;
        for (const std::string& control : {ControlOf("NoSMMyPictures"), ControlOf("NoSetTaskbar"),
                                           std::string("bbSetPictureBackgroundFolder")})
            text += WideToUtf8(TooltipOf(main_->Tooltip(), Control(control.c_str()))) + "\f";
        ASSERT_TRUE(WriteFileBytes(out, text));
        return;
    }
    const ControlDef& xpOnly = DefOf(ControlId::sbDelMyPictures);
    const ControlDef& everywhere = DefOf(ControlId::sbDelTaskBar);

    Tooltips ten;
    ASSERT_TRUE(TooltipsAs(L"win10", &ten));
    EXPECT_EQ(std::wstring(xpOnly.tooltip) +
                  L"\r\nWindows 10 не читает эту настройку: здесь переключатель ничего не изменит (её читает "
                  L"Windows XP\u2013" L"7).",
              ten.xpOnly);
    EXPECT_EQ(std::wstring(everywhere.tooltip), ten.everywhere);
    EXPECT_NE(std::wstring::npos, ten.folderBackground.find(L"больше не показывает картинку на фоне папки"))
        << WideToUtf8(ten.folderBackground);

#ifdef _WIN64
    const wchar_t* xp = L"winxp64";
#else
    const wchar_t* xp = L"winxp";
#endif
    Tooltips onXp;
    ASSERT_TRUE(TooltipsAs(xp, &onXp));
    EXPECT_EQ(std::wstring(xpOnly.tooltip), onXp.xpOnly);
    EXPECT_EQ(std::wstring(everywhere.tooltip), onXp.everywhere);
    EXPECT_EQ(L"", onXp.folderBackground);
}

}  // namespace
}  // namespace kestro::test
