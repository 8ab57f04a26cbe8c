#include "recording/mpeg_frame_splitter.h"

#include <cstring>

namespace korvanel {

void MpegFrameSplitter::reset() {
    pending_.clear();
    handedOut_ = 0;
    reference_.reset();
}

MpegFrameSplitter::Frames MpegFrameSplitter::nextRun() {
    if (!reference_ && !resync(handedOut_)) {
        return {};
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(pending_.data());
    const std::size_t size = pending_.size();
    const std::size_t start = handedOut_;
    std::size_t offset = start;
    std::size_t count = 0;
    while (offset + MpegFrameHeader::kSize <= size) {
        const auto header = parseMpegFrameHeader(bytes + offset, size - offset);
        if (!header || header->frameBytes == 0 || !header->sameStreamAs(*reference_)) {
            reference_.reset();  // lost sync: the run ends here
            break;
        }
        if (header->frameBytes > size - offset) {
            break;  // incomplete frame: wait for more
        }
        reference_ = header;
        offset += header->frameBytes;
        ++count;
    }
    if (count == 0) {
        // Lost sync right at the start of the run: look again from there.
        return reference_ ? Frames{} : (resync(start) ? nextRun() : Frames{});
    }
    handedOut_ = offset;
    return {std::string_view(pending_.data() + start, offset - start), count};
}

bool MpegFrameSplitter::resync(std::size_t from) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(pending_.data());
    const std::size_t size = pending_.size();
    std::size_t offset = from;
    for (; offset + MpegFrameHeader::kSize <= size; ++offset) {
        const auto header = parseMpegFrameHeader(bytes + offset, size - offset);
        if (!header || header->frameBytes == 0) {
            continue;
        }
        const std::size_t next = offset + header->frameBytes;
        if (next + MpegFrameHeader::kSize > size) {
            break;  // cannot confirm it yet: keep it and wait
        }
        const auto following = parseMpegFrameHeader(bytes + next, size - next);
        if (following && following->frameBytes != 0 && following->sameStreamAs(*header)) {
            reference_ = header;
            break;
        }
    }
    // The bytes before the candidate are junk; keep only the last few when
    // nothing was found, since a header may begin among them.
    std::size_t dropTo = offset;
    if (offset + MpegFrameHeader::kSize > size) {
        dropTo = size > MpegFrameHeader::kSize - 1 ? size - (MpegFrameHeader::kSize - 1) : 0;
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

}  // namespace korvanel
