// An offline Windows made of hive files, with the engine on it as the
// command-line tool uses it: the fixture of the hive store's, the hive
// file's, the commit's and the backups' tests.
#pragma once

#include "offline/hive_registry.h"
#include "offline/offline_windows.h"
#include "settings/uFunctions.h"
#include "tests/fakes.h"
#include "tests/offline/offline_windows_fixture.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>
#include <memory>
#include <string>

namespace kestro::test {

inline std::string Fixture(const std::string& name) { return ReadFile(std::string(KESTRO_OFFLINE_FIXTURES) + "/" + name); }

constexpr const char* kSystemPolicies = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";

inline std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const ERegistryException& e) {
        return e.what();
    }
    return "(no error)";
}

inline mode_t ModeOf(const std::string& path) {
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

}  // namespace kestro::test
