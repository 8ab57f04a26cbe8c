// The MPEG audio frame probe and the frame splitter the recorder cuts files
// with. Checked: headers hold only values of the standard's tables, the
// first frame found is a real header, and the splitter hands out runs of
// whole frames of one stream, the same bytes whatever the chunk sizes.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "recording/mpeg_frame_header.h"
#include "recording/mpeg_frame_splitter.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using korvanel::MpegFrameHeader;
using korvanel::MpegFrameSplitter;
using korvanel::MpegVersion;

// The smallest frame: MPEG-2 Layer III at 8 kbit/s and 24 kHz.
constexpr std::size_t kSmallestFrameBytes = 24;

void checkHeader(const MpegFrameHeader& header) {
    FUZZ_CHECK(header.layer >= 1 && header.layer <= 3);
    constexpr int kRates[] = {44100, 48000, 32000, 22050, 24000, 16000, 11025, 12000, 8000};
    FUZZ_CHECK(std::find(std::begin(kRates), std::end(kRates), header.sampleRate) != std::end(kRates));
    FUZZ_CHECK(header.bitrateKbps >= 0 && header.bitrateKbps <= 448);
    FUZZ_CHECK(header.samplesPerFrame == 384 || header.samplesPerFrame == 576 || header.samplesPerFrame == 1152);
    FUZZ_CHECK((header.bitrateKbps == 0) == (header.frameBytes == 0));
    FUZZ_CHECK(header.frameBytes == 0 || (header.frameBytes >= kSmallestFrameBytes && header.frameBytes <= 2881));
}

void probe(const std::uint8_t* data, std::size_t size) {
    for (std::size_t offset = 0; offset < size; ++offset) {
        if (const auto header = korvanel::parseMpegFrameHeader(data + offset, size - offset)) {
            checkHeader(*header);
            (void)korvanel::mpegStreamKind(*header);
            if (header->frameBytes != 0 && header->frameBytes <= size - offset) {
                (void)korvanel::isMpegInfoFrame(*header, data + offset);
            }
        }
    }
    if (const auto first = korvanel::findFirstMpegFrame(data, size)) {
        bool found = false;
        for (std::size_t offset = 0; offset + MpegFrameHeader::kSize <= size && !found; ++offset) {
            const auto header = korvanel::parseMpegFrameHeader(data + offset, size - offset);
            found = header && header->frameBytes == first->frameBytes && header->sameStreamAs(*first);
        }
        FUZZ_CHECK(found && first->frameBytes != 0);
    }
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    FUZZ_CHECK(korvanel::countMpegFrames(bytes) <= size / kSmallestFrameBytes);
}

struct Output {
    std::string frames;
    std::size_t count = 0;
    std::size_t held = 0;
};

Output split(MpegFrameSplitter& splitter, const std::vector<std::uint8_t>& stream, const std::vector<std::uint8_t>& chunkSizes) {
    Output output;
    const auto sink = [&output](const MpegFrameSplitter::Frames& run) {
        FUZZ_CHECK(run.count > 0);
        // A run is whole frames of one stream, back to back.
        const auto* bytes = reinterpret_cast<const unsigned char*>(run.bytes.data());
        std::size_t offset = 0;
        std::optional<MpegFrameHeader> first;
        for (std::size_t frame = 0; frame < run.count; ++frame) {
            const auto header = korvanel::parseMpegFrameHeader(bytes + offset, run.bytes.size() - offset);
            FUZZ_CHECK(header && header->frameBytes != 0 && header->frameBytes <= run.bytes.size() - offset);
            FUZZ_CHECK(!first || header->sameStreamAs(*first));
            first = first ? first : header;
            offset += header->frameBytes;
        }
        FUZZ_CHECK(offset == run.bytes.size());
        output.frames.append(run.bytes);
        output.count += run.count;
    };
    const bool whole = std::all_of(chunkSizes.begin(), chunkSizes.end(), [](std::uint8_t s) { return s == 0; });
    std::size_t pos = 0;
    for (std::size_t next = 0; pos < stream.size(); ++next) {
        const std::size_t size = whole ? stream.size() : chunkSizes[next % chunkSizes.size()] * 4u;
        const std::size_t count = std::min(size, stream.size() - pos);
        FUZZ_CHECK(splitter.push(stream.data() + pos, count, sink));
        pos += count;
    }
    output.held = splitter.heldBytes();
    FUZZ_CHECK(output.frames.size() + output.held <= stream.size());
    return output;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    probe(data, size);

    FuzzedDataProvider input(data, size);
    const std::vector<std::uint8_t> chunkSizes = input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange(0, 6));
    const std::vector<std::uint8_t> stream = input.ConsumeRemainingBytes<std::uint8_t>();

    MpegFrameSplitter splitter;
    const Output whole = split(splitter, stream, {});
    MpegFrameSplitter chunkedSplitter;
    const Output chunked = split(chunkedSplitter, stream, chunkSizes);
    FUZZ_CHECK(chunked.frames == whole.frames && chunked.count == whole.count && chunked.held == whole.held);

    // After a reset the splitter starts over as a new one would.
    splitter.reset();
    FUZZ_CHECK(splitter.heldBytes() == 0);
    const Output again = split(splitter, stream, chunkSizes);
    FUZZ_CHECK(again.frames == whole.frames && again.held == whole.held);
    return 0;
}
