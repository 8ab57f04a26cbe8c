// Importing a list of 100,000 stations into the favourites: the whole
// import (read, check every address, one write of the favourites file) and
// the peak heap it takes, for M3U and for XSPF.
#include <filesystem>
#include <algorithm>
#include <fstream>
#include <string>

#include <benchmark/benchmark.h>

#include "bench/heap_counter.h"
#include "stations/favorites_transfer.h"

namespace {

constexpr int kStations = 100000;

std::string temp(const std::string& name) { return (std::filesystem::temp_directory_path() / name).string(); }

const std::string& listFile(bool xspf) {
    static const std::string m3u = [] {
        const std::string path = temp("korvanel-import-bench.m3u");
        std::ofstream out(path, std::ios::binary);
        out << "#EXTM3U\n";
        for (int i = 0; i < kStations; ++i) {
            out << "#EXTINF:-1,Station " << i << " \xE2\x80\x93 Jazz & Blues\nhttp://stream" << i
                << ".example:8000/live.mp3\n";
        }
        return path;
    }();
    static const std::string spf = [] {
        const std::string path = temp("korvanel-import-bench.xspf");
        std::ofstream out(path, std::ios::binary);
        out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<playlist version=\"1\" "
               "xmlns=\"http://xspf.org/ns/0/\"><trackList>\n";
        for (int i = 0; i < kStations; ++i) {
            out << "<track><location>http://stream" << i << ".example:8000/live.mp3</location><title>Station " << i
                << " &amp; friends</title></track>\n";
        }
        out << "</trackList></playlist>\n";
        return path;
    }();
    return xspf ? spf : m3u;
}

void BM_Import100000Stations(benchmark::State& state) {
    const bool xspf = state.range(0) == 1;
    const std::string& list = listFile(xspf);
    const std::string favorites = temp("korvanel-import-bench-favorites.xml");
    std::size_t added = 0;
    std::size_t peak = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::ofstream(favorites, std::ios::binary | std::ios::trunc) << "<?xml version=\"1.0\"?>\n<Favorites>\n</Favorites>\n";
        korvanel::bench::resetHeapPeak();
        state.ResumeTiming();
        added = korvanel::importIntoFavorites(favorites, list, "Imported").added;
        peak = std::max(peak, korvanel::bench::heapPeakBytesSinceReset());
    }
    state.SetLabel(xspf ? "xspf" : "m3u");
    state.counters["added"] = static_cast<double>(added);
    state.counters["peak_heap_MB"] = static_cast<double>(peak) / (1024.0 * 1024.0);
}
BENCHMARK(BM_Import100000Stations)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
