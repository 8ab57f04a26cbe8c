#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace korvanel {

// ID3v2 tags as HLS carries them: at the head of packed audio segments and
// as timed metadata in MPEG-TS. Only what names the track is read: the
// title (TIT2, TT2 in version 2.2) and the artist (TPE1, TP1), in any of
// ID3's text encodings, as UTF-8. Input is untrusted: every length is
// checked against the bytes there are.
namespace id3 {

inline constexpr std::size_t kHeaderBytes = 10;

// The whole tag's length (header, frames and footer) when bytes begin with
// an ID3v2 header; nothing otherwise or while fewer than kHeaderBytes came.
std::optional<std::size_t> tagLength(std::span<const std::uint8_t> bytes);

// "Artist - Title" (or whichever of the two is there) from a whole tag;
// nothing when it names neither.
std::optional<std::string> trackTitle(std::span<const std::uint8_t> tag);

}  // namespace id3
}  // namespace korvanel
