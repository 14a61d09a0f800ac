// What writing and reading the export files costs: a file of our size (a
// dozen values) and one at the readers' entry limit, the largest any reader
// takes. Throughput is in bytes of file.
#include "formats/layout.h"
#include "formats/policy_file.h"
#include "formats/reg_file.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

using namespace kestro;

std::vector<RegValue> Values(std::size_t count) {
    std::vector<RegValue> values;
    for (std::size_t i = 0; i < count; ++i) {
        std::string key = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\K" + std::to_string(i % 64);
        std::string name = "Value" + std::to_string(i);
        if (i % 4 == 0)
            values.push_back({kHkeyClassesRoot, key, name, kRegSz, TextData(u"Корзина \"для\" C:\\мусора")});
        else
            values.push_back({i % 2 ? kHkeyCurrentUser : kHkeyLocalMachine, key, name, kRegDword,
                              DwordData(static_cast<std::uint32_t>(i))});
    }
    return values;
}

void BM_WriteReg(benchmark::State& state) {
    std::vector<RegValue> values = Values(static_cast<std::size_t>(state.range(0)));
    std::size_t bytes = 0;
    for (auto _ : state) bytes += WriteRegFile(values).size();
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

void BM_ReadReg(benchmark::State& state) {
    std::vector<std::uint8_t> file = WriteRegFile(Values(static_cast<std::size_t>(state.range(0))));
    for (auto _ : state) benchmark::DoNotOptimize(ReadRegFile(file));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.size()));
    state.counters["file_bytes"] = static_cast<double>(file.size());
}

void BM_WritePol(benchmark::State& state) {
    std::vector<RegValue> values = Values(static_cast<std::size_t>(state.range(0)));
    std::size_t bytes = 0;
    for (auto _ : state) {
        PolicyFiles files = WritePolicyFiles(values);
        bytes += files.user.size() + files.machine.size();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

void BM_ReadPol(benchmark::State& state) {
    PolicyFiles files = WritePolicyFiles(Values(static_cast<std::size_t>(state.range(0))));
    for (auto _ : state) benchmark::DoNotOptimize(ReadPolicyFile(files.machine, PolicyScope::Machine));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * files.machine.size()));
    state.counters["file_bytes"] = static_cast<double>(files.machine.size());
}

const std::int64_t kLimit = static_cast<std::int64_t>(layout::kMaxEntries);
BENCHMARK(BM_WriteReg)->Arg(12)->Arg(kLimit);
BENCHMARK(BM_ReadReg)->Arg(12)->Arg(kLimit);
BENCHMARK(BM_WritePol)->Arg(12)->Arg(kLimit);
BENCHMARK(BM_ReadPol)->Arg(12)->Arg(kLimit);

}  // namespace

BENCHMARK_MAIN();
