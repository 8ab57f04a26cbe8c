// Load and save of a settings file with 10,000 keys, with the peak heap
// memory each takes (counted by this program's own operator new).
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>

#include <benchmark/benchmark.h>

#include "settings/settings_store.h"

namespace {

std::atomic<std::size_t> liveBytes{0};
std::atomic<std::size_t> peakBytes{0};

void noteAllocation(std::size_t size) {
    const std::size_t now = liveBytes.fetch_add(size) + size;
    std::size_t peak = peakBytes.load();
    while (now > peak && !peakBytes.compare_exchange_weak(peak, now)) {
    }
}

}  // namespace

// Each block carries its size in front so that delete can count it back.
// The blocks come from malloc, so freeing them with free is the right match.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size) {
    void* block = std::malloc(size + 16);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    *static_cast<std::size_t*>(block) = size;
    noteAllocation(size);
    return static_cast<char*>(block) + 16;
}

void operator delete(void* pointer) noexcept {
    if (pointer == nullptr) {
        return;
    }
    void* block = static_cast<char*>(pointer) - 16;
    liveBytes.fetch_sub(*static_cast<std::size_t*>(block));
    std::free(block);
}

void operator delete(void* pointer, std::size_t) noexcept { operator delete(pointer); }

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

void measurePeak(benchmark::State& state, std::size_t baseline) {
    state.counters["peak_heap_MB"] =
        static_cast<double>(peakBytes.load() - baseline) / (1024.0 * 1024.0);
}

void BM_LoadSettings10000Keys(benchmark::State& state) {
    const std::string& file = benchFile();
    const std::size_t baseline = liveBytes.load();
    peakBytes = baseline;
    for (auto _ : state) {
        korvanel::SettingsStore store;
        if (!store.load(file)) {
            state.SkipWithError("load failed");
        }
        benchmark::DoNotOptimize(store);
    }
    measurePeak(state, baseline);
}
BENCHMARK(BM_LoadSettings10000Keys)->Unit(benchmark::kMillisecond);

void BM_SaveSettings10000Keys(benchmark::State& state) {
    const std::string& file = benchFile();
    korvanel::SettingsStore store;
    store.load(file);
    const std::size_t baseline = liveBytes.load();
    peakBytes = baseline;
    for (auto _ : state) {
        if (!store.save(file, "ISO-8859-1", "1.0")) {
            state.SkipWithError("save failed");
        }
    }
    measurePeak(state, baseline);
}
BENCHMARK(BM_SaveSettings10000Keys)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
