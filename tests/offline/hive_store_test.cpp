// The settings engine on the hive store, over real hive files of a Windows
// that is not running: what it reads and writes, checked afterwards by
// reglookup, and that a read-only run changes no byte.
#include "offline/hive_registry.h"
#include "offline/offline_windows.h"
#include "settings/catalogue.h"
#include "settings/readback.h"
#include "settings/uFunctions.h"
#include "tests/fakes.h"
#include "tests/offline/offline_hives.h"
#include "tests/offline/offline_windows_fixture.h"

#include "tests/support/windows_volume.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>
#include <sstream>

namespace kestro::test {
namespace {

TEST_F(OfflineHives, CurrentControlSetReadsTheSetThatSelectNames) {
    Use(HiveFile::Mode::ReadOnly);
    // ControlSet002 is current and holds 4; ControlSet001 holds 3.
    EXPECT_EQ(4, Zfunctions::ReadDwordValueAt("system\\currentcontrolset\\services\\usbstor", "start",
                                              kHkeyLocalMachine));
    EXPECT_EQ(4, Zfunctions::ReadDwordValueAt("SYSTEM\\CurrentControlSet\\Services\\USBSTOR", "Start",
                                              kHkeyLocalMachine));
    EXPECT_EQ(1, Zfunctions::ReadDwordValueAt("SYSTEM\\ControlSet001\\Services\\USBSTOR", "Type",
                                              kHkeyLocalMachine));
}

TEST_F(OfflineHives, WritesReachTheCurrentControlSetAndLeaveTheOtherAlone) {
    std::string otherBefore = Shell("reglookup -H -p /ControlSet001 '" + system_ + "'");
    Use(HiveFile::Mode::Write);
    Zfunctions::SetUsbstorStart(3);
    Zfunctions::SetCdromStart(4);
    Zfunctions::SetCdromAutoRun(1);  // down: autorun off
    Zfunctions::SetNtfsDisableLastAccessUpdate(1);
    std::string error;
    ASSERT_TRUE(Commit(true, &error)) << error;

    auto usb = ReglookupValues(system_, "ControlSet002\\Services\\USBSTOR");
    EXPECT_EQ("DWORD:0x00000003", usb["Start"]);
    EXPECT_EQ("DWORD:0x00000001", usb["ErrorControl"]);  // its neighbours stay
    // "CDRom" and "cdrom" in the catalogue are the one key "Cdrom".
    auto cdrom = ReglookupValues(system_, "ControlSet002\\Services\\Cdrom");
    EXPECT_EQ("DWORD:0x00000000", cdrom["AutoRun"]);
    EXPECT_EQ("DWORD:0x00000004", cdrom["Start"]);
    EXPECT_EQ(2u, cdrom.size());
    EXPECT_EQ("DWORD:0x00000001",
              ReglookupValues(system_, "ControlSet002\\Control\\FileSystem")["NtfsDisableLastAccessUpdate"]);

    EXPECT_EQ(otherBefore, Shell("reglookup -H -p /ControlSet001 '" + system_ + "'"));
    EXPECT_FALSE(ReglookupHasKey(system_, "CurrentControlSet"));
    // Only the hive that changed was written.
    EXPECT_EQ((std::vector<std::string>{"software", "system", "system.kestro-bak"}),
              ListDir(windir_ + "/system32/config"));
}

TEST_F(OfflineHives, WithoutASelectKeyCurrentControlSetIsNeitherFoundNorMade) {
    WriteEmptyHive(system_);
    ASSERT_TRUE(MergeReg(system_, "Windows Registry Editor Version 5.00\n\n[\\ControlSet001]\n\n"
                                  "[\\ControlSet001\\Services]\n\n"));
    std::string before = ReadFile(system_);
    Use(HiveFile::Mode::Write);
    EXPECT_EQ("Failed to set data for 'start'", ErrorOf([] { Zfunctions::SetUsbstorStart(4); }));
    EXPECT_FALSE(store_->HasChanges());
    ASSERT_TRUE(Commit());
    EXPECT_EQ(before, ReadFile(system_));
}

TEST_F(OfflineHives, NamesMatchWithoutCaseAndKeepTheirStoredSpelling) {
    Use(HiveFile::Mode::Write);
    EXPECT_EQ(1, Zfunctions::ReadDwordValue(kSystemPolicies, "DisableTaskMgr"));
    Zfunctions::SetDisableTaskMgr(0);
    Zfunctions::SetDisableRegistryTools(0);
    // Another spelling of the same path finds the same keys.
    Zfunctions::WriteDwordValue("SOFTWARE\\microsoft\\WINDOWS\\currentversion\\policies\\explorer", "NORUN", 0);
    ASSERT_TRUE(Commit());

    auto system = ReglookupValues(ntuser_, kSystemPolicies);
    EXPECT_EQ((std::map<std::string, std::string>{{"disabletaskmgr", "DWORD:0x00000000"},
                                                  {"DisableRegistryTools", "DWORD:0x00000000"}}),
              system);
    auto explorer = ReglookupValues(ntuser_, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer");
    EXPECT_EQ((std::map<std::string, std::string>{{"NoDriveTypeAutoRun", "DWORD:0x00000091"},
                                                  {"NoRun", "DWORD:0x00000000"}}),
              explorer);
    std::string keys = Shell("reglookup -H -t KEY '" + ntuser_ + "'");
    EXPECT_EQ(std::string::npos, keys.find("/SOFTWARE")) << keys;
}

TEST_F(OfflineHives, ManyWritesToOneKeyCostNoMoreThanOne) {
    std::string copy = dir_ / "copy.dat";
    WriteFile(copy, ReadFile(ntuser_));
    auto writeAndCommit = [](const std::string& path, int times) {
        std::string error;
        auto store = std::make_unique<HiveRegistryStore>();
        store->Mount(HiveRegistryStore::Slot::User, HiveFile::Open(path, HiveFile::Mode::Write, &error));
        ScopedRegistryStore scope(*store);
        for (int i = 0; i <= times; ++i) Zfunctions::SetMaxRecentDocs(i == times ? 15 : i);
        EXPECT_TRUE(store->Commit(HiveFile::CommitOptions{false}, &error)) << error;
    };
    writeAndCommit(ntuser_, 2000);
    writeAndCommit(copy, 1);
    EXPECT_EQ(ReadFile(copy).size(), ReadFile(ntuser_).size());
    EXPECT_EQ("DWORD:0x0000000F",
              ReglookupValues(ntuser_, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer")
                  ["MaxRecentDocs"]);
}

TEST_F(OfflineHives, EverySettingRoundTripsThroughTheFiles) {
    Use(HiveFile::Mode::Write);
    for (const Setting& row : kCatalogue)
        if (row.IsToggle()) Zfunctions::WriteSetting(row, SettingArgument::Number(row.argDown));
    Zfunctions::SetMaxRecentDocs(-1);
    ASSERT_TRUE(Commit());

    Use(HiveFile::Mode::ReadOnly);
    FakeView view;
    LoadSettingsState(view);
    for (const Setting& row : kCatalogue)
        if (row.IsToggle()) {
            EXPECT_TRUE(view.Down(row.control)) << row.control;
        }
    EXPECT_EQ(-1, view.count());
    // Font smoothing where and as Windows keeps it, read by a reader that is not hivex.
    auto desktop = ReglookupValues(ntuser_, "Control Panel\\Desktop");
    EXPECT_EQ("SZ:2", desktop["FontSmoothing"]);
    EXPECT_EQ("DWORD:0x00000002", desktop["FontSmoothingType"]);
    EXPECT_EQ("DWORD:0x00000001", desktop["FontSmoothingOrientation"]);

    // And back up again.
    Use(HiveFile::Mode::Write);
    for (const Setting& row : kCatalogue)
        if (row.IsToggle()) Zfunctions::WriteSetting(row, SettingArgument::Number(row.argUp));
    ASSERT_TRUE(Commit());
    Use(HiveFile::Mode::ReadOnly);
    FakeView after;
    LoadSettingsState(after);
    for (const Setting& row : kCatalogue)
        if (row.IsToggle()) {
            EXPECT_FALSE(after.Down(row.control)) << row.control;
        }
}

TEST_F(OfflineHives, ClassesRootIsTheSoftwareHivesClassesAndTextIsUtf16) {
    Use(HiveFile::Mode::Write);
    Zfunctions::SetRecycleBinName("Корзина");
    Zfunctions::SetRecycleBinInfoTip("");
    ASSERT_TRUE(Commit());

    auto clsid = ReglookupValues(software_, "Classes\\CLSID\\{645FF040-5081-101B-9F08-00AA002F954E}");
    // reglookup quotes what it will not print as text byte by byte: the
    // UTF-16LE of "Корзина" and its terminator.
    EXPECT_EQ("SZ:%1A%04>%04@%047%048%04=%040%04%00%00", clsid["LocalizedString"]);
    EXPECT_EQ("SZ:", clsid["InfoTip"]);
    EXPECT_EQ("SZ:Recycle Bin", clsid[""]);

    Use(HiveFile::Mode::ReadOnly);
    UniqueKey key;
    KeyHandle handle = 0;
    ASSERT_EQ(kErrorSuccess, store_->OpenKey(kHkeyClassesRoot, "CLSID\\{645FF040-5081-101B-9F08-00AA002F954E}",
                                             kKeyRead, &handle));
    key = UniqueKey(*store_, handle);
    char text[32] = {};
    std::uint32_t type = 0, size = sizeof text;
    ASSERT_EQ(kErrorSuccess, store_->QueryValue(key.Get(), "localizedstring", &type,
                                                reinterpret_cast<std::uint8_t*>(text), &size));
    EXPECT_EQ(kRegSz, type);
    // The 8-bit call gives it in Windows-1251.
    const std::string name = "\xCA\xEE\xF0\xE7\xE8\xED\xE0";
    EXPECT_EQ(name.size() + 1, size);
    EXPECT_EQ(name, std::string(text));
    std::uint8_t wide[32] = {};
    size = sizeof wide;
    ASSERT_EQ(kErrorSuccess, store_->QueryValueW(key.Get(), "LocalizedString", &type, wide, &size));
    EXPECT_EQ(2 * (name.size() + 1), size);
    EXPECT_EQ(0x1A, wide[0]);  // U+041A
    EXPECT_EQ(0x04, wide[1]);
}

TEST_F(OfflineHives, ReadOnlyRunsChangeNoByte) {
    struct stat before {};
    ::stat(ntuser_.c_str(), &before);
    std::string bytes[3] = {ReadFile(system_), ReadFile(software_), ReadFile(ntuser_)};

    Use(HiveFile::Mode::ReadOnly);
    FakeView view;
    LoadSettingsState(view);  // walks paths that do not exist yet
    EXPECT_TRUE(view.Down("sbDelTaskMGR"));
    EXPECT_TRUE(view.Down("sbBanUSB"));
    EXPECT_FALSE(view.Down("sbClearTypeStyle"));
    EXPECT_EQ("Failed to set data for 'DisableTaskMgr'", ErrorOf([] { Zfunctions::SetDisableTaskMgr(0); }));
    EXPECT_FALSE(store_->HasChanges());
    EXPECT_FALSE(store_->Refusals().empty());
    ASSERT_TRUE(Commit());

    EXPECT_EQ(bytes[0], ReadFile(system_));
    EXPECT_EQ(bytes[1], ReadFile(software_));
    EXPECT_EQ(bytes[2], ReadFile(ntuser_));
    struct stat after {};
    ::stat(ntuser_.c_str(), &after);
    EXPECT_EQ(before.st_mtim.tv_sec, after.st_mtim.tv_sec);
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
    EXPECT_EQ((std::vector<std::string>{"NTUSER.DAT"}), ListDir(dir_.Path() + "/Documents and Settings/Owner"));
}

// A hive that fails its checks is refused before anything is written, says
// why, and stays byte for byte as it was.
}  // namespace
}  // namespace kestro::test
