#pragma once

#include <cstddef>
#include <cstring>
#include <optional>
#include <string_view>

#include "stream/byte_buffer.h"

namespace korvanel {

// Cuts a stream of audio frames (MPEG audio, ADTS AAC), arriving in chunks
// of any size, into whole frames, so that a file can begin at a frame header
// and end after a whole frame. Bytes that are not part of a frame (junk,
// tags, a broken frame) are dropped; after a loss of sync a frame is only
// trusted when the next header where it ends agrees with it. Not
// thread-safe.
//
// Format names the frames: Header, kHeaderSize, parse(bytes, available),
// frameBytes(header) (0: unknown, never trusted), sameStream(a, b).
template <class Format>
class FrameSplitter {
public:
    using Header = typename Format::Header;

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
    void reset() {
        pending_.clear();
        handedOut_ = 0;
        reference_.reset();
    }

    // Bytes held back (an incomplete frame, or data not yet confirmed).
    std::size_t heldBytes() const { return pending_.size() - handedOut_; }

private:
    static constexpr std::size_t kHeaderSize = Format::kHeaderSize;

    std::optional<Header> frameAt(std::size_t offset) const {
        const auto* bytes = reinterpret_cast<const unsigned char*>(pending_.data());
        auto header = Format::parse(bytes + offset, pending_.size() - offset);
        if (!header || Format::frameBytes(*header) == 0) {
            return std::nullopt;
        }
        return header;
    }

    Frames nextRun() {
        if (!reference_ && !resync(handedOut_)) {
            return {};
        }
        const std::size_t size = pending_.size();
        const std::size_t start = handedOut_;
        std::size_t offset = start;
        std::size_t count = 0;
        while (offset + kHeaderSize <= size) {
            const auto header = frameAt(offset);
            if (!header || !Format::sameStream(*header, *reference_)) {
                reference_.reset();  // lost sync: the run ends here
                break;
            }
            if (Format::frameBytes(*header) > size - offset) {
                break;  // incomplete frame: wait for more
            }
            reference_ = header;
            offset += Format::frameBytes(*header);
            ++count;
        }
        if (count == 0) {
            // Lost sync right at the start of the run: look again from there.
            return reference_ ? Frames{} : (resync(start) ? nextRun() : Frames{});
        }
        handedOut_ = offset;
        return {std::string_view(pending_.data() + start, offset - start), count};
    }

    // Finds a confirmed frame at or after `from`; drops what lies before it.
    // False when more data is needed.
    bool resync(std::size_t from) {
        const std::size_t size = pending_.size();
        std::size_t offset = from;
        for (; offset + kHeaderSize <= size; ++offset) {
            const auto header = frameAt(offset);
            if (!header) {
                continue;
            }
            const std::size_t next = offset + Format::frameBytes(*header);
            if (next + kHeaderSize > size) {
                break;  // cannot confirm it yet: keep it and wait
            }
            const auto following = frameAt(next);
            if (following && Format::sameStream(*following, *header)) {
                reference_ = header;
                break;
            }
        }
        // The bytes before the candidate are junk; keep only the last few when
        // nothing was found, since a header may begin among them.
        std::size_t dropTo = offset;
        if (offset + kHeaderSize > size) {
            dropTo = size > kHeaderSize - 1 ? size - (kHeaderSize - 1) : 0;
            dropTo = dropTo < from ? from : dropTo;
        }
        // Only bytes not yet handed out may be removed, and they lie at the end
        // of the handed-out run, so move the kept tail down over the junk.
        if (dropTo > from) {
            std::memmove(pending_.data() + from, pending_.data() + dropTo, size - dropTo);
            pending_.resize(size - (dropTo - from));
        }
        return reference_.has_value();
    }

    ByteBuffer pending_;
    std::size_t handedOut_ = 0;       // front bytes already given to a sink
    std::optional<Header> reference_;  // the last frame while in sync
};

}  // namespace korvanel
