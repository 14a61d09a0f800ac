// Finding a Windows that is not running from its Windows folder: the hives
// and the user profiles, whatever the case of their names, and clear errors
// that say whether something is missing or unusable.
#include "offline/offline_windows.h"
#include "core/text.h"
#include "tests/offline/offline_windows_fixture.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <functional>

namespace kestro::test {
namespace {

const char* const kEmptyReg = "Windows Registry Editor Version 5.00\n\n";

// The kind and message of the OfflineError that `action` raises.
std::pair<OfflineFault, std::string> FailureOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const OfflineError& e) {
        return {e.Fault(), e.what()};
    }
    ADD_FAILURE() << "no OfflineError";
    return {OfflineFault::Unusable, "(no error)"};
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

TEST(OfflineLayout, MissingThingsAreNotFoundWithAMessageThatSaysWhat) {
    TempDir dir;
    auto missing = FailureOf([&] { OfflineWindows w(dir / "nowhere"); });
    EXPECT_EQ(OfflineFault::NotFound, missing.first);
    EXPECT_NE(std::string::npos, missing.second.find("nowhere")) << missing.second;

    Shell("mkdir -p '" + dir.Path() + "/WINDOWS/system32'");
    auto noConfig = FailureOf([&] { OfflineWindows w(dir / "WINDOWS"); });
    EXPECT_EQ(OfflineFault::NotFound, noConfig.first);

    std::string windir = MakeOfflineWindows(dir.Path(), kEmptyReg, kEmptyReg, {"Anna", "Boris"}, kEmptyReg);
    OfflineWindows windows(windir);
    auto unknown = FailureOf([&] { windows.FindUser("Vera"); });
    EXPECT_EQ(OfflineFault::NotFound, unknown.first);
    EXPECT_NE(std::string::npos, unknown.second.find("Vera")) << unknown.second;
    EXPECT_NE(std::string::npos, unknown.second.find("Anna, Boris")) << unknown.second;
    auto unclear = FailureOf([&] { windows.OpenStore(HiveFile::Mode::ReadOnly, ""); });
    EXPECT_EQ(OfflineFault::NotFound, unclear.first);
    EXPECT_NE(std::string::npos, unclear.second.find("--user")) << unclear.second;
    // Machine-wide work needs no user.
    auto machineOnly = windows.OpenStore(HiveFile::Mode::ReadOnly, "", false);
    EXPECT_EQ(nullptr, machineOnly->Mounted(HiveRegistryStore::Slot::User));
    KeyHandle key = 0;
    EXPECT_EQ(kErrorFileNotFound, machineOnly->CreateKey(kHkeyCurrentUser, "Software", kKeyAllAccess, &key));

    ::unlink((windir + "/system32/config/system").c_str());
    auto noSystem = FailureOf([&] { OfflineWindows w(windir); });
    EXPECT_EQ(OfflineFault::NotFound, noSystem.first);
}

TEST(OfflineLayout, AHiveThatCannotBeReadIsUnusable) {
    TempDir dir;
    std::string windir = MakeOfflineWindows(dir.Path(), kEmptyReg, kEmptyReg, {"Anna"}, kEmptyReg);
    const std::string garbage(0x3000, 'k');
    WriteFile(windir + "/system32/config/software", garbage);
    OfflineWindows windows(windir);
    auto failure = FailureOf([&] { windows.OpenStore(HiveFile::Mode::Write, "Anna"); });
    EXPECT_EQ(OfflineFault::Unusable, failure.first);
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

namespace kestro::test {
namespace {

// REG_EXPAND_SZ data as a .reg file spells it: hex(2): and the UTF-16LE
// bytes with their terminator.
std::string ExpandSz(const std::string& utf8) {
    std::string out = "hex(2):";
    std::u16string units = Utf8ToUtf16(utf8);
    units.push_back(u'\0');
    char byte[8];
    for (std::size_t i = 0; i < units.size(); ++i) {
        std::snprintf(byte, sizeof byte, "%s%02x,%02x", i ? "," : "", units[i] & 0xFF, units[i] >> 8);
        out += byte;
    }
    return out;
}

// An XP machine as Windows left it: john's profile is john.PC (a second
// "john" was made when his first profile broke), the administrator's is
// Russian, and an old folder that ProfileList no longer names.
class ProfileListTest : public ::testing::Test {
protected:
    void SetUp() override {
        windir_ = MakeOfflineWindows(dir_.Path(), kEmptyReg, kEmptyReg, {"john", "john.PC", "Администратор", "old"},
                                     kEmptyReg);
        profiles_ = dir_.Path() + "/Documents and Settings";
        const std::string key = "\\Microsoft\\Windows NT\\CurrentVersion";
        ASSERT_TRUE(MergeReg(windir_ + "/system32/config/software",
                             "Windows Registry Editor Version 5.00\n\n[\\Microsoft]\n\n[\\Microsoft\\Windows NT]\n\n[" +
                                 key + "]\n\"SystemRoot\"=\"C:\\\\WINDOWS\"\n\n[" + key + "\\ProfileList]\n\n[" + key +
                                 "\\ProfileList\\S-1-5-18]\n\"ProfileImagePath\"=" +
                                 ExpandSz("%SystemRoot%\\system32\\config\\systemprofile") + "\n\n[" + key +
                                 "\\ProfileList\\S-1-5-21-1-2-3-1003]\n\"ProfileImagePath\"=" +
                                 ExpandSz("%SystemDrive%\\Documents and Settings\\john.PC") + "\n\n[" + key +
                                 "\\ProfileList\\S-1-5-21-1-2-3-500]\n\"ProfileImagePath\"=" +
                                 ExpandSz("C:\\DOCUMENTS AND SETTINGS\\администратор") + "\n\n[" + key +
                                 "\\ProfileList\\S-1-5-21-1-2-3-1005]\n\"ProfileImagePath\"=" +
                                 ExpandSz("D:\\Profiles\\vera") + "\n\n"));
    }

    void MakeSam() {
        const std::string sam = windir_ + "/system32/config/SAM";
        WriteEmptyHive(sam);
        const std::string names = "\\SAM\\Domains\\Account\\Users\\Names";
        ASSERT_TRUE(MergeReg(sam, "Windows Registry Editor Version 5.00\n\n[\\SAM]\n\n[\\SAM\\Domains]\n\n"
                                  "[\\SAM\\Domains\\Account]\n\n[\\SAM\\Domains\\Account\\Users]\n\n[" + names +
                                      "]\n\n[" + names + "\\john]\n@=hex(3eb):\n\n[" + names +
                                      "\\Администратор]\n@=hex(1f4):\n\n[" + names + "\\vera]\n@=hex(3ed):\n\n"));
    }

    const OfflineWindows::UserProfile* BySid(const OfflineWindows& windows, const std::string& sid) {
        for (const auto& user : windows.Users())
            if (user.sid == sid) return &user;
        return nullptr;
    }

    TempDir dir_;
    std::string windir_, profiles_;
};

TEST_F(ProfileListTest, TheAccountNameLeadsToTheFolderWindowsLoads) {
    MakeSam();
    OfflineWindows windows(windir_);
    EXPECT_EQ("", windows.ProfileListNote());
    EXPECT_EQ(profiles_ + "/john.PC/NTUSER.DAT", windows.FindUser("john").hivePath);
    EXPECT_EQ(profiles_ + "/john.PC/NTUSER.DAT", windows.FindUser("JOHN.pc").hivePath);
    // The account's name and ProfileList's spelling of the folder both in
    // another case than on the disk, and in Cyrillic.
    EXPECT_EQ(profiles_ + "/Администратор/NTUSER.DAT", windows.FindUser("АДМИНИСТРАТОР").hivePath);
    EXPECT_EQ("S-1-5-21-1-2-3-500", windows.FindUser("администратор").sid);

    const auto* john = BySid(windows, "S-1-5-21-1-2-3-1003");
    ASSERT_NE(nullptr, john);
    EXPECT_EQ("john", john->account);
    EXPECT_EQ(profiles_ + "/john.PC", john->folder);
    const auto* system = BySid(windows, "S-1-5-18");
    ASSERT_NE(nullptr, system);
    EXPECT_TRUE(system->systemProfile);
    EXPECT_EQ("", system->hivePath);
    // On another drive: listed, with no folder here.
    const auto* vera = BySid(windows, "S-1-5-21-1-2-3-1005");
    ASSERT_NE(nullptr, vera);
    EXPECT_EQ("vera", vera->account);
    EXPECT_EQ("", vera->folder);
    auto other = FailureOf([&] { windows.FindUser("vera"); });
    EXPECT_EQ(OfflineFault::NotFound, other.first);
    EXPECT_NE(std::string::npos, other.second.find("no NTUSER.DAT on this volume")) << other.second;

    // The folders ProfileList does not name: there, but not loaded.
    std::vector<std::string> unlisted;
    for (const auto& user : windows.Users())
        if (!user.listed) unlisted.push_back(user.name);
    EXPECT_EQ((std::vector<std::string>{"john", "old"}), unlisted);
    auto old = FailureOf([&] { windows.FindUser("old"); });
    EXPECT_EQ(OfflineFault::NotFound, old.first);
    EXPECT_NE(std::string::npos, old.second.find("not a profile Windows loads")) << old.second;
    EXPECT_NE(std::string::npos, old.second.find("john (john.PC)")) << old.second;
    // Two people: no clear choice.
    EXPECT_EQ(OfflineFault::NotFound, FailureOf([&] { windows.FindUser(""); }).first);

    auto store = windows.OpenStore(HiveFile::Mode::ReadOnly, "john");
    EXPECT_EQ(profiles_ + "/john.PC/NTUSER.DAT", store->Mounted(HiveRegistryStore::Slot::User)->Path());
}

TEST_F(ProfileListTest, WithoutTheSamOnlyFolderNamesAndTheOldFolderIsRefused) {
    OfflineWindows windows(windir_);
    EXPECT_NE(std::string::npos, windows.AccountNote().find("SAM")) << windows.AccountNote();
    EXPECT_EQ(profiles_ + "/john.PC/NTUSER.DAT", windows.FindUser("john.pc").hivePath);
    // "john" is now only the folder Windows no longer loads.
    auto john = FailureOf([&] { windows.FindUser("john"); });
    EXPECT_EQ(OfflineFault::NotFound, john.first);
    EXPECT_NE(std::string::npos, john.second.find("john.PC")) << john.second;
}

TEST_F(ProfileListTest, WindowsPathsLeadOntoTheVolumeOnly) {
    Shell("mkdir -p " + Quote(windir_ + "/Web/Wallpaper") + " && touch " + Quote(windir_ + "/Web/Wallpaper/Bliss.bmp"));
    OfflineWindows windows(windir_);
    EXPECT_EQ("C:", windows.SystemDrive());
    const std::string bliss = windir_ + "/Web/Wallpaper/Bliss.bmp";
    std::string why;
    EXPECT_EQ(bliss, windows.MapWindowsPath("C:\\WINDOWS\\Web\\Wallpaper\\Bliss.bmp", &why)) << why;
    EXPECT_EQ(bliss, windows.MapWindowsPath("c:/windows/WEB/wallpaper/bliss.BMP", &why)) << why;
    EXPECT_EQ(bliss, windows.MapWindowsPath("%systemroot%\\Web\\Wallpaper\\Bliss.bmp", &why)) << why;
    EXPECT_EQ(bliss, windows.MapWindowsPath("%SystemDrive%\\Windows\\Web\\Wallpaper\\Bliss.bmp", &why)) << why;

    for (const char* wrong : {"Bliss.bmp", "/etc/passwd", "D:\\Web\\Bliss.bmp", "C:\\WINDOWS\\..\\..\\etc\\passwd",
                              "C:\\WINDOWS\\Web\\nothing.bmp", "%USERPROFILE%\\x.bmp", "\\\\server\\share\\x.bmp"}) {
        why.clear();
        EXPECT_EQ("", windows.MapWindowsPath(wrong, &why)) << wrong;
        EXPECT_NE(std::string::npos, why.find(wrong)) << why;
    }
    // A link out of the volume is not followed off it.
    ASSERT_EQ(0, ::symlink("/etc", (windir_ + "/Web/out").c_str()));
    EXPECT_EQ("", windows.MapWindowsPath("C:\\WINDOWS\\Web\\out\\passwd", &why));
}

TEST(OfflineNames, TheWindowsFolderAndHivesAreFoundInAnyCaseAndTwoSpellingsAreRefused) {
    TempDir dir;
    // Vista and later spell it "Windows"; the README says WINDOWS.
    Shell("mkdir -p '" + dir.Path() + "/Windows/System32/config' '" + dir.Path() + "/Users/Администратор'");
    WriteEmptyHive(dir.Path() + "/Windows/System32/config/SOFTWARE");
    WriteEmptyHive(dir.Path() + "/Windows/System32/config/SYSTEM");
    WriteEmptyHive(dir.Path() + "/Users/Администратор/NTUSER.DAT");
    OfflineWindows windows(dir.Path() + "/WINDOWS");
    EXPECT_EQ(dir.Path() + "/Windows", windows.WindowsDir());
    EXPECT_EQ(dir.Path(), OfflineWindows(dir.Path() + "/windows/./").Volume());
    EXPECT_EQ(dir.Path() + "/Users/Администратор/NTUSER.DAT", windows.FindUser("аДМИНИСТРАТОР").hivePath);

    // A case-sensitive mount can hold two names Windows takes for one.
    WriteEmptyHive(dir.Path() + "/Windows/System32/config/software");
    auto both = FailureOf([&] { OfflineWindows w(dir.Path() + "/Windows"); });
    EXPECT_EQ(OfflineFault::Unusable, both.first);
    EXPECT_NE(std::string::npos, both.second.find("\"SOFTWARE\" and \"software\"")) << both.second;
    ::unlink((dir.Path() + "/Windows/System32/config/software").c_str());

    // Two profile folders Windows takes for one: neither is guessed.
    Shell("mkdir -p '" + dir.Path() + "/Users/АДМИНИСТРАТОР'");
    WriteEmptyHive(dir.Path() + "/Users/АДМИНИСТРАТОР/NTUSER.DAT");
    auto folders = FailureOf([&] { OfflineWindows(dir.Path() + "/Windows").FindUser("администратор"); });
    EXPECT_EQ(OfflineFault::NotFound, folders.first);
    EXPECT_NE(std::string::npos, folders.second.find("/Users/Администратор")) << folders.second;
    EXPECT_NE(std::string::npos, folders.second.find("/Users/АДМИНИСТРАТОР")) << folders.second;
    EXPECT_NE(std::string::npos, folders.second.find("takes their folders' names for one")) << folders.second;
    Shell("rm -r '" + dir.Path() + "/Users/АДМИНИСТРАТОР'");

    WriteEmptyHive(dir.Path() + "/Users/Администратор/ntuser.dat");
    auto hives = FailureOf([&] { OfflineWindows(dir.Path() + "/Windows").FindUser(""); });
    EXPECT_EQ(OfflineFault::Unusable, hives.first);
    EXPECT_NE(std::string::npos, hives.second.find("\"NTUSER.DAT\" and \"ntuser.dat\"")) << hives.second;
}

TEST(OfflineNames, HiberfilSignaturesTellASavedSession) {
    for (const char* saved : {"hibr", "HIBR", "wake", "WAKE", "RSTR"})
        EXPECT_NE("", HibernationSignature(std::string(saved) + std::string(4092, '\0'))) << saved;
    EXPECT_EQ("", HibernationSignature(std::string(4096, '\0')));  // zeroed after a resume
    EXPECT_EQ("", HibernationSignature(""));
    EXPECT_EQ("", HibernationSignature("hib"));

    TempDir dir;
    std::string windir = MakeOfflineWindows(dir.Path(), kEmptyReg, kEmptyReg, {"Anna"}, kEmptyReg);
    OfflineWindows windows(windir);
    EXPECT_EQ("", windows.SavedSession());
    WriteFile(dir / "HiberFil.sys", "HIBR" + std::string(8192, '\x01'));
    EXPECT_NE(std::string::npos, windows.SavedSession().find("fast start-up")) << windows.SavedSession();
    WriteFile(dir / "HiberFil.sys", std::string(8192, '\0'));
    EXPECT_EQ("", windows.SavedSession());
}

}  // namespace
}  // namespace kestro::test
