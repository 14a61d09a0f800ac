// The settings engine on real hive files of a Windows that is not running:
// what it reads and writes, checked afterwards by reglookup, and that a hive
// it must not or cannot write stays exactly as it was.
#include "offline/hive_registry.h"
#include "offline/offline_windows.h"
#include "settings/catalogue.h"
#include "settings/readback.h"
#include "settings/uFunctions.h"
#include "tests/fakes.h"
#include "tests/offline/offline_windows_fixture.h"

#include "tests/support/windows_volume.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>
#include <sstream>

namespace kestro::test {
namespace {

std::string Fixture(const std::string& name) { return ReadFile(std::string(KESTRO_OFFLINE_FIXTURES) + "/" + name); }

constexpr const char* kSystemPolicies = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";

std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const ERegistryException& e) {
        return e.what();
    }
    return "(no error)";
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

class OfflineHives : public ::testing::Test {
protected:
    void SetUp() override {
        windir_ = MakeOfflineWindows(dir_.Path(), Fixture("system.reg"), Fixture("software.reg"), {"Owner"},
                                     Fixture("ntuser.reg"));
        system_ = windir_ + "/system32/config/system";
        software_ = windir_ + "/system32/config/software";
        ntuser_ = dir_.Path() + "/Documents and Settings/Owner/NTUSER.DAT";
    }

    // The engine on the offline Windows, as the command-line tool uses it.
    void Use(HiveFile::Mode mode) {
        scope_.reset();
        store_ = OfflineWindows(windir_).OpenStore(mode, "Owner");
        scope_ = std::make_unique<ScopedRegistryStore>(*store_);
    }
    bool Commit(bool backup = true, std::string* error = nullptr) {
        std::string why;
        bool ok = store_->Commit(HiveFile::CommitOptions{backup}, &why);
        if (error) *error = why;
        return ok;
    }
    void TearDown() override {
        if (store_) {
            EXPECT_EQ(0, store_->OpenHandleCount()) << "a handle was left open";
        }
        scope_.reset();
    }

