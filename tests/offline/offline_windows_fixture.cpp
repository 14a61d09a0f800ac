#include "tests/offline/offline_windows_fixture.h"

#include "tests/support/windows_volume.h"

#include <gtest/gtest.h>

namespace kestro::test {

std::string MakeOfflineWindows(const std::string& root, const std::string& systemReg,
                               const std::string& softwareReg, const std::vector<std::string>& users,
                               const std::string& userReg) {
    std::string windir = root + "/WINDOWS";
    std::string config = windir + "/system32/config";
    Shell("mkdir -p '" + config + "'");
    WriteEmptyHive(config + "/system");
    WriteEmptyHive(config + "/software");
    EXPECT_TRUE(MergeReg(config + "/system", systemReg));
    EXPECT_TRUE(MergeReg(config + "/software", softwareReg));
    EXPECT_TRUE(GiveWindowsMetadata(config + "/system", 18));
    EXPECT_TRUE(GiveWindowsMetadata(config + "/software", 18));
    for (const std::string& user : users) {
        std::string dir = root + "/Documents and Settings/" + user;
        Shell("mkdir -p " + Quote(dir));
        WriteEmptyHive(dir + "/NTUSER.DAT");
        EXPECT_TRUE(MergeReg(dir + "/NTUSER.DAT", userReg));
        EXPECT_TRUE(GiveWindowsMetadata(dir + "/NTUSER.DAT", 1000 + static_cast<unsigned>(&user - &users[0])));
    }
    return windir;
}

}  // namespace kestro::test
