// Load and save of a settings file with 10,000 keys, with the peak heap
// memory each takes.
#include <filesystem>
#include <string>

#include <benchmark/benchmark.h>

#include "bench/heap_counter.h"
#include "settings/settings_store.h"

namespace {

constexpr int kKeys = 10000;

const std::string& benchFile() {
    static const std::string path = [] {
        const std::string file =
            (std::filesystem::temp_directory_path() / "korvanel-settings-bench.xml").string();
        korvanel::SettingsStore store;
        for (int i = 0; i < kKeys; ++i) {
            const std::string group = "Group" + std::to_string(i % 50);
            store.setString(group + "/Key" + std::to_string(i), "value number " + std::to_string(i) + " & <more>");
        }
        store.save(file, "ISO-8859-1", "1.0");
        return file;
    }();
    return path;
}

void reportPeak(benchmark::State& state) {
    state.counters["peak_heap_MB"] =
        static_cast<double>(korvanel::bench::heapPeakBytesSinceReset()) / (1024.0 * 1024.0);
}

void BM_LoadSettings10000Keys(benchmark::State& state) {
    const std::string& file = benchFile();
    korvanel::bench::resetHeapPeak();
    for (auto _ : state) {
        korvanel::SettingsStore store;
        if (!store.load(file)) {
            state.SkipWithError("load failed");
        }
        benchmark::DoNotOptimize(store);
    }
    reportPeak(state);
}
BENCHMARK(BM_LoadSettings10000Keys)->Unit(benchmark::kMillisecond);

void BM_SaveSettings10000Keys(benchmark::State& state) {
    const std::string& file = benchFile();
    korvanel::SettingsStore store;
    store.load(file);
    korvanel::bench::resetHeapPeak();
    for (auto _ : state) {
        if (!store.save(file, "ISO-8859-1", "1.0")) {
            state.SkipWithError("save failed");
        }
    }
    reportPeak(state);
}
BENCHMARK(BM_SaveSettings10000Keys)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
