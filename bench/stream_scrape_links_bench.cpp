// scrapeLinks over a 4 MiB page holding 10,000 links (web and Windows Media,
// some dropped by suffix), as a large station directory page would.
#include <benchmark/benchmark.h>

#include <string>

#include "stream/link_scraper.h"

namespace {

std::string makePage(std::size_t targetBytes, int linkCount) {
    std::string page = "<!DOCTYPE html><html><head><title>Stations</title></head><body>\n";
    const std::size_t fillerPerLink = targetBytes / static_cast<std::size_t>(linkCount);
    for (int i = 0; i < linkCount; ++i) {
        const std::string n = std::to_string(i);
        switch (i % 4) {
            case 0:
                page += "<a href=\"http://stream" + n + ".example:8000/live.mp3\">Station " + n + "</a>";
                break;
            case 1:
                page += "<li>File" + n + "=http://relay.example/" + n + "/listen.pls\r\n";
                break;
            case 2:
                page += "<a href='http://www.example/station/" + n + ".html'>details</a>";
                break;
            default:
                page += "<ref href=\"mms://wm.example/" + n + "\"/>";
                break;
        }
        const std::size_t goal = fillerPerLink * static_cast<std::size_t>(i + 1);
        while (page.size() < goal) {
            page += " <p class=\"description\">Jazz, blues and talk around the clock.</p>\n";
        }
    }
    page += "</body></html>\n";
    return page;
}

void BM_ScrapeLinks4MiB10kLinks(benchmark::State& state) {
    const std::string page = makePage(4 * 1024 * 1024, 10000);
    std::size_t found = 0;
    for (auto _ : state) {
        auto links = korvanel::scrapeLinks(page);
        found = links.size();
        benchmark::DoNotOptimize(links);
    }
    state.counters["page_bytes"] = static_cast<double>(page.size());
    state.counters["links"] = static_cast<double>(found);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_ScrapeLinks4MiB10kLinks)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
