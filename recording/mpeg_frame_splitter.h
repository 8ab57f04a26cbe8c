#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "recording/mpeg_frame_header.h"
#include "stream/byte_buffer.h"

namespace korvanel {

// Cuts a stream of MPEG audio bytes, arriving in chunks of any size, into
// whole frames, so that a file can begin at a frame header and end after a
// whole frame. Bytes that are not part of a frame (junk, tags, a broken
// frame) are dropped; after a loss of sync a frame is only trusted when the
// next header where it ends agrees with it. Not thread-safe.
class MpegFrameSplitter {
public:
    // A run of consecutive whole frames.
    struct Frames {
        std::string_view bytes;
        std::size_t count = 0;
    };

    // Adds stream bytes and hands each run of whole frames now complete to
    // sink(Frames). The bytes stay valid only during the call. Returns false
    // when memory ran out (the chunk is then dropped).
    template <class Sink>
    bool push(const void* data, std::size_t length, Sink&& sink) {
        if (!pending_.removeFront(handedOut_) || !pending_.append(data, length)) {
            handedOut_ = 0;
            return false;
        }
        handedOut_ = 0;
        for (;;) {
            const Frames run = nextRun();
            if (run.count == 0) {
                break;
            }
            sink(run);
        }
        return true;
    }

    // Forgets everything held and the sync (a new stream begins).
    void reset();

    // Bytes held back (an incomplete frame, or data not yet confirmed).
    std::size_t heldBytes() const { return pending_.size() - handedOut_; }

private:
    Frames nextRun();
    // Finds a confirmed frame at or after `from`; drops what lies before it.
    // False when more data is needed.
    bool resync(std::size_t from);

    ByteBuffer pending_;
    std::size_t handedOut_ = 0;  // front bytes already given to a sink
    std::optional<MpegFrameHeader> reference_;  // the last frame while in sync
};

}  // namespace korvanel
