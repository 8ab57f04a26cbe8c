// A station directory answer of 200 stations, shaped as the public API
// sends it (about 110 KB), read into stations: median of 50 readings.
// Exit status 1 when the median misses 5 ms.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "stations/station_directory.h"

int main() {
    std::string answer = "[";
    for (int i = 1; i <= 200; ++i) {
        const std::string n = std::to_string(i);
        answer += (i > 1 ? "," : "") + std::string("{\"changeuuid\":\"9617a958-0601-11e8-ae97-52543be04c81\",") +
                  "\"stationuuid\":\"961a5c2a-0601-11e8-ae97-52543be04c8" + n + "\",\"name\":\"Station " + n +
                  "\",\"url\":\"http://stream.example/" + n + ".pls\",\"url_resolved\":\"http://stream.example/" + n +
                  "\",\"homepage\":\"https://station.example/\",\"favicon\":\"https://station.example/icon.png\","
                  "\"tags\":\"jazz,blues,swing,big band\",\"country\":\"Germany\",\"countrycode\":\"DE\","
                  "\"iso_3166_2\":null,\"state\":\"Berlin\",\"language\":\"german,english\",\"languagecodes\":\"de,en\","
                  "\"votes\":1234,\"lastchangetime\":\"2026-01-01 00:00:00\",\"lastchangetime_iso8601\":"
                  "\"2026-01-01T00:00:00Z\",\"codec\":\"MP3\",\"bitrate\":128,\"hls\":0,\"lastcheckok\":1,"
                  "\"lastchecktime\":\"2026-01-01 00:00:00\",\"clickcount\":4321,\"clicktrend\":-3,"
                  "\"ssl_error\":0,\"geo_lat\":52.52,\"geo_long\":13.4,\"has_extended_info\":false}";
    }
    answer += "]";
    std::vector<double> ms;
    std::vector<korvanel::DirectoryStation> stations;
    std::string error;
    for (int run = 0; run < 50; ++run) {
        const auto start = std::chrono::steady_clock::now();
        korvanel::StationDirectory::parse(answer, 200, stations, error);
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    const double median = ms[ms.size() / 2];
    std::printf("directory answer of %zu stations (%zu bytes) read: median %.3f ms  [%s]\n", stations.size(),
                answer.size(), median, median < 5.0 && stations.size() == 200 ? "ok" : "MISSED");
    return median < 5.0 && stations.size() == 200 ? 0 : 1;
}
