// The packet reader live Ogg streams are decoded through. Checked: no packet
// exceeds the bound, the bytes held stay bounded, and the chunk sizes the
// stream arrives in change nothing.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/engine/ogg_packet_reader.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using korvanel::OggPacketReader;

struct SeenPacket {
    std::string bytes;
    std::uint32_t serial;
    bool firstOfStream;
    bool operator==(const SeenPacket&) const = default;
};

std::vector<SeenPacket> packets(const std::string& stream, const std::vector<std::uint8_t>& chunkSizes) {
    OggPacketReader reader;
    std::vector<SeenPacket> seen;
    const bool whole = std::all_of(chunkSizes.begin(), chunkSizes.end(), [](std::uint8_t s) { return s == 0; });
    std::size_t pos = 0;
    for (std::size_t next = 0; pos < stream.size(); ++next) {
        const std::size_t size = whole ? stream.size() : chunkSizes[next % chunkSizes.size()] * 8u;
        const std::size_t count = std::min(size, stream.size() - pos);
        reader.push(std::span(reinterpret_cast<const std::uint8_t*>(stream.data()) + pos, count));
        pos += count;
        while (std::optional<OggPacketReader::Packet> packet = reader.next()) {
            FUZZ_CHECK(packet->bytes.size() <= OggPacketReader::kMaxPacketBytes);
            seen.push_back({std::move(packet->bytes), packet->serial, packet->firstOfStream});
        }
    }
    return seen;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    std::vector<std::uint8_t> chunkSizes = provider.ConsumeBytes<std::uint8_t>(provider.ConsumeIntegralInRange(1, 8));
    if (chunkSizes.empty()) {
        chunkSizes.push_back(0);
    }
    const std::string stream = provider.ConsumeRemainingBytesAsString();
    const std::vector<SeenPacket> whole = packets(stream, {0});
    FUZZ_CHECK(packets(stream, chunkSizes) == whole);
    return 0;
}
