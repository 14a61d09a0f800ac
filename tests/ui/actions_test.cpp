// Clicks on the real window, checked in the registry through the API and
// with reg.exe, and read back by a new window.
#include "tests/ui/ui_fixture.h"

#include "registry/memory_registry.h"
#include "core/text.h"
#include "settings/catalogue.h"

#include <cstdio>
#include <sstream>

namespace kestro::test {
namespace {

HKEY SystemRoot(KeyHandle root) {
    return root == kHkeyClassesRoot ? HKEY_CLASSES_ROOT : root == kHkeyLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

// The value as advapi32 gives it: "<type> <bytes in hex>", or "absent".
std::string ApiValue(KeyHandle root, const char* path, const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(SystemRoot(root), path, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) return "absent";
    BYTE data[512];
    DWORD type = 0, size = sizeof data;
    LONG rc = RegQueryValueExA(key, name, nullptr, &type, data, &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return "absent";
    std::ostringstream out;
    out << type;
    for (DWORD i = 0; i < size; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02x", data[i]);
        out << (i == 0 ? " " : "") << hex;
    }
    return out.str();
}

std::string DwordValue(std::uint32_t v) {
    char text[32];
    std::snprintf(text, sizeof text, "4 %02x%02x%02x%02x", v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF, v >> 24);
    return text;
}

// What reg.exe, an independent reader, lists for the value: "REG_DWORD 0x1".
std::string RegExeValue(KeyHandle root, const char* path, const char* name) {
    const char* rootText = root == kHkeyClassesRoot ? "HKCR" : root == kHkeyLocalMachine ? "HKLM" : "HKCU";
    const std::string command =
        std::string("reg.exe query \"") + rootText + "\\" + path + "\" /v \"" + name + "\" /reg:64 2>nul";
    FILE* pipe = _popen(command.c_str(), "r");
    if (!pipe) return "(no reg.exe)";
    std::string found;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe)) {
        std::istringstream in(line);
        std::string n, type, data;
        in >> n >> type >> data;
        if (_stricmp(n.c_str(), name) == 0) found = type + " " + data;
    }
    _pclose(pipe);
    return found;
}

using ActionsTest = MainWindowTest;

TEST_F(ActionsTest, EveryToggleRoundTripsThroughTheRegistryAndANewWindow) {
    CreateWindows();
    for (const Setting& row : kCatalogue) {
        if (!row.IsToggle()) continue;
        SCOPED_TRACE(row.control);
        const bool startsDown = IsDown(row.control);  // only the autorun toggle starts down
        if (startsDown) Click(row.control);           // bring it up first: that writes its up values
        Click(row.control);
        ASSERT_TRUE(IsDown(row.control));
        if (row.shape == WriteShape::SystemParameters) continue;  // user32 keeps it: its own test below
        for (std::size_t i = 0; i < row.ValueCount(); ++i) {
            EXPECT_EQ(DwordValue(static_cast<std::uint32_t>(row.down[i])), ApiValue(row.root, row.keyPath, row.valueNames[i]));
            EXPECT_EQ("REG_DWORD 0x" + std::to_string(row.down[i]), RegExeValue(row.root, row.keyPath, row.valueNames[i]));
        }
    }
    EXPECT_TRUE(errors_.errors.empty());

    CreateWindows();  // a new start reads every toggle back down
    for (const Setting& row : kCatalogue) {
        if (!row.IsToggle()) continue;
        EXPECT_TRUE(IsDown(row.control)) << row.control;
        Click(row.control);
        EXPECT_FALSE(IsDown(row.control)) << row.control;
        if (row.shape == WriteShape::SystemParameters) continue;
        for (std::size_t i = 0; i < row.ValueCount(); ++i)
            EXPECT_EQ(DwordValue(static_cast<std::uint32_t>(row.up[i])), ApiValue(row.root, row.keyPath, row.valueNames[i]))
                << row.control;
    }

    CreateWindows();  // and up again
    for (const Setting& row : kCatalogue) {
        if (row.IsToggle()) {
            EXPECT_FALSE(IsDown(row.control)) << row.control;
        }
    }
    EXPECT_TRUE(errors_.errors.empty());
}

// The toggle goes through SystemParametersInfo: smoothing is on, and of the
// ClearType kind, at once; Windows stores it as text where it reads it.
TEST_F(ActionsTest, FontSmoothingClicksGoThroughUser32) {
    CreateWindows();
    ASSERT_FALSE(IsDown("sbClearTypeStyle"));
    Click("sbClearTypeStyle");
    BOOL on = FALSE;
    UINT type = 0;
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETFONTSMOOTHING, 0, &on, 0));
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETFONTSMOOTHINGTYPE, 0, &type, 0));
    EXPECT_TRUE(on);
    EXPECT_EQ(static_cast<UINT>(FE_FONTSMOOTHINGCLEARTYPE), type);
    EXPECT_EQ("REG_SZ 2", RegExeValue(kHkeyCurrentUser, "Control Panel\\Desktop", "FontSmoothing"));
    EXPECT_EQ("REG_DWORD 0x1", RegExeValue(kHkeyCurrentUser, "Control Panel\\Desktop", "FontSmoothingOrientation"));

    Click("sbClearTypeStyle");
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETFONTSMOOTHING, 0, &on, 0));
    EXPECT_FALSE(on);
    EXPECT_EQ("REG_SZ 0", RegExeValue(kHkeyCurrentUser, "Control Panel\\Desktop", "FontSmoothing"));
    EXPECT_TRUE(errors_.errors.empty());
}

