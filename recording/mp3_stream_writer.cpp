#include "recording/mp3_stream_writer.h"

namespace korvanel {

std::size_t mpegFrameBoundaryAtOrAfter(std::string_view frames, std::size_t from) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(frames.data());
    std::size_t offset = 0;
    while (offset < from) {
        const auto header = parseMpegFrameHeader(bytes + offset, frames.size() - offset);
        if (!header || header->frameBytes == 0) {
            return frames.size();
        }
        offset += header->frameBytes;
    }
    return offset < frames.size() ? offset : frames.size();
}

int MpegStreamFormat::probeBitrate(const void* data, std::size_t length) {
    const auto header = findFirstMpegFrame(data, length);
    return header ? header->bitrateKbps : 0;
}

StreamKind MpegStreamFormat::probeKind(const void* data, std::size_t length) {
    const auto header = findFirstMpegFrame(data, length);
    return header ? mpegStreamKind(*header) : StreamKind::Other;
}

}  // namespace korvanel
