// The copies a commit keeps of a log (and of a hive where the volume has no
// hard links): byte for byte whatever the file holds, holes included, in
// place or new, and nothing left behind when one fails.
#include "core/file_step.h"
#include "offline/volume.h"
#include "tests/support/hive_files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace kestro::test {
namespace {

// Bytes that differ from one 64 KiB block to the next, so that a block
// copied twice or left out shows.
std::string Pattern(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    unsigned x = seed;
    for (char& c : bytes) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    return bytes;
}

class VolumeCopy : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(Folder::Open(dir_.Path(), nullptr, &folder_, &error)) << error;
    }
    UniqueFd Open(const std::string& name, int flags) {
        UniqueFd fd(::open((dir_ / name).c_str(), flags | O_CLOEXEC, 0644));
        EXPECT_TRUE(fd) << name;
        return fd;
    }
    TempDir dir_;
    Folder folder_;
};

TEST_F(VolumeCopy, ACopyHoldsEveryByteHolesIncludedAndTheMode) {
    // 5 MiB of data around a 3 MiB hole, ending mid-block.
    const std::string head = Pattern(5u << 20, 1), tail = Pattern(70001, 2);
    {
        UniqueFd out = Open("LOG1", O_WRONLY | O_CREAT | O_TRUNC);
        ASSERT_EQ(static_cast<ssize_t>(head.size()), ::pwrite(out.Get(), head.data(), head.size(), 0));
        const off_t after = static_cast<off_t>(head.size() + (3u << 20));
        ASSERT_EQ(static_cast<ssize_t>(tail.size()), ::pwrite(out.Get(), tail.data(), tail.size(), after));
    }
    ASSERT_EQ(0, ::chmod((dir_ / "LOG1").c_str(), 0640));
    UniqueFd from = Open("LOG1", O_RDONLY);
    FileFault fault;
    ASSERT_TRUE(CopyInto(from.Get(), folder_, "LOG1.kestro-bak", &fault)) << fault.reason;
    EXPECT_EQ(ReadFile(dir_ / "LOG1"), ReadFile(dir_ / "LOG1.kestro-bak"));
    EXPECT_EQ(head.size() + (3u << 20) + tail.size(), ReadFile(dir_ / "LOG1.kestro-bak").size());
    // The source's mode as the file system shows it (ntfs-3g without the
    // permissions option shows every file as 0777).
    struct stat source, copy;
    ASSERT_EQ(0, ::stat((dir_ / "LOG1").c_str(), &source));
    ASSERT_EQ(0, ::stat((dir_ / "LOG1.kestro-bak").c_str(), &copy));
    EXPECT_EQ(source.st_mode & 07777, copy.st_mode & 07777);
    // A name that is taken is never written over.
    EXPECT_FALSE(CopyInto(from.Get(), folder_, "LOG1.kestro-bak", &fault));
}

TEST_F(VolumeCopy, ACopyOverAFileLeavesExactlyTheSourcesBytes) {
    const std::string shorter = Pattern(300000, 3);
    WriteFile(dir_ / "copy", shorter);
    WriteFile(dir_ / "LOG2", Pattern(900000, 4));  // an emptied log would be shorter still
    UniqueFd from = Open("copy", O_RDONLY), to = Open("LOG2", O_RDWR);
    FileFault fault;
    ASSERT_TRUE(CopyOver(from.Get(), to.Get(), &fault)) << fault.reason;
    EXPECT_EQ(shorter, ReadFile(dir_ / "LOG2"));
}

TEST_F(VolumeCopy, ACopyThatFailsLeavesNoFile) {
    WriteFile(dir_ / "LOG1", Pattern(200000, 5));
    UniqueFd from = Open("LOG1", O_RDONLY);
    for (FileStep step : {FileStep::Write, FileStep::Flush, FileStep::Carry}) {
        ScopedFileWriteFailure fail(step);
        FileFault fault;
        EXPECT_FALSE(CopyInto(from.Get(), folder_, "LOG1.kestro-bak", &fault));
        EXPECT_EQ(step, fault.step);
        EXPECT_EQ((std::vector<std::string>{"LOG1"}), ListDir(dir_.Path()));
    }
}

}  // namespace
}  // namespace kestro::test