TEST_F(ActionsTest, AutorunAndCdromStartShareOneKey) {
    CreateWindows();
    Click("sbDelAutorunCDROM");  // down at start: now up, AutoRun = 1
    EXPECT_EQ(DwordValue(1), ApiValue(kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Services\\CDRom", "AutoRun"));
    Click("sbDelAutorunCDROM");
    Click("sbBanCDROM");
    EXPECT_EQ("REG_DWORD 0x0", RegExeValue(kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Services\\CDRom", "AutoRun"));
    EXPECT_EQ("REG_DWORD 0x4", RegExeValue(kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Services\\CDRom", "start"));
}

TEST_F(ActionsTest, RecentDocumentsCountFromTheSpinEdit) {
    const char* path = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
    CreateWindows();
    main_->SetText("seNumRemDocuments", L"abc");
    Click("bbSetNumRemDocuments");
    EXPECT_EQ(DwordValue(0), ApiValue(kHkeyCurrentUser, path, "MaxRecentDocs"));
    main_->SetText("seNumRemDocuments", L"-1");
    SendMessageW(Control("bbSetNumRemDocuments"), BM_CLICK, 0, 0);
    EXPECT_EQ(DwordValue(0xFFFFFFFF), ApiValue(kHkeyCurrentUser, path, "MaxRecentDocs"));
    CreateWindows();
    EXPECT_EQ(L"-1", main_->Text("seNumRemDocuments"));
}

// The value's UTF-16 text as the wide call reads it.
std::wstring WideValue(const wchar_t* path, const wchar_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) return L"(no key)";
    wchar_t wide[256] = {};
    DWORD size = sizeof wide - sizeof(wchar_t);
    const LONG rc = RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(wide), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? std::wstring(wide, size / sizeof(wchar_t)) : L"(absent)";
}

// Whatever the system's code page: the registry's UTF-16 is the text typed.
TEST_F(ActionsTest, RecycleBinTextsGoInUnchangedEmptyAndCyrillicIncluded) {
    const char* bin = "CLSID\\{645FF040-5081-101B-9F08-00AA002F954E}";
    const wchar_t* wideBin = L"CLSID\\{645FF040-5081-101B-9F08-00AA002F954E}";
    CreateWindows();
    main_->SetText("leTrashName", L"");
    SendMessageW(Control("bbSetTrashName"), BM_CLICK, 0, 0);
    EXPECT_EQ("1 00", ApiValue(kHkeyClassesRoot, bin, "LocalizedString"));
    EXPECT_EQ(std::wstring(L"\0", 1), WideValue(wideBin, L"LocalizedString"));

    main_->SetText("leTrashName", L"Мусорка");
    SendMessageW(Control("bbSetTrashName"), BM_CLICK, 0, 0);
    main_->SetText("leTrashTipText", L"Здесь лежит удалённое");
    SendMessageW(Control("bbSetTrashTipText"), BM_CLICK, 0, 0);
    EXPECT_EQ(std::wstring(L"Мусорка", 8), WideValue(wideBin, L"LocalizedString"));  // with its zero
    EXPECT_EQ(std::wstring(L"Здесь лежит удалённое", 22), WideValue(wideBin, L"InfoTip"));
    EXPECT_TRUE(errors_.errors.empty());

    // Latin text: what an 8-bit reader sees is byte for byte what it was.
    main_->SetText("leTrashName", L"Trash 1");
    SendMessageW(Control("bbSetTrashName"), BM_CLICK, 0, 0);
    EXPECT_EQ("1 5472617368203100", ApiValue(kHkeyClassesRoot, bin, "LocalizedString"));
}

TEST_F(ActionsTest, ClearingTheSearchHistoryWithATreeAndWithNoKeyAtAll) {
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Microsoft\\Search Assistant");
    CreateWindows();
    Click("sbClearSearch");  // nothing there: silent, the key is made
    EXPECT_TRUE(errors_.errors.empty());
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Search Assistant", 0, KEY_READ, &key));
    RegCloseKey(key);

    HKEY deep = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Search Assistant\\ACMru\\5001\\Inner", 0, nullptr, 0,
                    KEY_ALL_ACCESS, nullptr, &deep, nullptr);
    RegSetValueExA(deep, "000", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2);
    RegCloseKey(deep);
    Click("sbClearSearch");
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Search Assistant\\ACMru", 0, KEY_READ, &key));
    EXPECT_FALSE(IsDown("sbClearSearch"));
}

// After the error box the toggle shows what the registry holds, not the
// position the click gave it.
TEST_F(ActionsTest, AFailingWriterShowsItsMessageAndTheToggleThenShowsTheRegistry) {
    // A user without administrator rights: HKEY_LOCAL_MACHINE is closed.
    MemoryRegistryStore store;
    store.Deny(kHkeyLocalMachine, "");
    ScopedRegistryStore scope(store);
    CreateWindows(/*realErrorBox=*/true);
    main_->SelectPage(3);
    DialogWatcher watcher(main_->Hwnd());
    Click("sbBanUSB");
    for (int i = 0; i < 100 && watcher.Seen_().empty(); ++i) PumpMessages(20);
    const auto seen = watcher.Seen_();
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(L"Kestro", seen[0].caption);
    EXPECT_EQ(L"Failed to set data for 'start'", seen[0].text);
    EXPECT_TRUE(seen[0].mainWindowDisabled);
    EXPECT_FALSE(IsDown("sbBanUSB"));  // nothing could be read: as at start
    EXPECT_EQ(0, store.OpenHandleCount());
}

// A user without administrator rights may read HKEY_LOCAL_MACHINE but not
// change it: the window shows what is stored, and a click says it failed.
TEST_F(ActionsTest, ALimitedAccountSeesTheTrueStateAndIsToldWhenAWriteFails) {
    MemoryRegistryStore store;
    store.PutValue(kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Services\\usbstor", "start", kRegDword, {4, 0, 0, 0});
    store.PutValue(kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Services\\CDRom", "AutoRun", kRegDword, {1, 0, 0, 0});
    store.PutValue(kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Control\\FileSystem", "NtfsDisableLastAccessUpdate",
                   kRegDword, {1, 0, 0, 0});
    store.DenyWrite(kHkeyLocalMachine, "");
    ScopedRegistryStore scope(store);
    CreateWindows(/*realErrorBox=*/true);
    EXPECT_TRUE(IsDown("sbBanUSB"));
    EXPECT_FALSE(IsDown("sbDelAutorunCDROM"));
    EXPECT_TRUE(IsDown("sbFastOpenDir"));
    EXPECT_FALSE(IsDown("sbBanFDD"));  // its key is missing, and is not made
    EXPECT_FALSE(store.KeyExists(kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Services\\flpydisk"));
    EXPECT_EQ(0, store.OpenHandleCount());

    main_->SelectPage(3);
    DialogWatcher watcher(main_->Hwnd());
    Click("sbBanUSB");
    for (int i = 0; i < 100 && watcher.Seen_().empty(); ++i) PumpMessages(20);
    const auto seen = watcher.Seen_();
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(L"Failed to set data for 'start'", seen[0].text);
    EXPECT_TRUE(IsDown("sbBanUSB"));  // the registry still holds 4, whatever the click said
    MemoryRegistryStore::Value value;
    ASSERT_TRUE(store.GetValue(kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Services\\usbstor", "start", &value));
    EXPECT_EQ((std::vector<std::uint8_t>{4, 0, 0, 0}), value.data);
    EXPECT_EQ(0, store.OpenHandleCount());

    // Changed behind the window's back (by an administrator, say): the
    // failed click shows that, not the state the window had before.
    store.PutValue(kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Services\\usbstor", "start", kRegDword, {3, 0, 0, 0});
    Click("sbBanUSB");  // down to up: writes 3, which fails
    for (int i = 0; i < 100 && watcher.Seen_().size() < 2; ++i) PumpMessages(20);
    ASSERT_EQ(2u, watcher.Seen_().size());
    EXPECT_FALSE(IsDown("sbBanUSB"));
    // A row stored the other way round (AutoRun 1 is autorun on): the click
    // puts the toggle down, the write of 0 fails, and the registry says up.
    Click("sbDelAutorunCDROM");
    for (int i = 0; i < 100 && watcher.Seen_().size() < 3; ++i) PumpMessages(20);
    ASSERT_EQ(3u, watcher.Seen_().size());
    EXPECT_EQ(L"Failed to set data for 'AutoRun'", watcher.Seen_()[2].text);
    EXPECT_FALSE(IsDown("sbDelAutorunCDROM"));
    EXPECT_EQ(0, store.OpenHandleCount());
}

TEST_F(ActionsTest, TheExitButtonClosesTheMainWindow) {
    CreateWindows();
    HWND window = main_->Hwnd();
    Click("bbExit");
    PumpMessages(100);
    EXPECT_FALSE(IsWindow(window));
}

}  // namespace
}  // namespace kestro::test
