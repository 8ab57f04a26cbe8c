#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace korvanel {

// ID3v2 tags as HLS carries them: at the head of packed audio segments and
// as timed metadata in MPEG-TS. Only what names the track and the station
// is read: the title (TIT2, TT2 in version 2.2), the artist (TPE1, TP1) and
// the internet radio station name (TRSN, TRN), in any of ID3's text
// encodings, as UTF-8. Input is untrusted: every length is checked against
// the bytes there are.
namespace id3 {

inline constexpr std::size_t kHeaderBytes = 10;

// The whole tag's length (header, frames and footer) when bytes begin with
// an ID3v2 header; nothing otherwise or while fewer than kHeaderBytes came.
std::optional<std::size_t> tagLength(std::span<const std::uint8_t> bytes);

struct Names {
    std::string track;    // "Artist - Title", or whichever of the two is there
    std::string station;  // empty when not named
};

// The names a whole tag gives; nothing when it names neither the track nor
// the station.
std::optional<Names> names(std::span<const std::uint8_t> tag);

}  // namespace id3
}  // namespace korvanel
