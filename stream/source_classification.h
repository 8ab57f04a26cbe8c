#pragma once

#include <cstdint>
#include <string_view>

namespace korvanel {

// The kind of stream shown and recorded. The output channel sets Other to
// WindowsMedia; the MPEG layer kinds come from the recorder's frame probe.
enum class StreamKind : unsigned {
    Other = 0,
    Mp3 = 1,
    OggVorbis = 2,
    WindowsMedia = 3,
    MpegLayer1 = 4,
    MpegLayer2 = 5,
    Mpeg2Layer1 = 6,
    Mpeg2Layer2 = 7,
    Mpeg2Layer3 = 8,
    Aac = 9,  // ADTS AAC and HE-AAC
    OggOpus = 10,
    OggFlac = 11,
};

// Which decoder, if any, may open a source.
enum class OpenRoute {
    NotNetwork,    // cannot be played: opening fails
    WindowsMedia,  // mms://, rtsp://, or http(s):// naming .asf/.wma
    HttpStream,    // any other http:// or https:// address
};

// Channel types reported by the decoder after a successful open.
namespace channel_type {
inline constexpr std::uint32_t kOggVorbisStream = 0x10002;
inline constexpr std::uint32_t kMp3Stream = 0x10005;
inline constexpr std::uint32_t kAacStream = 0x10006;
inline constexpr std::uint32_t kOggOpusStream = 0x10007;
inline constexpr std::uint32_t kOggFlacStream = 0x10008;
inline constexpr std::uint32_t kWindowsMediaStream = 0x10300;
}  // namespace channel_type

// Byte-wise, case-sensitive tests on the address exactly as stored: no
// trimming, no case folding, so "HTTP://" is not "http://".
bool startsWith(std::string_view text, std::string_view prefix);
bool contains(std::string_view text, std::string_view part);
bool endsWith(std::string_view text, std::string_view suffix);

// The playlist test: true for an address that must be downloaded and
// expanded first (".pls", ".m3u", ".asx", ".php", ".asp" anywhere, or a
// path ending in ".wax" or ".xspf" in any case), false for mms:// and
// rtsp:// addresses and for the empty address.
bool needsResolving(std::string_view address);

// "http://" or "https://", exactly so.
bool isWebAddress(std::string_view address);

// The opening rule. The empty address, local paths, ftp:// and capitalised
// schemes all give NotNetwork.
OpenRoute openRoute(std::string_view address);

// The stream kind for a decoder channel type; unknown types give Other.
StreamKind kindOfChannel(std::uint32_t channelType);

}  // namespace korvanel
