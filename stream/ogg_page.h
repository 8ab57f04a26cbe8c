#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

// Appends value in bytes little-endian bytes, as Ogg and the codecs in it
// write their fields.
void appendLittleEndian(std::string& out, std::uint64_t value, int bytes);

// The page checksum of Ogg (CRC-32, polynomial 0x04C11DB7, over the whole
// page with its checksum field taken as zero).
std::uint32_t oggPageChecksum(std::string_view page);

// Builds the pages of one logical stream from whole packets, each with the
// granule position after it: as few pages as the lacing allows, a page's
// position that of the last packet it ends (-1 when it ends none),
// numbered on from 0 and sealed with their checksums.
class OggPageWriter {
public:
    struct Packet {
        std::string_view bytes;
        std::int64_t granule = 0;
    };

    explicit OggPageWriter(std::uint32_t serial) : serial_(serial) {}
    // The packets on pages of their own after out's; firstOfStream marks
    // the first page as the stream's beginning.
    void write(std::string& out, const std::vector<Packet>& packets, bool firstOfStream = false);

private:
    std::uint32_t serial_;
    std::uint32_t sequence_ = 0;
};

// The samples (at 48 kHz) an Opus packet holds, from its table of contents.
int opusPacketSamples(std::string_view packet);
// The samples a FLAC frame holds, from its header; 0 when it is none.
int flacFrameSamples(std::string_view frame);

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
