// The Ogg page reader, the unit parser the recorder cuts Ogg files with, and
// the Vorbis probes. Checked: every unit is a page that starts a packet
// followed only by pages that continue it, of one logical stream, with the
// flags and packet count its pages say; chunk sizes change nothing.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "stream/ogg_page.h"
#include "recording/ogg_file_output.h"
#include "recording/ogg_file_start.h"
#include "recording/ogg_unit_parser.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using korvanel::OggPage;
using korvanel::OggPageStatus;
using korvanel::OggUnitParser;

struct SeenUnit {
    std::string bytes;
    bool firstOfStream;
    bool lastOfStream;
    int packetsEnded;
    std::uint32_t serial;
    bool operator==(const SeenUnit&) const = default;
};

void checkUnit(const OggUnitParser::Unit& unit) {
    std::size_t offset = 0;
    bool lastOfStream = false;
    int packetsEnded = 0;
    bool endsWithPacket = false;
    while (offset < unit.bytes.size()) {
        OggPage page;
        FUZZ_CHECK(korvanel::parseOggPage(unit.bytes, offset, page) == OggPageStatus::Page);
        FUZZ_CHECK(page.continued() == (offset != 0));
        FUZZ_CHECK(page.serial == unit.serial);
        FUZZ_CHECK(offset != 0 || page.firstOfStream() == unit.firstOfStream);
        lastOfStream = lastOfStream || page.lastOfStream();
        packetsEnded += page.packetsEnded;
        endsWithPacket = page.endsWithPacket;
        offset += page.pageBytes;
    }
    FUZZ_CHECK(offset == unit.bytes.size() && offset > 0);
    FUZZ_CHECK(unit.lastOfStream == lastOfStream && unit.packetsEnded == packetsEnded);
    (void)endsWithPacket;  // a unit may end at a page that leaves its packet open
    FUZZ_CHECK(unit.bytes.size() <= OggUnitParser::kMaxUnitBytes);
}

std::vector<SeenUnit> units(OggUnitParser& parser, std::string_view stream, const std::vector<std::uint8_t>& chunkSizes,
                            std::size_t& held) {
    std::vector<SeenUnit> seen;
    const auto sink = [&seen](const OggUnitParser::Unit& unit) {
        checkUnit(unit);
        seen.push_back({std::string(unit.bytes), unit.firstOfStream, unit.lastOfStream, unit.packetsEnded, unit.serial});
    };
    const bool whole = std::all_of(chunkSizes.begin(), chunkSizes.end(), [](std::uint8_t s) { return s == 0; });
    std::size_t pos = 0;
    for (std::size_t next = 0; pos < stream.size(); ++next) {
        const std::size_t size = whole ? stream.size() : chunkSizes[next % chunkSizes.size()] * 8u;
        const std::size_t count = std::min(size, stream.size() - pos);
        FUZZ_CHECK(parser.push(stream.data() + pos, count, sink));
        pos += count;
    }
    held = parser.heldBytes();
    return seen;
}

// What a recorded file's start is made of: headers retagged as whole pages
// that carry their checksums, and a shift that never moves time forward.
void checkFileStart(std::string_view pages) {
    const korvanel::FileTags tags{"A \"title\"", "An artist", "A station"};
    for (const auto codec : {korvanel::OggCodec::Vorbis, korvanel::OggCodec::Opus, korvanel::OggCodec::Flac}) {
        FUZZ_CHECK(korvanel::oggGranuleShift(pages, codec, pages) >= 0);
        const std::optional<std::string> retagged = korvanel::oggHeadersWithTags(pages, codec, tags);
        if (!retagged) {
            continue;
        }
        std::size_t offset = 0;
        OggPage page;
        while (offset < retagged->size()) {
            FUZZ_CHECK(korvanel::parseOggPage(*retagged, offset, page) == OggPageStatus::Page);
            const std::string_view whole = std::string_view(*retagged).substr(offset, page.pageBytes);
            const std::uint32_t stored = static_cast<unsigned char>(whole[22]) | static_cast<unsigned char>(whole[23]) << 8 |
                                         static_cast<unsigned char>(whole[24]) << 16 |
                                         static_cast<std::uint32_t>(static_cast<unsigned char>(whole[25])) << 24;
            FUZZ_CHECK(stored == korvanel::oggPageChecksum(whole));
            FUZZ_CHECK(page.firstOfStream() == (offset == 0));
            offset += page.pageBytes;
        }
        // Told once more, the tags are where they were put: nothing grows.
        const std::optional<std::string> again = korvanel::oggHeadersWithTags(*retagged, codec, tags);
        FUZZ_CHECK(again && *again == *retagged);
    }
    FUZZ_CHECK(korvanel::opusPacketSamples(pages) >= 0 && korvanel::opusPacketSamples(pages) <= 5760);
    FUZZ_CHECK(korvanel::flacFrameSamples(pages) >= 0 && korvanel::flacFrameSamples(pages) <= 65536);
}

void probe(std::string_view bytes) {
    const int kbps = korvanel::probeVorbisBitrateKbps(bytes);
    FUZZ_CHECK(kbps >= 0 && kbps <= INT32_MAX / 1000);
    const int headers = korvanel::oggHeaderPacketCount(bytes);
    FUZZ_CHECK(headers >= 0 && headers <= 65536);

    // Over the whole pages at the start of the data, the boundary search
    // lands on a page that starts a packet.
    std::size_t pagesEnd = 0;
    OggPage page;
    while (korvanel::parseOggPage(bytes, pagesEnd, page) == OggPageStatus::Page) {
        pagesEnd += page.pageBytes;
    }
    const std::string_view pages = bytes.substr(0, pagesEnd);
    checkFileStart(pages);
    for (const std::size_t from : {std::size_t{0}, pagesEnd / 2, pagesEnd}) {
        const std::size_t boundary = korvanel::oggUnitBoundaryAtOrAfter(pages, from);
        FUZZ_CHECK(boundary <= pages.size());
        if (boundary < pages.size()) {
            FUZZ_CHECK(boundary >= from);
            FUZZ_CHECK(korvanel::parseOggPage(pages, boundary, page) == OggPageStatus::Page && !page.continued());
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    probe(std::string_view(reinterpret_cast<const char*>(data), size));

    FuzzedDataProvider input(data, size);
    const std::vector<std::uint8_t> chunkSizes = input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange(0, 6));
    const std::string stream = input.ConsumeRemainingBytesAsString();

    OggUnitParser whole;
    std::size_t wholeHeld = 0;
    const std::vector<SeenUnit> expected = units(whole, stream, {}, wholeHeld);
    OggUnitParser chunked;
    std::size_t chunkedHeld = 0;
    FUZZ_CHECK(units(chunked, stream, chunkSizes, chunkedHeld) == expected);
    FUZZ_CHECK(chunkedHeld == wholeHeld);

    std::size_t unitBytes = 0;
    for (const SeenUnit& unit : expected) {
        unitBytes += unit.bytes.size();
    }
    FUZZ_CHECK(unitBytes + wholeHeld <= stream.size());

    whole.reset();
    FUZZ_CHECK(whole.heldBytes() == 0);
    std::size_t againHeld = 0;
    FUZZ_CHECK(units(whole, stream, chunkSizes, againHeld) == expected && againHeld == wholeHeld);
    return 0;
}
