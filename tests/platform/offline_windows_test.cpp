// Finding a Windows that is not running from its Windows folder: the hives
// and the user profiles, whatever the case of their names, and clear errors
// with the tool's exit codes when something is missing.
#include "platform/offline_windows.h"
#include "tests/platform/offline_windows_fixture.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <functional>

namespace kestro::test {
namespace {

const char* const kEmptyReg = "Windows Registry Editor Version 5.00\n\n";

// The exit code and message of the OfflineError that `action` raises.
std::pair<int, std::string> FailureOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const OfflineError& e) {
        return {e.ExitCode(), e.what()};
    }
    return {0, "(no error)"};
}

std::vector<std::string> Names(const OfflineWindows& windows) {
    std::vector<std::string> names;
    for (const auto& user : windows.Users()) names.push_back(user.name);
    return names;
}

TEST(OfflineLayout, FindsHivesAndProfilesWhateverTheCase) {
    TempDir dir;
    // A Vista-style volume with upper-case names throughout.
    Shell("mkdir -p '" + dir.Path() + "/Windows/SYSTEM32/CONFIG' '" + dir.Path() + "/USERS/Anna' '" + dir.Path() +
        "/USERS/Default' '" + dir.Path() + "/USERS/Public'");
    WriteEmptyHive(dir.Path() + "/Windows/SYSTEM32/CONFIG/SOFTWARE");
    WriteEmptyHive(dir.Path() + "/Windows/SYSTEM32/CONFIG/SYSTEM");
    WriteEmptyHive(dir.Path() + "/USERS/Anna/ntuser.dat");
    WriteEmptyHive(dir.Path() + "/USERS/Default/NTUSER.DAT");

    // Vista's junction from the old profile folder to the new one.
    ASSERT_EQ(0, ::symlink("USERS", (dir.Path() + "/Documents and Settings").c_str()));

    OfflineWindows windows(dir.Path() + "/Windows/");
    EXPECT_EQ(dir.Path() + "/Windows/SYSTEM32/CONFIG/SOFTWARE", windows.SoftwareHive());
    EXPECT_EQ(dir.Path() + "/Windows/SYSTEM32/CONFIG/SYSTEM", windows.SystemHive());
    // Public has no NTUSER.DAT; Default is listed, but is no one's own;
    // each profile once, though two folders lead to it.
    EXPECT_EQ((std::vector<std::string>{"Anna", "Default"}), Names(windows));
    EXPECT_EQ("Anna", windows.FindUser("").name);
    EXPECT_EQ(dir.Path() + "/USERS/Anna/ntuser.dat", windows.FindUser("ANNA").hivePath);
    EXPECT_EQ("Default", windows.FindUser("default").name);

    auto store = windows.OpenStore(HiveFile::Mode::ReadOnly, "");
    EXPECT_NE(nullptr, store->Mounted(HiveRegistryStore::Slot::User));
    EXPECT_EQ(dir.Path() + "/USERS/Anna/ntuser.dat", store->Mounted(HiveRegistryStore::Slot::User)->Path());
}

TEST(OfflineLayout, MissingThingsAreExitCodeTwoWithAMessageThatSaysWhat) {
    TempDir dir;
    auto missing = FailureOf([&] { OfflineWindows w(dir / "nowhere"); });
    EXPECT_EQ(2, missing.first);
    EXPECT_NE(std::string::npos, missing.second.find("nowhere")) << missing.second;

    Shell("mkdir -p '" + dir.Path() + "/WINDOWS/system32'");
    auto noConfig = FailureOf([&] { OfflineWindows w(dir / "WINDOWS"); });
    EXPECT_EQ(2, noConfig.first);

    std::string windir = MakeOfflineWindows(dir.Path(), kEmptyReg, kEmptyReg, {"Anna", "Boris"}, kEmptyReg);
    OfflineWindows windows(windir);
    auto unknown = FailureOf([&] { windows.FindUser("Vera"); });
    EXPECT_EQ(2, unknown.first);
    EXPECT_NE(std::string::npos, unknown.second.find("Vera")) << unknown.second;
    EXPECT_NE(std::string::npos, unknown.second.find("Anna, Boris")) << unknown.second;
    auto unclear = FailureOf([&] { windows.OpenStore(HiveFile::Mode::ReadOnly, ""); });
    EXPECT_EQ(2, unclear.first);
    EXPECT_NE(std::string::npos, unclear.second.find("--user")) << unclear.second;
    // Machine-wide work needs no user.
    auto machineOnly = windows.OpenStore(HiveFile::Mode::ReadOnly, "", false);
    EXPECT_EQ(nullptr, machineOnly->Mounted(HiveRegistryStore::Slot::User));
    KeyHandle key = 0;
    EXPECT_EQ(kErrorFileNotFound, machineOnly->CreateKey(kHkeyCurrentUser, "Software", kKeyAllAccess, &key));

    ::unlink((windir + "/system32/config/system").c_str());
    auto noSystem = FailureOf([&] { OfflineWindows w(windir); });
    EXPECT_EQ(2, noSystem.first);
}

TEST(OfflineLayout, AHiveThatCannotBeReadIsExitCodeOne) {
    TempDir dir;
    std::string windir = MakeOfflineWindows(dir.Path(), kEmptyReg, kEmptyReg, {"Anna"}, kEmptyReg);
    const std::string garbage(0x3000, 'k');
    WriteFile(windir + "/system32/config/software", garbage);
    OfflineWindows windows(windir);
    auto failure = FailureOf([&] { windows.OpenStore(HiveFile::Mode::Write, "Anna"); });
    EXPECT_EQ(1, failure.first);
    EXPECT_NE(std::string::npos, failure.second.find("software")) << failure.second;
    EXPECT_EQ(garbage, ReadFile(windir + "/system32/config/software"));
}

TEST(OfflineLayout, HklmHoldsExactlyTheTwoMachineHives) {
    TempDir dir;
    std::string windir = MakeOfflineWindows(dir.Path(), kEmptyReg, kEmptyReg, {"Anna"}, kEmptyReg);
    auto store = OfflineWindows(windir).OpenStore(HiveFile::Mode::Write, "Anna");
    std::uint32_t count = 0, longest = 0;
    ASSERT_EQ(kErrorSuccess, store->QueryInfoKey(kHkeyLocalMachine, &count, &longest));
    EXPECT_EQ(2u, count);
    EXPECT_EQ(8u, longest);
    KeyHandle key = 0;
    // HKEY_LOCAL_MACHINE has no room for other keys or for values, and a
    // hive's root cannot be deleted.
    EXPECT_EQ(kErrorAccessDenied, store->CreateKey(kHkeyLocalMachine, "HARDWARE", kKeyAllAccess, &key));
    const std::uint8_t one[4] = {1, 0, 0, 0};
    EXPECT_NE(kErrorSuccess, store->SetValue(kHkeyLocalMachine, "V", kRegDword, one, 4));
    EXPECT_EQ(kErrorAccessDenied, store->DeleteKey(kHkeyLocalMachine, "SOFTWARE"));
    ASSERT_EQ(kErrorSuccess, store->OpenKey(kHkeyLocalMachine, "software", kKeyRead, &key));
    EXPECT_EQ(kErrorSuccess, store->CloseKey(key));
    EXPECT_FALSE(store->HasChanges());
}

}  // namespace
}  // namespace kestro::test
