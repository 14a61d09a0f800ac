// What one safe change costs on a hive of a real Windows' size: a hive of
// KEYS keys with five values each is built once, then one value is changed
// and committed (checks, temporary file, flush, read-back comparison,
// backup, rename). Then the same hive as a Windows switched off hard leaves
// it: its file older, and a new-format log of at least 8 MB beside it; the
// replay is timed against the full walk of the same hive, which the checks
// already make. Prints wall time per phase, the file sizes and the peak
// resident memory.
//
//   kestro_hive_commit_bench [KEYS]   (default 20000)
#include "core/bytes.h"
#include "offline/hive_log.h"
#include "offline/hive_registry.h"
#include "tests/support/hive_files.h"
#include "tests/support/log_files.h"

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

    store.reset();
    const std::string hive = test::ReadFile(path);
    start = Clock::now();
    std::string why = HiveFile::CheckFile(path);
    const double walk = Seconds(start);
    std::printf("full walk of the %ld KiB hive (open, visit every key and value): %.3f s %s\n",
                static_cast<long>(hive.size() / 1024), walk, why.c_str());

    // The hive as a Windows switched off hard leaves it: the file holds
    // `before` under a base block that says a write began; the log's
    // entries lead from there to the hive as it is.
    const std::uint32_t seq = test::SequenceOf(hive, 1);
    auto replayPhase = [&](const char* what, const std::string& before,
                           const std::vector<std::pair<std::uint32_t, std::string>>& states) {
        std::string primary = before;
        test::SetSequence(primary, seq + 1, seq);
        const std::vector<HiveLog> logs = {{HiveLog::Kind::Log1, "NTUSER.DAT.LOG1", test::MakeNewFormatLog(before, states)},
                                           {HiveLog::Kind::Log2, "NTUSER.DAT.LOG2", ""}};
        std::string copy = primary;
        auto at = Clock::now();
        HiveReplay replay = ReplayHiveLogs(std::move(copy), logs);
        const double replayed = Seconds(at);
        std::printf("replay of a %ld KiB log (%s, %zu entries) in memory: %.3f s, %.2f times the walk%s\n",
                    static_cast<long>(logs[0].bytes.size() / 1024), what, replay.entries, replayed, replayed / walk,
                    replay.recovered && replay.image.compare(4096, std::string::npos, hive, 4096) == 0
                        ? ""
                        : " WRONG RESULT");
        const std::string dirty = dir / "NTUSER.DIRTY";
        test::WriteFile(dirty, primary);
        test::WriteFile(dirty + ".LOG1", logs[0].bytes);
        test::WriteFile(dirty + ".LOG2", "");
        at = Clock::now();
        std::string error;
        auto file = HiveFile::Open(dirty, HiveFile::Mode::ReadOnly, &error);
        if (!file || !file->Recovered()) {
            std::fprintf(stderr, "%s%s\n", error.c_str(), file ? file->LogProblem().c_str() : "");
            std::exit(1);
        }
        std::printf("  open of that dirty hive for reading (read the files, replay, image in memory, walk): %.3f s\n",
                    Seconds(at));
    };

    // 8 MB of dirty pages: the first 8 MB of the bins as they were before.
    std::string older = hive;
    const std::size_t dirtyBytes = std::min<std::size_t>(8u << 20, hive.size() - 4096);
    std::fill(older.begin() + 4096, older.begin() + 4096 + static_cast<std::ptrdiff_t>(dirtyBytes), '\0');
    replayPhase("8 MB of dirty pages", older, {{seq, hive}});

    // Every page rewritten, in as many entries as make at least 8 MB.
    std::string empty = hive;
    std::fill(empty.begin() + 4096, empty.end(), '\0');
    std::string touched = hive;
    for (std::size_t page = 4096 + 4095; page < touched.size(); page += 4096) touched[page] ^= 1;
    std::vector<std::pair<std::uint32_t, std::string>> states;
    for (std::size_t bytes = 0; bytes < (8u << 20) || states.size() % 2 == 0; bytes += hive.size())
        states.emplace_back(seq + static_cast<std::uint32_t>(states.size()), states.size() % 2 ? touched : hive);
    replayPhase("every page", empty, states);
    std::printf("peak resident memory: %ld KiB\n", PeakKiB());
    return 0;
}
