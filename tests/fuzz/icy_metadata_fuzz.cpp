// ICY metadata from the network: the splitter that takes metadata blocks
// out of the audio bytes, fed in chunks of fuzz-chosen sizes, and the
// parser that reads titles and names out of the blocks. Checked: any split
// gives the audio bytes and blocks that one plain walk over the stream
// gives, and the texts the parser stores are valid UTF-8 within bounds.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "audio/engine/icy_metadata_splitter.h"
#include "audio/stream_info.h"
#include "settings/text_encoding.h"
#include "audio/metadata_parser.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using korvanel::IcyMetadataSplitter;
using korvanel::MetadataParser;
using korvanel::StreamInfo;
using korvanel::StreamKind;

struct Split {
    std::string audio;
    std::vector<std::string> blocks;
};

// The stream as the servers lay it out: interval audio bytes, a length
// byte n, n * 16 bytes of text, again and again.
Split walk(std::span<const std::uint8_t> stream, std::size_t interval) {
    Split split;
    if (interval == 0) {
        split.audio.assign(stream.begin(), stream.end());
        return split;
    }
    std::string previous;
    std::size_t pos = 0;
    while (pos < stream.size()) {
        const std::size_t audio = std::min(interval, stream.size() - pos);
        split.audio.append(stream.begin() + static_cast<std::ptrdiff_t>(pos),
                           stream.begin() + static_cast<std::ptrdiff_t>(pos + audio));
        pos += audio;
        if (pos >= stream.size()) {
            break;
        }
        const std::size_t length = std::size_t{stream[pos++]} * 16;
        if (length > stream.size() - pos) {
            break;  // the block has not all arrived
        }
        std::string block;
        for (std::size_t i = pos; i < pos + length; ++i) {
            if (stream[i] != 0) {
                block.push_back(static_cast<char>(stream[i]));
            }
        }
        pos += length;
        if (!block.empty() && block != previous) {
            previous = block;
            split.blocks.push_back(block);
        }
    }
    return split;
}

Split feedInChunks(std::span<const std::uint8_t> stream, std::size_t interval,
                   const std::vector<std::uint8_t>& chunkSizes) {
    Split split;
    IcyMetadataSplitter splitter(interval);
    const auto audio = [&split](std::span<const std::uint8_t> bytes) {
        FUZZ_CHECK(!bytes.empty());
        split.audio.append(bytes.begin(), bytes.end());
    };
    const auto metadata = [&split](std::string text) { split.blocks.push_back(std::move(text)); };
    // A zero size feeds an empty chunk, as a socket may; sizes that are
    // all zero feed the stream at once.
    const bool whole = std::all_of(chunkSizes.begin(), chunkSizes.end(), [](std::uint8_t s) { return s == 0; });
    for (std::size_t next = 0; !stream.empty(); ++next) {
        const std::size_t size = whole ? stream.size() : chunkSizes[next % chunkSizes.size()];
        const std::size_t count = std::min(size, stream.size());
        splitter.feed(stream.first(count), audio, metadata);
        stream = stream.subspan(count);
    }
    return split;
}

void checkText(const std::string& text, std::size_t maxBytes) {
    FUZZ_CHECK(korvanel::isValidUtf8(text));
    FUZZ_CHECK(text.find('\0') == std::string::npos);
    FUZZ_CHECK(text.size() <= maxBytes);
}

void parseBlocks(const std::vector<std::string>& blocks) {
    constexpr std::size_t kValue = MetadataParser::kMaxValueBytes;
    for (const std::string& block : blocks) {
        if (const std::optional<std::string> title = MetadataParser::icyStreamTitle(block)) {
            checkText(*title, kValue);
        }
        if (korvanel::isValidUtf8(block)) {
            const std::string decoded = MetadataParser::decodeCharacterReferences(block);
            FUZZ_CHECK(korvanel::isValidUtf8(decoded) && decoded.size() <= block.size());
        }
    }
    // Each kind of stream reads the blocks its own way.
    for (const StreamKind kind : {StreamKind::Mp3, StreamKind::OggVorbis, StreamKind::WindowsMedia}) {
        StreamInfo info([] { return std::int64_t{0}; });
        info.setKind(kind);
        MetadataParser parser(info, nullptr, nullptr);
        parser.parseMetadata(blocks);
        // An Ogg title joins artist and title with " - ", and so does a
        // Windows Media name.
        checkText(info.title(), 2 * kValue + 3);
        checkText(info.stationName(), 2 * kValue + 3);
        FUZZ_CHECK(info.bitrate() >= 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    constexpr std::size_t kIntervals[] = {0, 1, 2, 3, 16, 100, 8192};
    const std::size_t interval = input.PickValueInArray(kIntervals);
    const std::vector<std::uint8_t> chunkSizes = input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange(0, 8));
    const std::vector<std::uint8_t> stream = input.ConsumeRemainingBytes<std::uint8_t>();

    const Split expected = walk(stream, interval);
    const Split whole = feedInChunks(stream, interval, {});
    const Split chunked = feedInChunks(stream, interval, chunkSizes);
    FUZZ_CHECK(whole.audio == expected.audio && whole.blocks == expected.blocks);
    FUZZ_CHECK(chunked.audio == expected.audio && chunked.blocks == expected.blocks);
    parseBlocks(expected.blocks);

    const std::string header(reinterpret_cast<const char*>(stream.data()), std::min<std::size_t>(stream.size(), 12));
    const std::size_t fromHeader = IcyMetadataSplitter::intervalFromHeader(header);
    FUZZ_CHECK(fromHeader <= IcyMetadataSplitter::kMaxInterval);
    return 0;
}
