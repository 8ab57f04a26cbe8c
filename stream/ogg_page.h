#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace korvanel {

// The fixed part of an Ogg page header, then one lacing value per segment.
struct OggPage {
    static constexpr std::size_t kFixedHeaderBytes = 27;
    static constexpr unsigned char kContinued = 1;
    static constexpr unsigned char kFirstPage = 2;
    static constexpr unsigned char kLastPage = 4;

    unsigned char headerType = 0;
    std::uint32_t serial = 0;
    std::size_t headerBytes = 0;  // 27 + segment count
    std::size_t pageBytes = 0;    // header and body
    int packetsEnded = 0;         // lacing values below 255
    bool endsWithPacket = true;   // the last packet does not go on in the next page

    bool continued() const { return (headerType & kContinued) != 0; }
    bool firstOfStream() const { return (headerType & kFirstPage) != 0; }
    bool lastOfStream() const { return (headerType & kLastPage) != 0; }
};

enum class OggPageStatus {
    Page,      // a whole page lies at the offset
    NeedMore,  // a page begins there but the data ends before it does
    NotAPage,  // no capture pattern with version 0 there
};

// Reads the page at data[offset...]; never reads outside the data.
OggPageStatus parseOggPage(std::string_view data, std::size_t offset, OggPage& page);

// The offset of the first "OggS" at or after `from`, or npos.
std::size_t findOggCapturePattern(std::string_view data, std::size_t from);

// For data made of whole pages: the offset of the first page at or after
// `from` that does not continue a packet (where a file may begin); the size
// of the data when there is none.
std::size_t oggUnitBoundaryAtOrAfter(std::string_view data, std::size_t from);

enum class OggCodec { Unknown, Vorbis, Opus, Flac };

// The codec of the logical stream whose first page (its identification
// packet) begins the data.
OggCodec oggCodecOfFirstPage(std::string_view firstPage);

// How many header packets the codec whose first page this is needs before
// audio data (Vorbis 3, Opus 2, FLAC 1 and its metadata packets), or 0 when
// the codec (or, for FLAC, the count) is not known.
int oggHeaderPacketCount(std::string_view firstPage);

// The nominal bit rate in kbit/s of the Vorbis stream whose first page is
// the first page found in the data, or 0.
int probeVorbisBitrateKbps(std::string_view data);

}  // namespace korvanel
