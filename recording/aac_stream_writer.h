#pragma once

#include "recording/adts_frame_header.h"
#include "recording/framed_stream_writer.h"

namespace korvanel {

// Saves an ADTS AAC stream as it arrives, in whole frames: every .aac file
// begins at a frame header and plays on its own.
using AacStreamWriter = FramedStreamWriter<AdtsStreamFormat>;

}  // namespace korvanel
