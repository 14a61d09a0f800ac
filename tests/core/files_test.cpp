// The one file module: reads stop at their limit, and a write replaces its
// file whole or leaves it as it was, with nothing beside it, whichever step
// fails. Natively and, in the Windows builds, under Wine.
#include "core/files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

namespace kestro {
namespace {

namespace fs = std::filesystem;

// A folder of its own, removed afterwards; names in it are UTF-8.
class FilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               fs::u8path(std::string("kestro-files-") +
                          ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path(const std::string& name) const { return (dir_ / fs::u8path(name)).u8string(); }

    // Every name in the folder.
    std::set<std::string> Names() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) names.insert(entry.path().filename().u8string());
        return names;
    }

    std::string Contents(const std::string& name) const {
        std::ifstream in(dir_ / fs::u8path(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    fs::path dir_;
};

TEST_F(FilesTest, AWriteReplacesTheFileWholeAndLeavesNothingBeside) {
    const std::string path = Path("профиль.ini");
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(path, std::string("first\0one", 9), &error)) << error;
    EXPECT_EQ(std::string("first\0one", 9), Contents("профиль.ini"));
    ASSERT_TRUE(WriteFileAtomically(path, "2", &error)) << error;
    EXPECT_EQ("2", Contents("профиль.ini"));
    ASSERT_TRUE(WriteFileAtomically(path, "", &error)) << error;
    EXPECT_EQ("", Contents("профиль.ini"));
    EXPECT_EQ(std::set<std::string>{"профиль.ini"}, Names());
    EXPECT_TRUE(IsExistingFile(path));
    EXPECT_FALSE(IsExistingFile(dir_.u8string()));
}

TEST_F(FilesTest, AFailedWriteLeavesNoFile) {
    std::string error;
    EXPECT_FALSE(WriteFileAtomically(Path("none/a.bin"), "x", &error));
    EXPECT_FALSE(error.empty());
    // A folder where the file should be: the rename fails, and the folder and
    // the folder around it are as they were.
    ASSERT_TRUE(MakeFolder(Path("taken")));
    FileFault fault;
    EXPECT_FALSE(WriteFileDurably(Path("taken"), "x", 1, &fault));
    EXPECT_EQ(FileStep::Replace, fault.step);
    EXPECT_EQ(std::set<std::string>{"taken"}, Names());
    EXPECT_TRUE(fs::is_empty(dir_ / "taken"));
}

// A write that fails at any step after its temporary file was made (or when
// making it) leaves the original byte for byte and no temporary file; with
// no original, no file at all.
TEST_F(FilesTest, AWriteFailingAtAnyStepLeavesTheOriginalAndNoTemporaryFile) {
    const std::string original(70000, 'o');  // more than one chunk of every read and write
    const std::string replacement(90000, 'r');
    for (FileStep step : {FileStep::Create, FileStep::Write, FileStep::Flush, FileStep::Replace}) {
        SCOPED_TRACE(static_cast<int>(step));
        std::string error;
        ASSERT_TRUE(WriteFileAtomically(Path("a.reg"), original, &error)) << error;
        FileFault fault, next;
        {
            ScopedFileWriteFailure failure(step);
            EXPECT_FALSE(WriteFileDurably(Path("a.reg"), replacement.data(), replacement.size(), &fault));
            // The failure comes once: the next write goes through.
            EXPECT_TRUE(WriteFileDurably(Path("b.reg"), replacement.data(), replacement.size(), &next)) << next.reason;
        }
        EXPECT_EQ(step, fault.step);
        EXPECT_EQ(original, Contents("a.reg"));
        EXPECT_EQ((std::set<std::string>{"a.reg", "b.reg"}), Names());
        EXPECT_EQ(replacement, Contents("b.reg"));
        fs::remove(dir_ / "b.reg");

        ScopedFileWriteFailure failure(step);
        EXPECT_FALSE(WriteFileDurably(Path("new.reg"), replacement.data(), replacement.size(), &fault));
        EXPECT_EQ(std::set<std::string>{"a.reg"}, Names());
    }
}

TEST_F(FilesTest, ReadingStopsAtTheLimit) {
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(Path("big"), std::string(65537, 'x'), &error)) << error;
    std::string bytes;
    EXPECT_TRUE(ReadWholeFile(Path("big"), 65537, &bytes, &error)) << error;
    EXPECT_EQ(65537u, bytes.size());
    FileFault fault;
    EXPECT_FALSE(ReadFileBounded(Path("big"), 65536, &bytes, &fault));
    EXPECT_EQ(FileStep::TooLarge, fault.step);
    EXPECT_FALSE(ReadWholeFile(Path("big"), 100, &bytes, &error));
    EXPECT_EQ("the file is larger than 100 bytes", error);
    EXPECT_FALSE(ReadFileBounded(Path("missing"), 100, &bytes, &fault));
    EXPECT_EQ(FileStep::Open, fault.step);
    EXPECT_FALSE(fault.reason.empty());
}

TEST_F(FilesTest, FoldersAreMadeOnceAndNeverOverAFile) {
    EXPECT_TRUE(MakeFolder(Path("sub")));
    EXPECT_TRUE(MakeFolder(Path("sub")));  // an existing folder is fine
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(Path("sub/f"), "x", &error)) << error;
    EXPECT_FALSE(MakeFolder(Path("sub/f")));
    EXPECT_FALSE(MakeFolder(Path("none/deeper")));
}

}  // namespace
}  // namespace kestro
