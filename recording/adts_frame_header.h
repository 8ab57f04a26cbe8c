#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "stream/source_classification.h"

namespace korvanel {

// One ADTS header of an AAC stream (AAC and HE-AAC radio send these
// self-delimiting frames): 7 bytes, 9 with a CRC.
struct AdtsFrameHeader {
    static constexpr std::size_t kSize = 7;

    int profile = 0;           // object type - 1
    int sampleRateIndex = 0;   // 0..12
    int sampleRate = 0;        // Hz
    int channelConfig = 0;
    std::size_t frameBytes = 0;  // header included
    int blocks = 1;            // raw data blocks of 1024 samples each

    bool sameStreamAs(const AdtsFrameHeader& other) const {
        return profile == other.profile && sampleRateIndex == other.sampleRateIndex &&
               channelConfig == other.channelConfig;
    }
};

// The header at bytes[0..6], or nothing for no sync word, a layer other
// than 0, a reserved sample rate, or a frame shorter than its header.
// Reads only when available >= kSize.
std::optional<AdtsFrameHeader> parseAdtsFrameHeader(const unsigned char* bytes, std::size_t available);

// What the frame splitter and the stream writer need to know of ADTS.
struct AdtsStreamFormat {
    using Header = AdtsFrameHeader;
    static constexpr std::size_t kHeaderSize = AdtsFrameHeader::kSize;
    static std::optional<Header> parse(const unsigned char* bytes, std::size_t available) {
        return parseAdtsFrameHeader(bytes, available);
    }
    static std::size_t frameBytes(const Header& header) { return header.frameBytes; }
    static bool sameStream(const Header& a, const Header& b) { return a.sameStreamAs(b); }
    // For data made of whole frames: the offset of the first frame at or
    // after `from`.
    static std::size_t boundaryAtOrAfter(std::string_view frames, std::size_t from);
    // The average bit rate of the first confirmed frames, in kbit/s, or 0.
    static int probeBitrate(const void* data, std::size_t length);
    static StreamKind probeKind(const void* data, std::size_t length);
};

}  // namespace korvanel
