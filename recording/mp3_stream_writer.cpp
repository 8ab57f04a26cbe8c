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

Mp3StreamWriter::Mp3StreamWriter() : ring_(&mpegFrameBoundaryAtOrAfter) {}

Mp3StreamWriter::~Mp3StreamWriter() {
    std::lock_guard guard(lock_);
    closeLocked();
}

void Mp3StreamWriter::clear() {
    std::lock_guard guard(lock_);
    ring_.clear();
    splitter_.reset();
}

void Mp3StreamWriter::setMaxBuffer(std::size_t bytes) {
    std::lock_guard guard(lock_);
    ring_.setLimit(bytes);
}

WriteResult Mp3StreamWriter::encodePcm(const void* /*data*/, std::size_t /*length*/) {
    return WriteResult::Ok;
}

WriteResult Mp3StreamWriter::writeRaw(const void* data, std::size_t length) {
    std::lock_guard guard(lock_);
    WriteResult result = WriteResult::Ok;
    splitter_.push(data, length, [&](const MpegFrameSplitter::Frames& frames) {
        if (file_.isOpen()) {
            if (file_.write(frames.bytes)) {
                return;
            }
            file_.close();
            result = WriteResult::WriteFailed;
        }
        ring_.append(frames.bytes);
    });
    return result;
}

void Mp3StreamWriter::dropBuffered() {
    std::lock_guard guard(lock_);
    ring_.clear();
}

void Mp3StreamWriter::start(int /*frequency*/, int /*channels*/) {
    clear();
}

bool Mp3StreamWriter::isReady() const {
    return true;
}

WriteResult Mp3StreamWriter::open(const std::string& path) {
    std::lock_guard guard(lock_);
    const WriteResult closed = closeLocked();
    if (!file_.create(path)) {
        return closed == WriteResult::Ok ? WriteResult::NotCreated : closed;
    }
    if (!file_.write(ring_.view())) {
        file_.close();
        return WriteResult::WriteFailed;
    }
    ring_.clear();
    return closed;
}

bool Mp3StreamWriter::isOpen() const {
    std::lock_guard guard(lock_);
    return file_.isOpen();
}

WriteResult Mp3StreamWriter::close() {
    std::lock_guard guard(lock_);
    return closeLocked();
}

WriteResult Mp3StreamWriter::closeLocked() {
    if (!file_.isOpen()) {
        return WriteResult::Ok;
    }
    bool written = file_.write(ring_.view());
    if (written) {
        ring_.clear();
    }
    written = file_.close() && written;
    return written ? WriteResult::Ok : WriteResult::WriteFailed;
}

WriteResult Mp3StreamWriter::finish() {
    std::lock_guard guard(lock_);
    const WriteResult result = closeLocked();
    ring_.clear();
    splitter_.reset();
    return result;
}

int Mp3StreamWriter::probeBitrate(const void* data, std::size_t length) const {
    const auto header = findFirstMpegFrame(data, length);
    return header ? header->bitrateKbps : 0;
}

StreamKind Mp3StreamWriter::probeFormat(const void* data, std::size_t length) const {
    const auto header = findFirstMpegFrame(data, length);
    return header ? mpegStreamKind(*header) : StreamKind::Other;
}

std::size_t Mp3StreamWriter::bufferedBytes() const {
    std::lock_guard guard(lock_);
    return ring_.size() + splitter_.heldBytes();
}

}  // namespace korvanel
