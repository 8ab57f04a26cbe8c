#pragma once

#include <cstdint>
#include <span>

#include "audio/stream_info.h"

namespace korvanel {

// Where the output channel and the metadata parser hand what they see of a
// stream to the recorder: the compressed bytes as they arrive, the decoded
// samples before any sound effect, the format, and changes of the stream
// information.
//
// Threads: onOpen, onFormat and onClose come from the player's worker (and
// onClose also from the network thread when the download ends);
// onHeaderData and onStreamData from the network thread; onPcm from a sound
// card's thread while the channel's sample buffer is locked; onStreamInfo
// from the player's worker or the decoder thread. None of these may block on
// file or network I/O or on a lock held across it: hand the work to a thread
// of your own.
class RecordingSink {
public:
    virtual ~RecordingSink() = default;

    // A new source is about to be opened.
    virtual void onOpen() = 0;
    // Stream bytes that arrived while the stream was still being opened.
    virtual void onHeaderData(std::span<const std::uint8_t> data) = 0;
    // Stream bytes after the stream has opened, in stream order.
    virtual void onStreamData(std::span<const std::uint8_t> data) = 0;
    // Decoded interleaved signed 16-bit samples, before the sound effects.
    virtual void onPcm(std::span<const std::uint8_t> samples) = 0;
    // The stream opened with this format.
    virtual void onFormat(int frequency, int channels) = 0;
    // The stream was closed or its download ended.
    virtual void onClose() = 0;
    // Station name or title may have changed: the stream information as of
    // the stream bytes given so far, which may be ahead of what is heard.
    virtual void onStreamInfo(const StreamInfo::Snapshot& info) = 0;
};

}  // namespace korvanel
