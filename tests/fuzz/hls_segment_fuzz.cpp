// HLS segment bytes on any input: the transport stream and fragmented MP4
// demuxers fed in pieces of varying size, the MP4 initialisation section
// reader, and ID3 tags read from what they hand on and from the input
// itself. Checked: the transport stream never gives more audio than it was
// fed, fragments give whole ADTS frames and the same whatever the cuts, a
// tag stays within its bound, and every title is valid UTF-8.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "audio/engine/fmp4_demuxer.h"
#include "audio/engine/id3_tag.h"
#include "stream/ogg_page.h"
#include "audio/engine/mpeg_ts_demuxer.h"
#include "settings/text_encoding.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

void checkTitle(std::span<const std::uint8_t> tag) {
    if (const auto names = korvanel::id3::names(tag)) {
        FUZZ_CHECK(!(names->track.empty() && names->station.empty()));
        FUZZ_CHECK(korvanel::isValidUtf8(names->track) && korvanel::isValidUtf8(names->station));
    }
}

// What fragments give, fed whole or in pieces cut where the input says.
std::vector<std::uint8_t> fragmentAudio(const korvanel::Fmp4Track& track, std::span<const std::uint8_t> input,
                                        bool cut) {
    korvanel::Fmp4OggStream ogg(7);
    korvanel::Fmp4Demuxer demuxer(track, &ogg);
    std::vector<std::uint8_t> audio;
    const auto onAudio = [&](std::span<const std::uint8_t> bytes) {
        audio.insert(audio.end(), bytes.begin(), bytes.end());
        return true;
    };
    const auto onTag = [](std::span<const std::uint8_t> tag) { checkTitle(tag); };
    for (std::size_t at = 0; at < input.size();) {
        const std::size_t piece = cut ? std::min<std::size_t>(input.size() - at, 1 + input[at] % 97) : input.size();
        demuxer.feed(input.subspan(at, piece), onAudio, onTag);
        at += piece;
    }
    demuxer.finish(onAudio, onTag);
    return audio;
}

void checkFragments(std::span<const std::uint8_t> input) {
    std::string unsupported;
    const std::optional<korvanel::Fmp4Track> parsed = korvanel::Fmp4Track::parse(input, unsupported);
    FUZZ_CHECK(!parsed || unsupported.empty());
    using Codec = korvanel::Fmp4Track::Codec;
    for (const Codec codec : {Codec::Aac, Codec::Mp3, Codec::Opus, Codec::Flac}) {
        korvanel::Fmp4Track track = parsed.value_or(korvanel::Fmp4Track{});
        track.codec = codec;
        if ((codec == Codec::Opus || codec == Codec::Flac) && track.oggHeaders.empty()) {
            track.oggHeaders = {"OpusHead\x01\x02", "OpusTags"};
        }
        const std::vector<std::uint8_t> whole = fragmentAudio(track, input, false);
        FUZZ_CHECK(fragmentAudio(track, input, true) == whole);
        if (codec == Codec::Opus || codec == Codec::Flac) {
            // Whole Ogg pages that carry their checksums, the first the stream's start.
            const std::string_view pages(reinterpret_cast<const char*>(whole.data()), whole.size());
            korvanel::OggPage page;
            for (std::size_t at = 0; at < pages.size(); at += page.pageBytes) {
                FUZZ_CHECK(korvanel::parseOggPage(pages, at, page) == korvanel::OggPageStatus::Page);
                FUZZ_CHECK(page.firstOfStream() == (at == 0));
                const std::string_view one = pages.substr(at, page.pageBytes);
                const std::uint32_t stored = static_cast<unsigned char>(one[22]) | static_cast<unsigned char>(one[23]) << 8 |
                                             static_cast<unsigned char>(one[24]) << 16 |
                                             static_cast<std::uint32_t>(static_cast<unsigned char>(one[25])) << 24;
                FUZZ_CHECK(stored == korvanel::oggPageChecksum(one));
            }
        } else if (codec == Codec::Aac) {
            // Whole ADTS frames, one after another.
            for (std::size_t at = 0; at < whole.size();) {
                FUZZ_CHECK(whole.size() - at >= 7 && whole[at] == 0xFF && (whole[at + 1] & 0xF6) == 0xF0);
                const std::size_t length = (whole[at + 3] & 3u) << 11 | whole[at + 4] << 3 | whole[at + 5] >> 5;
                FUZZ_CHECK(length >= 7 && length <= whole.size() - at);
                at += length;
            }
        } else {
            FUZZ_CHECK(whole.size() <= input.size());
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    checkTitle(input);
    korvanel::MpegTsDemuxer demuxer;
    std::size_t audio = 0;
    const auto onAudio = [&](std::span<const std::uint8_t> bytes) {
        audio += bytes.size();
        return true;
    };
    const auto onTag = [&](std::span<const std::uint8_t> tag) {
        FUZZ_CHECK(tag.size() <= korvanel::MpegTsDemuxer::kMaxTagBytes);
        checkTitle(tag);
        return true;
    };
    // Pieces cut where the input's own bytes say, so cuts land everywhere.
    for (std::size_t at = 0; at < size;) {
        const std::size_t piece = std::min<std::size_t>(size - at, 1 + data[at] % 200);
        demuxer.feed(input.subspan(at, piece), onAudio, onTag);
        at += piece;
    }
    demuxer.flush(onTag);
    FUZZ_CHECK(audio <= size);
    checkFragments(input);
    return 0;
}
