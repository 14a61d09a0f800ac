// `export gpo`'s files on the disk: every file where the export says, none
// when the name, the values or the folder are wrong, and a write that fails
// reported as such.
#include "ctl/export_gpo.h"

#include "formats/file_bytes.h"
#include "formats/layout.h"
#include "formats/values.h"
#include "core/files.h"
#include "registry/memory_registry.h"
#include "tests/ctl/ctl_fakes.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include <unistd.h>

namespace kestro::test {
namespace {

using ::testing::HasSubstr;
namespace fs = std::filesystem;

const GpoStamp kStamp{"{11111111-2222-4333-8444-555555555555}", "{AAAAAAAA-BBBB-4CCC-9DDD-EEEEEEEEEEEE}",
                      "2026-12-08T13:30:00"};

const std::vector<RegValue> kValues = {
    RegValue{kHkeyCurrentUser, "Software\\P", "NoRun", kRegDword, DwordData(1)},
    RegValue{kHkeyLocalMachine, "SYSTEM\\S", "Start", kRegDword, DwordData(4)},
};

class ExportGpoTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = (fs::temp_directory_path() / ("kestro-gpo-" + std::to_string(getpid()))).string();
        fs::remove_all(dir_);
        fs::create_directory(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    int Export(const std::vector<RegValue>& values, const std::string& name = "Kestro") {
        console_ = CapturingConsole();
        return ExportGpo(values, dir_ + "/out", name, kStamp, console_);
    }

    std::vector<std::string> WrittenFiles() const {
        std::vector<std::string> out;
        for (const auto& entry : fs::recursive_directory_iterator(dir_))
            if (entry.is_regular_file()) out.push_back(fs::relative(entry.path(), dir_ + "/out").generic_string());
        std::sort(out.begin(), out.end());
        return out;
    }

    std::string dir_;
    CapturingConsole console_;
};

TEST_F(ExportGpoTest, WritesEveryFileOfTheExportWhereItSays) {
    ASSERT_EQ(kExitOk, Export(kValues)) << console_.err;
    std::vector<std::string> want;
    for (const GpoFile& file : WriteGpoExport(kValues, "Kestro", kStamp)) {
        want.push_back(file.path);
        std::ifstream in(dir_ + "/out/" + file.path, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(std::string(file.bytes.begin(), file.bytes.end()), bytes) << file.path;
    }
    std::sort(want.begin(), want.end());
    EXPECT_EQ(want, WrittenFiles());
    EXPECT_THAT(console_.out, HasSubstr("2 values written as the GPO \"Kestro\" ({11111111-2222-4333-8444-555555555555})"));
    EXPECT_THAT(console_.out, HasSubstr("out/windows: a Group Policy backup ({AAAAAAAA-BBBB-4CCC-9DDD-EEEEEEEEEEEE})"));
    EXPECT_THAT(console_.out, HasSubstr("-BackupGpoName 'Kestro' -TargetName 'Kestro'"));
    EXPECT_THAT(console_.out, HasSubstr("out/samba: for a Samba domain controller"));
}

TEST_F(ExportGpoTest, AFolderHoldingAnExportIsRefusedAndKeptAsItWas) {
    ASSERT_EQ(kExitOk, Export(kValues, "Kestro's"));
    EXPECT_THAT(console_.out, HasSubstr("-BackupGpoName 'Kestro''s'"));
    const std::vector<std::string> before = WrittenFiles();
    EXPECT_EQ(kExitUsage, Export({kValues[0]}));
    EXPECT_THAT(console_.err, HasSubstr("exists: a GPO export goes into a folder of its own; nothing was written"));
    EXPECT_EQ(before, WrittenFiles());
}

TEST_F(ExportGpoTest, WrongNamesAndNoValuesWriteNothing) {
    EXPECT_EQ(kExitUsage, Export(kValues, ""));
    EXPECT_THAT(console_.err, HasSubstr("cannot export: the GPO's name is empty"));
    EXPECT_EQ(kExitUsage, Export({}));
    EXPECT_THAT(console_.err, HasSubstr("the GPO would be empty"));
    EXPECT_FALSE(fs::exists(dir_ + "/out"));
}

TEST_F(ExportGpoTest, AWriteThatFailsIsReportedWithTheIncompleteFolder) {
    ScopedFileWriteFailure failure(FileStep::Flush);
    EXPECT_EQ(kExitFailed, Export(kValues));
    EXPECT_THAT(console_.err, HasSubstr("is incomplete: remove it and export again"));
    EXPECT_EQ("", console_.out);
}

// Through the command line: the same Registry.pol bytes as export pol of
// the same profile, and the name required.
TEST_F(ExportGpoTest, TheCommandExportsAProfileAsExportPolDoes) {
    const std::string profile = dir_ + "/p.ini";
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(profile, "[Kestro]\nNoRun = on\nUsbStorageOff = on\n", &error)) << error;
    MemoryRegistryStore store;
    FixedStore provider(store);
    ASSERT_EQ(kExitOk, RunKestroctl({"export", "pol", dir_ + "/pol", "--profile", profile}, provider, console_))
        << console_.err;
    ASSERT_EQ(kExitOk,
              RunKestroctl({"export", "gpo", dir_ + "/gpo", "--name", "Kestro", "--profile", profile}, provider, console_))
        << console_.err;
    std::vector<std::string> backups;
    for (const auto& entry : fs::directory_iterator(dir_ + "/gpo/windows"))
        if (entry.is_directory()) backups.push_back(entry.path().string());
    ASSERT_EQ(1u, backups.size());
    for (const char* side : {"User", "Machine"})
        EXPECT_EQ(ReadFileBytes(dir_ + "/pol/" + side + "/Registry.pol", layout::kMaxFileBytes),
                  ReadFileBytes(backups[0] + "/DomainSysvol/GPO/" + side + "/registry.pol", layout::kMaxFileBytes))
            << side;
    EXPECT_EQ(0u, store.OpenHandleCount());

    // One scope: only its side's files.
    ASSERT_EQ(kExitOk, RunKestroctl({"export", "gpo", dir_ + "/user", "--name", "U", "--profile", profile, "--scope",
                                     "user"},
                                    provider, console_));
    EXPECT_TRUE(fs::exists(dir_ + "/user/samba/backup/User/Registry.pol.xml"));
    EXPECT_FALSE(fs::exists(dir_ + "/user/samba/backup/Machine"));

    console_ = CapturingConsole();
    EXPECT_EQ(kExitUsage, RunKestroctl({"export", "gpo", dir_ + "/other", "--profile", profile}, provider, console_));
    EXPECT_THAT(console_.err, HasSubstr("--name is required"));
    EXPECT_FALSE(fs::exists(dir_ + "/other"));
}

}  // namespace
}  // namespace kestro::test
