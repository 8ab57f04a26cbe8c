// A presets file of 20,000 stations in 500 groups: load plus menu build,
// lookup of the last station, and the peak heap memory of a loaded list.
#include <filesystem>
#include <string>

#include <benchmark/benchmark.h>

#include "base/file_util.h"
#include "bench/heap_counter.h"
#include "stations/station_list.h"

namespace {

constexpr int kGroups = 500;
constexpr int kStationsPerGroup = 40;

class CountingMenu : public korvanel::StationMenu {
public:
    int items = 0;
    void appendItem(int, const std::string&) override { ++items; }
    void appendSeparator() override {}
    StationMenu& appendPopup(const std::string&) override { return *this; }
};

const std::string& presetsFile() {
    static const std::string path = [] {
        std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Presets>\n";
        for (int g = 0; g < kGroups; ++g) {
            xml += "  <Group title=\"Genre " + std::to_string(g) + "\">\n";
            for (int s = 0; s < kStationsPerGroup; ++s) {
                const std::string id = std::to_string(g * kStationsPerGroup + s);
                xml += "    <Station title=\"Station " + id + "\" url=\"http://station" + id +
                       ".example/\"><Source>http://stream" + id +
                       ".example:8000/live.mp3</Source><Source>http://backup" + id +
                       ".example/listen.pls</Source></Station>\n";
            }
            xml += "  </Group>\n  <Separator/>\n";
        }
        xml += "</Presets>\n";
        const std::string file = (std::filesystem::temp_directory_path() / "korvanel-presets-bench.xml").string();
        korvanel::writeFileAtomically(file, xml);
        return file;
    }();
    return path;
}

void BM_LoadAndBuildMenu20000Stations(benchmark::State& state) {
    presetsFile();
    int items = 0;
    for (auto _ : state) {
        korvanel::bench::resetHeapPeak();
        korvanel::StationList list;
        list.setPath(presetsFile());
        list.load();
        CountingMenu menu;
        items = list.buildMenu(menu, korvanel::StationList::kPresetsBaseId);
    }
    state.counters["items"] = items;
    state.counters["peak_heap_MB"] =
        static_cast<double>(korvanel::bench::heapPeakBytesSinceReset()) / (1024.0 * 1024.0);
}
BENCHMARK(BM_LoadAndBuildMenu20000Stations)->Unit(benchmark::kMillisecond);

void BM_LookupLastOf20000Stations(benchmark::State& state) {
    korvanel::StationList list;
    list.setPath(presetsFile());
    list.load();
    for (auto _ : state) {
        benchmark::DoNotOptimize(list.lookup(kGroups * kStationsPerGroup));
    }
}
BENCHMARK(BM_LookupLastOf20000Stations)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
