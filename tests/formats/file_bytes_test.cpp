#include "formats/file_bytes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace kestro {
namespace {

// A folder of its own under the system's temporary folder, removed afterwards.
class FileBytesTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* base = std::getenv("TMPDIR");
        dir_ = std::string(base ? base : "/tmp") + "/kestro-file-bytes-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        MakeDirectory(dir_);
    }
    void TearDown() override {
        for (const char* name : {"/a.bin", "/a.bin.kestro-new", "/sub/b.bin"}) std::remove((dir_ + name).c_str());
        std::remove((dir_ + "/sub").c_str());
        std::remove(dir_.c_str());
    }
    bool Exists(const std::string& path) {
        std::FILE* f = std::fopen(path.c_str(), "rb");
        if (f) std::fclose(f);
        return f != nullptr;
    }
    std::string dir_;
};

TEST_F(FileBytesTest, WritesReplacesAndReadsBack) {
    const std::string path = dir_ + "/a.bin";
    WriteFileBytes(path, {1, 2, 3, 0, 255});
    EXPECT_EQ(ReadFileBytes(path, 5), (std::vector<std::uint8_t>{1, 2, 3, 0, 255}));
    WriteFileBytes(path, {9});
    EXPECT_EQ(ReadFileBytes(path, 5), (std::vector<std::uint8_t>{9}));
    EXPECT_FALSE(Exists(path + ".kestro-new"));
    WriteFileBytes(path, {});
    EXPECT_TRUE(ReadFileBytes(path, 0).empty());
}

TEST_F(FileBytesTest, ReadingStopsAtTheLimit) {
    const std::string path = dir_ + "/a.bin";
    WriteFileBytes(path, std::vector<std::uint8_t>(40000, 7));
    EXPECT_EQ(ReadFileBytes(path, 40000).size(), 40000u);
    EXPECT_THROW(ReadFileBytes(path, 39999), FileError);
    EXPECT_THROW(ReadFileBytes(path, 100), FileError);
    EXPECT_THROW(ReadFileBytes(dir_ + "/missing.bin", 100), FileError);
}

TEST_F(FileBytesTest, FoldersAndFailedWrites) {
    MakeDirectory(dir_ + "/sub");
    MakeDirectory(dir_ + "/sub");  // an existing folder is fine
    WriteFileBytes(dir_ + "/sub/b.bin", {1});
    EXPECT_THROW(MakeDirectory(dir_ + "/sub/b.bin"), FileError);  // a file, not a folder
    EXPECT_THROW(MakeDirectory(dir_ + "/none/deeper"), FileError);
    EXPECT_THROW(WriteFileBytes(dir_ + "/none/c.bin", {1}), FileError);
    EXPECT_FALSE(Exists(dir_ + "/none/c.bin.kestro-new"));
}

}  // namespace
}  // namespace kestro
