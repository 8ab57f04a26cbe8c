#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "stream/source_classification.h"

namespace korvanel {

enum class MpegVersion { Mpeg1, Mpeg2, Mpeg25 };

// One parsed MPEG audio frame header (4 bytes).
struct MpegFrameHeader {
    static constexpr std::size_t kSize = 4;

    MpegVersion version = MpegVersion::Mpeg1;
    int layer = 3;             // 1, 2 or 3
    int bitrateKbps = 0;       // 0: free format
    int sampleRate = 0;        // Hz
    bool padding = false;
    bool mono = false;         // channel mode 3
    bool crc = false;          // a 16-bit CRC follows the header
    std::size_t frameBytes = 0;  // header included; 0 for free format
    int samplesPerFrame = 0;

    // Whether another header belongs to the same stream (a frame that
    // follows this one must agree on these).
    bool sameStreamAs(const MpegFrameHeader& other) const {
        return version == other.version && layer == other.layer && sampleRate == other.sampleRate;
    }
};

// The bit rate table of ISO/IEC 11172-3 (MPEG-1) and ISO/IEC 13818-3
// (MPEG-2 and 2.5: one table for Layer I, one shared by Layers II and III);
// index 0 (free format) and 15 (invalid) give 0.
int mpegBitrateKbps(MpegVersion version, int layer, int index);

// The header at bytes[0..3], or nothing for a sync error, a reserved version,
// layer or sample rate, or bit rate index 15. Reads only when available >= 4.
std::optional<MpegFrameHeader> parseMpegFrameHeader(const unsigned char* bytes, std::size_t available);

// Where the side information ends and an info tag ("Xing", "Info") would
// begin, counted from the frame header.
std::size_t mpegInfoTagOffset(const MpegFrameHeader& header);

// Whether the whole frame at bytes[0..frameBytes) is an info frame (a
// "Xing", "Info" or "VBRI" tag instead of audio).
bool isMpegInfoFrame(const MpegFrameHeader& header, const unsigned char* bytes);

// The first audio frame header in the data that is followed by a matching
// header where its frame ends (or whose frame reaches past the end of the
// data), so that a stray 0xFF inside other bytes is not taken for a frame.
// Info frames, which may have a bit rate of their own, are passed over.
// Free-format frames are not recognised. Never reads outside the data.
std::optional<MpegFrameHeader> findFirstMpegFrame(const void* data, std::size_t length);

// The number of frames in data made of whole frames, walked header by
// header (it stops at anything that is not a frame).
std::size_t countMpegFrames(std::string_view frames);

// The stream kind of a header: MPEG-1 and MPEG-2 Layers I-III; MPEG-2.5 is Other.
StreamKind mpegStreamKind(const MpegFrameHeader& header);

}  // namespace korvanel
