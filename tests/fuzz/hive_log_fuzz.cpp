// A dirty hive and its logs from elsewhere: the replay, in memory and as the
// offline store opens the files. The input is a primary file and three logs:
// its first 12 bytes are the little-endian lengths of the primary, NAME.LOG1
// and NAME.LOG2 (each cut to what follows), then those bytes in that order,
// and the rest is NAME.LOG.
//
// The replay may refuse anything, with a reason. What it recovers must be a
// clean hive with sound bins and sequence numbers past the primary's, grown
// by no more than the logs brought; the store must open it without writing a
// byte of any file, and a hive it calls recovered must read to the end.
#include "core/bytes.h"
#include "offline/hive_file.h"
#include "offline/hive_log.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/fuzz_files.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace kestro;

namespace {

std::string Read(const std::string& path) {
    std::string out;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    KESTRO_FUZZ_CHECK(f != nullptr, "cannot read %s", path.c_str());
    char buffer[65536];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, f)) > 0;) out.append(buffer, got);
    std::fclose(f);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 12) return 0;
    std::size_t at = 12;
    std::string parts[4];
    for (int i = 0; i < 3; ++i) {
        const std::size_t length = std::min<std::size_t>(LoadLe32(data + 4 * i), size - at);
        parts[i].assign(reinterpret_cast<const char*>(data) + at, length);
        at += length;
    }
    parts[3].assign(reinterpret_cast<const char*>(data) + at, size - at);
    const std::string& primary = parts[0];

    const std::vector<HiveLog> logs = {{HiveLog::Kind::Log1, "ntuser.dat.LOG1", parts[1]},
                                       {HiveLog::Kind::Log2, "ntuser.dat.LOG2", parts[2]},
                                       {HiveLog::Kind::Log, "ntuser.dat.LOG", parts[3]}};
    const HiveReplay replay = ReplayHiveLogs(primary, logs);
    if (!replay.recovered) {
        KESTRO_FUZZ_CHECK(!replay.problem.empty() && replay.image.empty(), "refused without a reason");
    } else {
        const std::string& image = replay.image;
        const auto* p = reinterpret_cast<const unsigned char*>(image.data());
        KESTRO_FUZZ_CHECK(replay.problem.empty() && !replay.used.empty(), "recovered from no log");
        KESTRO_FUZZ_CHECK(image.size() >= 4096 && !HiveNeedsLogs(p, image.size()), "the recovered hive is not clean");
        KESTRO_FUZZ_CHECK(image.size() == 4096ull + LoadLe32(p + 40), "%zu bytes for %u bytes of bins", image.size(),
                          LoadLe32(p + 40));
        KESTRO_FUZZ_CHECK(image.size() <= std::max<std::size_t>(primary.size(), 4096) + size,
                          "the hive grew past what the logs brought: %zu bytes", image.size());
        KESTRO_FUZZ_CHECK(LoadLe32(p + 4) >= LoadLe32(data + 12 + 4) && LoadLe32(p + 4) >= LoadLe32(data + 12 + 8),
                          "the recovered hive's sequence number %u is not past the primary's", LoadLe32(p + 4));
        for (std::size_t bin = 4096; bin < image.size(); bin += LoadLe32(p + bin + 8))
            KESTRO_FUZZ_CHECK(std::memcmp(p + bin, "hbin", 4) == 0 && LoadLe32(p + bin + 8) >= 4096,
                              "no sound bin at %zu", bin);
        KESTRO_FUZZ_CHECK(ReplayHiveLogs(primary, logs).image == image, "the same input replayed differently");
    }

    // The store's own path: the files found beside the hive, never written.
    const std::string hive = fuzz::ScratchFolder() + "/ntuser.dat";
    const std::string names[4] = {hive, hive + ".LOG1", hive + ".LOG2", hive + ".LOG"};
    for (int i = 0; i < 4; ++i) fuzz::WriteScratchFile(names[i], parts[i].data(), parts[i].size());
    {
        std::string error;
        std::unique_ptr<HiveFile> file = HiveFile::Open(hive, HiveFile::Mode::ReadOnly, &error);
        if (file) {
            KESTRO_FUZZ_CHECK(file->Recovered() == (file->Dirty() && file->LogProblem().empty()),
                              "a dirty hive neither recovered nor given a reason");
            if (file->Recovered()) {
                std::string dump;
                KESTRO_FUZZ_CHECK(DumpHive(file->Handle(), &dump), "a recovered hive does not read to the end");
            }
        } else {
            KESTRO_FUZZ_CHECK(!error.empty(), "no hive and no reason");
        }
    }
    for (int i = 0; i < 4; ++i) KESTRO_FUZZ_CHECK(Read(names[i]) == parts[i], "reading changed %s", names[i].c_str());
    return 0;
}
