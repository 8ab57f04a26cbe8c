#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "stream/stream_url.h"

namespace korvanel {

// One HTTP Live Streaming playlist: a master playlist naming variants of a
// stream at several bit rates, or a media playlist naming the segments of
// one of them. Addresses in it are resolved against the playlist's own
// (final) address; lines that are not absolute or relative http(s)
// addresses are left out.
//
// Input comes from servers and is untrusted: lines beyond kMaxLineBytes are
// skipped, and only the last kMaxSegments segments and the first
// kMaxVariants variants are kept, so any playlist parses in bounded memory.
struct HlsPlaylist {
    static constexpr std::size_t kMaxLineBytes = 64 * 1024;
    static constexpr std::size_t kMaxSegments = 4096;
    static constexpr std::size_t kMaxVariants = 64;

    struct Variant {
        std::uint64_t bandwidth = 0;  // bits per second, 0 when not given
        std::string codecs;
        std::string name;             // NAME, where given
        std::string address;
    };

    // How the segments from here on are encrypted.
    struct Key {
        std::string method = "NONE";  // NONE, AES-128 or what the server says
        std::string address;          // the key's, for AES-128
        // The initialisation vector; without one, the segment's sequence number.
        std::optional<std::array<std::uint8_t, 16>> iv;
    };

    // The initialisation section fragmented MP4 segments need first
    // (#EXT-X-MAP), and the key that applied where it was named.
    struct Map {
        std::string address;
        std::uint64_t length = 0;  // a BYTERANGE's; 0: the whole resource
        std::uint64_t offset = 0;
        Key key;
        bool operator==(const Map& other) const {
            return address == other.address && length == other.length && offset == other.offset;
        }
    };

    struct Segment {
        std::uint64_t sequence = 0;
        double seconds = 0;
        std::string address;
        // "Artist - Title" from title="..." and artist="..." on its #EXTINF
        // line; empty without them.
        std::string title;
        bool discontinuity = false;  // a new encoding starts here
        Key key;
        std::optional<Map> map;
    };

    enum class Kind { Master, Media };
    Kind kind = Kind::Media;

    std::vector<Variant> variants;  // a master playlist's

    double targetSeconds = 0;       // a media playlist's
    std::uint64_t mediaSequence = 0;
    bool ended = false;             // #EXT-X-ENDLIST: it plays like a file
    std::vector<Segment> segments;

    // Whether a text is an HLS playlist rather than a list of stations: it
    // starts with #EXTM3U and names a target duration or a variant.
    static bool recognise(std::string_view text);
    // Nothing when the text is no HLS playlist.
    static std::optional<HlsPlaylist> parse(std::string_view text, const StreamUrl& base);

    // The variant to play within maxBandwidth bits per second (0: the
    // highest); the lowest when none fits; null without variants.
    const Variant* chooseVariant(std::uint64_t maxBandwidth) const;
};

}  // namespace korvanel
