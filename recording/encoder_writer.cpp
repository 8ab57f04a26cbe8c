#include "recording/encoder_writer.h"

#include <cstring>

#include "recording/mp3_stream_writer.h"

namespace korvanel {

EncoderWriter::EncoderWriter(const std::string& libraryName)
    : library_(LameLibrary::load(libraryName)), encoder_(library_.get()), ring_(&mpegFrameBoundaryAtOrAfter) {}

EncoderWriter::~EncoderWriter() {
    closeFile();
    encoder_.closeStream();
}

void EncoderWriter::clear() {
    ring_.clear();
}

void EncoderWriter::dropBuffered() {
    clear();
}

void EncoderWriter::setMaxBuffer(std::size_t bytes) {
    ring_.setLimit(bytes);
}

void EncoderWriter::setBitrate(int kbps) {
    bitrate_ = snapToLayer3Bitrate(kbps);
}

void EncoderWriter::setContinuous(bool on) {
    continuous_ = on;
}

int EncoderWriter::bitrate() const {
    return bitrate_;
}

EncoderInitResult EncoderWriter::initResult() const {
    return initResult_;
}

void EncoderWriter::start(int frequency, int channels) {
    if (!library_) {
        return;
    }
    // A stream still running (the previous source never finished) is
    // dropped; whatever it had encoded is already in the file or the ring.
    pcm_.clear();
    frames_.reset();
    initResult_ = encoder_.initStream(encoderConfigFor(frequency, channels, bitrate_), samplesPerChunk_,
                                      outputBufferSize_);
    if (initResult_ == EncoderInitResult::Ok) {
        chunk_ = std::make_unique<std::int16_t[]>(samplesPerChunk_);
        if (!output_.resize(outputBufferSize_)) {
            encoder_.closeStream();
            initResult_ = EncoderInitResult::LibraryRejected;
        }
    }
}

bool EncoderWriter::isReady() const {
    return library_ != nullptr && initResult_ == EncoderInitResult::Ok;
}

WriteResult EncoderWriter::encodePcm(const void* data, std::size_t length) {
    if (!encoder_.isStreamOpen() || (!file_.isOpen() && !continuous_)) {
        return WriteResult::Ok;
    }
    if (!pcm_.append(data, length)) {
        return WriteResult::Ok;  // out of memory: this piece of sound is lost
    }
    if (pcm_.size() > 2 * samplesPerChunk_) {
        return encodeWaiting(false);
    }
    return WriteResult::Ok;
}

WriteResult EncoderWriter::encodeWaiting(bool rest) {
    WriteResult result = WriteResult::Ok;
    const std::size_t chunkBytes = 2 * samplesPerChunk_;
    std::size_t offset = 0;
    while (pcm_.size() - offset >= chunkBytes || (rest && pcm_.size() - offset >= 2)) {
        const std::size_t bytes = std::min(chunkBytes, pcm_.size() - offset) / 2 * 2;
        std::memcpy(chunk_.get(), pcm_.data() + offset, bytes);
        std::size_t written = 0;
        if (encoder_.encodeChunk(chunk_.get(), bytes / 2, reinterpret_cast<unsigned char*>(output_.data()),
                                 output_.size(), written)) {
            takeOutput(written, result);
        }
        offset += bytes;
    }
    pcm_.removeFront(rest ? pcm_.size() : offset);
    return result;
}

void EncoderWriter::takeOutput(std::size_t bytes, WriteResult& result) {
    frames_.push(output_.data(), bytes, [&](const MpegFrameSplitter::Frames& frames) {
        if (file_.isOpen()) {
            if (file_.writeFrames(frames.bytes, frames.count)) {
                return;
            }
            result = WriteResult::WriteFailed;
        }
        ring_.append(frames.bytes);
    });
}

WriteResult EncoderWriter::writeRaw(const void* /*data*/, std::size_t /*length*/) {
    return WriteResult::Ok;
}

WriteResult EncoderWriter::open(const std::string& path) {
    WriteResult result = closeFile();
    if (library_ == nullptr || initResult_ != EncoderInitResult::Ok) {
        return result == WriteResult::Ok ? WriteResult::NotCreated : result;
    }
    if (!file_.create(path)) {
        return result == WriteResult::Ok ? WriteResult::NotCreated : result;
    }
    // The ring holds whole frames; they are counted for the info frame.
    const std::string_view buffered = ring_.view();
    if (!file_.writeFrames(buffered, countMpegFrames(buffered))) {
        return WriteResult::WriteFailed;
    }
    ring_.clear();
    return result;
}

bool EncoderWriter::isOpen() const {
    return file_.isOpen();
}

WriteResult EncoderWriter::close() {
    return closeFile();
}

WriteResult EncoderWriter::closeFile() {
    if (!file_.isOpen()) {
        return WriteResult::Ok;
    }
    WriteResult result = WriteResult::Ok;
    if (encoder_.isStreamOpen()) {
        result = encodeWaiting(false);
    }
    if (!file_.close()) {
        result = WriteResult::WriteFailed;
    }
    return result;
}

WriteResult EncoderWriter::finish() {
    if (!encoder_.isStreamOpen()) {
        return WriteResult::Ok;
    }
    WriteResult result = WriteResult::Ok;
    if (file_.isOpen()) {
        result = encodeWaiting(true);
        std::size_t written = 0;
        if (encoder_.deinitStream(reinterpret_cast<unsigned char*>(output_.data()), output_.size(), written)) {
            takeOutput(written, result);
        }
        if (!file_.close()) {
            result = WriteResult::WriteFailed;
        }
    }
    encoder_.closeStream();
    pcm_.clear();
    output_.clear();
    frames_.reset();
    return result;
}

int EncoderWriter::probeBitrate(const void* /*data*/, std::size_t /*length*/) const {
    return 0;
}

StreamKind EncoderWriter::probeFormat(const void* /*data*/, std::size_t /*length*/) const {
    return StreamKind::Other;
}

std::size_t EncoderWriter::bufferedBytes() const {
    return ring_.size();
}

}  // namespace korvanel
