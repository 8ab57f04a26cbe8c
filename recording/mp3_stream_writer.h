#pragma once

#include <string_view>

#include "recording/framed_stream_writer.h"
#include "recording/mpeg_frame_splitter.h"

namespace korvanel {

// For data made of whole MPEG frames: the offset of the first frame at or
// after `from`.
std::size_t mpegFrameBoundaryAtOrAfter(std::string_view frames, std::size_t from);

// What the stream writer needs to know of MPEG audio.
struct MpegStreamFormat : MpegFrameFormat {
    static std::size_t boundaryAtOrAfter(std::string_view frames, std::size_t from) {
        return mpegFrameBoundaryAtOrAfter(frames, from);
    }
    static int probeBitrate(const void* data, std::size_t length);
    static StreamKind probeKind(const void* data, std::size_t length);
};

// Saves an MPEG audio stream as it arrives, in whole frames.
using Mp3StreamWriter = FramedStreamWriter<MpegStreamFormat>;

}  // namespace korvanel
