// HLS segment bytes on any input: the transport stream demuxer fed in
// pieces of varying size, and ID3 tags read from what it hands on and from
// the input itself. Checked: it never gives more audio than it was fed, a
// tag stays within its bound, and every title is valid UTF-8.

#include <cstddef>
#include <cstdint>
#include <span>

#include "audio/engine/id3_tag.h"
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
    return 0;
}
