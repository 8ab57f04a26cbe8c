#pragma once

#include <cstddef>
#include <optional>

#include "recording/frame_splitter.h"
#include "recording/mpeg_frame_header.h"

namespace korvanel {

// MPEG audio frames for the frame splitter.
struct MpegFrameFormat {
    using Header = MpegFrameHeader;
    static constexpr std::size_t kHeaderSize = MpegFrameHeader::kSize;
    static std::optional<Header> parse(const unsigned char* bytes, std::size_t available) {
        return parseMpegFrameHeader(bytes, available);
    }
    static std::size_t frameBytes(const Header& header) { return header.frameBytes; }
    static bool sameStream(const Header& a, const Header& b) { return a.sameStreamAs(b); }
};

using MpegFrameSplitter = FrameSplitter<MpegFrameFormat>;

}  // namespace korvanel
