// What one click's write and the whole start-up read cost on the in-memory
// store: time, and registry calls per operation.
#include "registry/memory_registry.h"
#include "settings/catalogue.h"
#include "settings/readback.h"

#include <benchmark/benchmark.h>

#include <map>
#include <string>

namespace {

using namespace kestro;

class NullToggle : public IToggle {
public:
    void SetDown(bool down) override { benchmark::DoNotOptimize(down); }
};

class NullView : public ISettingsView {
public:
    IToggle& Toggle(const char*) override { return toggle_; }
    void SetRecentDocsCount(std::int32_t count) override { benchmark::DoNotOptimize(count); }

private:
    NullToggle toggle_;
};

void WriteEverySetting() {
    Zfunctions::SetMaxRecentDocs(15);
    Zfunctions::SetNoNetworkConnections(1);
    Zfunctions::SetStartmenuLogoff(1);
    Zfunctions::SetNoFavoritesMenu(1);
    Zfunctions::SetNoRecentDocsMenu(1);
    Zfunctions::SetClearRecentDocsOnExit(1);
    Zfunctions::SetNoRecentDocsHistory(1);
    Zfunctions::SetNoSMMyPictures(1);
    Zfunctions::SetNoSetTaskbar(1);
    Zfunctions::SetNoAddPrinter(1);
    Zfunctions::SetNoFind(1);
    Zfunctions::SetNoSMHelp(1);
    Zfunctions::SetNoRun(1);
    Zfunctions::SetNoStartMenuMorePrograms(1);
    Zfunctions::SetNoChangeStartMenu(1);
    Zfunctions::SetPaintDesktopVersion(1);
    Zfunctions::SetNoAddRemovePrograms(1);
    Zfunctions::SetNoDispCPL(1);
    Zfunctions::SetNoThemesTab(1);
    Zfunctions::SetNoDispBackgroundPage(1);
    Zfunctions::SetNoDispScrSavPage(1);
    Zfunctions::SetNoDispAppearancePage(1);
    Zfunctions::SetDisableTaskMgr(1);
    Zfunctions::SetDisableRegistryTools(1);
    Zfunctions::SetCdromAutoRun(1);
    Zfunctions::SetNtfsDisableLastAccessUpdate(1);
    Zfunctions::SetFontSmoothing(1);
    Zfunctions::SetCdromStart(4);
    Zfunctions::SetFlpydiskStart(4);
    Zfunctions::SetParportStart(4);
    Zfunctions::SetUsbstorStart(4);
    Zfunctions::SetRecycleBinName("Kestro");
    Zfunctions::SetRecycleBinInfoTip("Kestro");
    Zfunctions::SetWallpaper("C:\\WINDOWS\\kestro.bmp");
    Zfunctions::ClearSearchHistory();
}

void BM_WriteEverySetting(benchmark::State& state) {
    MemoryRegistryStore store;
    ScopedRegistryStore scope(store);
    WriteEverySetting();  // the keys exist from here on, as after a first start
    store.ResetCallCounts();
    for (auto _ : state) WriteEverySetting();
    state.counters["writers"] = 35;
    state.counters["calls/op"] = benchmark::Counter(static_cast<double>(store.CallCount()),
                                                     benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_WriteEverySetting);

void BM_StartupReadBack(benchmark::State& state) {
    MemoryRegistryStore store;
    ScopedRegistryStore scope(store);
    WriteEverySetting();  // every value present, so every read fetches data
    store.ResetCallCounts();
    NullView view;
    for (auto _ : state) LoadSettingsState(view);
    state.counters["calls/op"] = benchmark::Counter(static_cast<double>(store.CallCount()),
                                                     benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_StartupReadBack);

}  // namespace

BENCHMARK_MAIN();
