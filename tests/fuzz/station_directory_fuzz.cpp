// What the station directory makes of any answer. Checked: never more
// stations than asked for, each with a stream address, every text bounded
// and free of control characters; a refusal always says why.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "stations/station_directory.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

bool clean(const std::string& text, std::size_t bound) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            return false;
        }
    }
    return text.size() <= bound;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view answer(reinterpret_cast<const char*>(data), size);
    const int limit = size > 0 ? data[0] % 8 + 1 : 1;
    std::vector<korvanel::DirectoryStation> stations;
    std::string error;
    if (!korvanel::StationDirectory::parse(answer, limit, stations, error)) {
        FUZZ_CHECK(!error.empty());
        FUZZ_CHECK(stations.empty());
        return 0;
    }
    FUZZ_CHECK(static_cast<int>(stations.size()) <= limit);
    for (const auto& station : stations) {
        FUZZ_CHECK(!station.url.empty());
        FUZZ_CHECK(clean(station.url, 4096) && clean(station.name, 1024) && clean(station.uuid, 1024));
        FUZZ_CHECK(clean(station.countryCode, 8) && clean(station.codec, 32));
        FUZZ_CHECK(station.bitrate >= 0 && station.clicks >= 0 && station.votes >= 0);
    }
    return 0;
}