    TempDir dir_;
    std::string windir_, system_, software_, ntuser_;
    std::unique_ptr<HiveRegistryStore> store_;
    std::unique_ptr<ScopedRegistryStore> scope_;
};

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
struct Damage {
    const char* name;
    std::function<void(const std::string&)> apply;
    const char* why;  // a word of the refusal
};

void PrintTo(const Damage& damage, std::ostream* os) { *os << damage.name; }

class DamagedHive : public OfflineHives, public ::testing::WithParamInterface<Damage> {};

TEST_P(DamagedHive, IsRefusedAndLeftIntact) {
    // Big enough for more than one bin.
    Use(HiveFile::Mode::Write);
    std::string filler(6000, 'x');
    Zfunctions::SetWallpaper(filler);
    ASSERT_TRUE(Commit(false));
    store_.reset();
    scope_.reset();
    ASSERT_GT(ReadFile(ntuser_).size(), 0x3000u);

    GetParam().apply(ntuser_);
    const std::string before = ReadFile(ntuser_);
    const mode_t mode = ModeOf(ntuser_);
    // hivex opens each of these without complaint.
    Use(HiveFile::Mode::Write);
    EXPECT_EQ("Failed to set data for 'DisableTaskMgr'", ErrorOf([] { Zfunctions::SetDisableTaskMgr(0); }));
    ASSERT_EQ(1u, store_->Refusals().size());
    EXPECT_NE(std::string::npos, store_->Refusals()[0].find(GetParam().why)) << store_->Refusals()[0];
    EXPECT_NE(std::string::npos, store_->Refusals()[0].find(ntuser_));
    EXPECT_TRUE(Commit());
    EXPECT_EQ(before, ReadFile(ntuser_));
    EXPECT_EQ(mode, ModeOf(ntuser_));
    EXPECT_EQ((std::vector<std::string>{"NTUSER.DAT"}), ListDir(dir_.Path() + "/Documents and Settings/Owner"));
}

INSTANTIATE_TEST_SUITE_P(
    Hives, DamagedHive,
    ::testing::Values(Damage{"Dirty", MakeDirty, "dirty"},
                      Damage{"TruncatedAtABin",
                             [](const std::string& path) {
                                 // Cut where the last bin starts: hivex opens
                                 // the rest, and would write a hive no one
                                 // can read.
                                 std::string bytes = ReadFile(path);
                                 std::size_t last = 0;
                                 for (std::size_t at = 0x1000; at + 4 <= bytes.size(); at += 0x1000)
                                     if (bytes.compare(at, 4, "hbin") == 0) last = at;
                                 ASSERT_GT(last, 0x1000u);
                                 WriteFile(path, bytes.substr(0, last));
                             },
                             "truncated"},
                      Damage{"ReadOnlyFile", [](const std::string& path) { SetReadOnly(path, true); },
                             "read-only"}),
    [](const ::testing::TestParamInfo<Damage>& info) { return std::string(info.param.name); });

TEST_F(OfflineHives, TheOriginalIsKeptAsABackupThatIsNeverOverwritten) {
    ::chmod(ntuser_.c_str(), 0640);
    const unsigned mode = ModeOf(ntuser_);  // 0777 on an ntfs-3g mount, which keeps no mode
    const WindowsMetadata windows = ReadWindowsMetadata(ntuser_);
    const std::string original = ReadFile(ntuser_);
    Use(HiveFile::Mode::Write);
    Zfunctions::SetDisableTaskMgr(0);
    ASSERT_TRUE(Commit());
    EXPECT_EQ(original, ReadFile(ntuser_ + ".kestro-bak"));
    EXPECT_EQ(mode, ModeOf(ntuser_));
    EXPECT_TRUE(windows == ReadWindowsMetadata(ntuser_));
    EXPECT_TRUE(windows == ReadWindowsMetadata(ntuser_ + ".kestro-bak"));
    const std::string first = ReadFile(ntuser_);
    EXPECT_NE(original, first);

    Use(HiveFile::Mode::Write);
    Zfunctions::SetDisableRegistryTools(0);
    ASSERT_TRUE(Commit());
    EXPECT_EQ(original, ReadFile(ntuser_ + ".kestro-bak"));
    EXPECT_EQ(first, ReadFile(ntuser_ + ".kestro-bak.1"));

    Use(HiveFile::Mode::Write);
    Zfunctions::SetNoRun(0);
    ASSERT_TRUE(Commit(false));
    EXPECT_EQ((std::vector<std::string>{"NTUSER.DAT", "NTUSER.DAT.kestro-bak", "NTUSER.DAT.kestro-bak.1"}),
              ListDir(dir_.Path() + "/Documents and Settings/Owner"));
    EXPECT_EQ("DWORD:0x00000000",
              ReglookupValues(ntuser_, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer")["NoRun"]);
}

TEST_F(OfflineHives, AFailureAtAnyStepOfTheCommitLeavesTheOriginal) {
    const std::string original = ReadFile(ntuser_);
    for (int step = 0; step <= static_cast<int>(CommitStep::LogsEmptied); ++step) {
        Use(HiveFile::Mode::Write);
        Zfunctions::SetDisableTaskMgr(0);
        ScopedCommitFailure fail(static_cast<CommitStep>(step));
        std::string error;
        EXPECT_FALSE(Commit(true, &error)) << "step " << step;
        EXPECT_NE(std::string::npos, error.find("left as it was")) << error;
        EXPECT_EQ(original, ReadFile(ntuser_)) << "step " << step;
        EXPECT_EQ((std::vector<std::string>{"NTUSER.DAT"}), ListDir(dir_.Path() + "/Documents and Settings/Owner"))
            << "step " << step;
    }
}

}  // namespace
}  // namespace kestro::test
