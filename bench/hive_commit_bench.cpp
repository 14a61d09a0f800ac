// What one safe change costs on a hive of a real Windows' size: a hive of
// KEYS keys with five values each is built once, then one value is changed
// and committed (checks, temporary file, flush, read-back comparison,
// backup, rename). Prints wall time per phase, the file sizes and the peak
// resident memory.
//
//   kestro_hive_commit_bench [KEYS]   (default 20000)
#include "platform/hive_registry.h"
#include "tests/support/hive_files.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using namespace kestro;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

long PeakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

std::unique_ptr<HiveRegistryStore> OpenUser(const std::string& path) {
    std::string error;
    auto hive = HiveFile::Open(path, HiveFile::Mode::Write, &error);
    if (!hive) {
        std::fprintf(stderr, "%s\n", error.c_str());
        std::exit(1);
    }
    auto store = std::make_unique<HiveRegistryStore>();
    store->Mount(HiveRegistryStore::Slot::User, std::move(hive));
    return store;
}

void CommitOrDie(HiveRegistryStore& store, bool backup) {
    std::string error;
    if (!store.Commit(HiveFile::CommitOptions{backup}, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        std::exit(1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int keys = argc > 1 ? std::atoi(argv[1]) : 20000;
    test::TempDir dir;
    const std::string path = dir / "NTUSER.DAT";
    test::WriteEmptyHive(path);

    auto start = Clock::now();
    {
        auto store = OpenUser(path);
        const std::uint8_t dword[4] = {1, 0, 0, 0};
        const std::string text = "C:\\Program Files\\Some Vendor\\Some Program\\program.exe";
        for (int k = 0; k < keys; ++k) {
            KeyHandle key = 0;
            std::string name = "Software\\Vendor" + std::to_string(k % 100) + "\\Product" + std::to_string(k);
            if (store->CreateKey(kHkeyCurrentUser, name, kKeyAllAccess, &key) != kErrorSuccess) return 1;
            for (int v = 0; v < 4; ++v) store->SetValue(key, "Value" + std::to_string(v), kRegDword, dword, 4);
            store->SetValue(key, "Path", kRegSz, reinterpret_cast<const std::uint8_t*>(text.c_str()),
                            static_cast<std::uint32_t>(text.size() + 1));
            store->CloseKey(key);
        }
        CommitOrDie(*store, false);
    }
    std::printf("build %d keys: %.2f s, hive %ld KiB\n", keys, Seconds(start),
                static_cast<long>(test::ReadFile(path).size() / 1024));

    start = Clock::now();
    auto store = OpenUser(path);
    std::printf("open: %.3f s\n", Seconds(start));
    start = Clock::now();
    KeyHandle key = 0;
    store->CreateKey(kHkeyCurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System",
                     kKeyAllAccess, &key);
    const std::uint8_t zero[4] = {};
    store->SetValue(key, "DisableTaskMgr", kRegDword, zero, 4);
    store->CloseKey(key);
    std::printf("first change (checks the file and walks the tree): %.3f s\n", Seconds(start));
    start = Clock::now();
    CommitOrDie(*store, true);
    std::printf("commit with backup (write, flush, read back, compare, rename): %.3f s, hive %ld KiB\n",
                Seconds(start), static_cast<long>(test::ReadFile(path).size() / 1024));
    std::printf("peak resident memory: %ld KiB\n", PeakKiB());
    return 0;
}
