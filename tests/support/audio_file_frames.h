#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace korvanel::test {

// Builds MPEG audio frames by hand: a 4-byte header with these fields and a
// body of `fill` bytes up to frameBytes (given by the test, from the
// standard's formulas, so the code under test is not asked for it).
struct MpegHeaderFields {
    int versionBits = 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5, 1 reserved
    int layerBits = 1;    // 1 Layer III, 2 Layer II, 3 Layer I, 0 reserved
    int bitrateIndex = 9;
    int rateIndex = 0;
    bool padding = false;
    bool mono = false;
};

std::string mpegHeader(const MpegHeaderFields& fields);
std::string mpegFrame(const MpegHeaderFields& fields, std::size_t frameBytes, char fill = '\0');
// count frames of 128 kbit/s, 44100 Hz MPEG-1 Layer III, each padded to 418 bytes.
std::string mp3Frames128k(std::size_t count);
constexpr std::size_t kMp3Frame128kBytes = 418;

// Interleaved signed 16-bit little-endian PCM: a sine tone per channel
// (440 Hz left, 660 Hz right), starting at sample `firstSample`.
std::string sinePcm(double seconds, int sampleRate, int channels, long firstSample = 0);

// One Ogg page built by hand, with a correct layout (the CRC is not set).
// With lastPacketGoesOn the body must be a multiple of 255 bytes.
std::string oggPage(unsigned char headerType, unsigned serial, unsigned sequence, const std::string& body,
                    bool lastPacketGoesOn = false);
// A page holding several whole packets.
std::string oggPageOfPackets(unsigned char headerType, unsigned serial, unsigned sequence,
                             const std::vector<std::string>& packets);
// A Vorbis-like start of a logical stream: the first page (identification
// header) and one page with the comment and setup packets.
std::string oggHeaderPages(unsigned serial);

// The pages with sequence numbers, checksums and end-of-stream flags taken
// out, for comparing pages written by the Ogg writer with their source.
std::string withoutPageNumbering(const std::string& pages);

}  // namespace korvanel::test
