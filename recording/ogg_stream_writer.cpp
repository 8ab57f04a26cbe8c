#include "recording/ogg_stream_writer.h"

#include "stream/ogg_page.h"

namespace korvanel {
namespace {

// Without knowing the codec, the first page and one more unit are taken as
// the headers (the common layout of Vorbis streams).
constexpr int kDefaultHeaderUnits = 2;

}  // namespace

OggStreamWriter::OggStreamWriter() : pages_(&oggUnitBoundaryAtOrAfter) {}

OggStreamWriter::~OggStreamWriter() { closeFile(); }

void OggStreamWriter::clear() {
    parser_.reset();
    headers_.clear();
    pages_.clear();
    headerState_ = HeaderState::None;
    headerPacketsLeft_ = 0;
    headerUnitsSeen_ = 0;
    codec_ = OggCodec::Unknown;
}

void OggStreamWriter::setMaxBuffer(std::size_t bytes) {
    pages_.setLimit(bytes);
}

WriteResult OggStreamWriter::encodePcm(const void* /*data*/, std::size_t /*length*/) {
    return WriteResult::Ok;
}

WriteResult OggStreamWriter::writeRaw(const void* data, std::size_t length) {
    WriteResult result = WriteResult::Ok;
    parser_.push(data, length, [&](const OggUnitParser::Unit& unit) { takeUnit(unit, result); });
    return result;
}

bool OggStreamWriter::writeToFile(std::string_view bytes, WriteResult& result) {
    if (file_.writePages(bytes)) {
        return true;
    }
    result = WriteResult::WriteFailed;
    return false;
}

void OggStreamWriter::takeUnit(const OggUnitParser::Unit& unit, WriteResult& result) {
    if (unit.firstOfStream) {
        // The previous logical stream is over: its file ends here. A file
        // that holds no more than its headers starts over with this stream.
        if (file_.isOpen() && fileHasAudio_) {
            if (closeFile() != WriteResult::Ok) {
                result = WriteResult::WriteFailed;
            }
        } else if (file_.isOpen() && file_.size() > 0) {
            const std::string path = file_.path();
            if (!file_.create(path)) {
                result = WriteResult::WriteFailed;
            }
        }
        pages_.clear();
        headers_.clear();
        headerState_ = HeaderState::Collecting;
        headerPacketsLeft_ = oggHeaderPacketCount(unit.bytes);
        codec_ = oggCodecOfFirstPage(unit.bytes);
        headerUnitsSeen_ = 0;
        takeHeaderUnit(unit, result);
    } else if (headerState_ == HeaderState::Collecting) {
        takeHeaderUnit(unit, result);
    } else if (headerState_ == HeaderState::Complete) {
        const bool written = file_.isOpen() && (fileHasAudio_ ? writeToFile(unit.bytes, result)
                                                              : writeFirstAudio(unit.bytes, result));
        if (!written) {
            pages_.append(unit.bytes);
        }
    }
    if (unit.lastOfStream) {
        // Nothing of this logical stream may follow; the next file starts
        // with the next stream's first page.
        if (file_.isOpen() && closeFile() != WriteResult::Ok) {
            result = WriteResult::WriteFailed;
        }
        pages_.clear();
        headers_.clear();
        headerState_ = HeaderState::None;
    }
}

void OggStreamWriter::takeHeaderUnit(const OggUnitParser::Unit& unit, WriteResult& result) {
    headers_.append(unit.bytes);
    ++headerUnitsSeen_;
    const bool complete = headerPacketsLeft_ > 0 ? (headerPacketsLeft_ -= unit.packetsEnded) <= 0
                                                 : headerUnitsSeen_ >= kDefaultHeaderUnits;
    if (complete) {
        headerState_ = HeaderState::Complete;
        // An open file gets them whole, with its tags in them.
        if (file_.isOpen()) {
            writeHeaders(result);
        }
    }
}

bool OggStreamWriter::writeHeaders(WriteResult& result) {
    const bool tagged = !tags_.title.empty() || !tags_.artist.empty() || !tags_.organization.empty();
    const std::optional<std::string> retagged =
        tagged ? oggHeadersWithTags(headers_.view(), codec_, tags_) : std::nullopt;
    return writeToFile(retagged ? std::string_view(*retagged) : headers_.view(), result);
}

bool OggStreamWriter::writeFirstAudio(std::string_view pages, WriteResult& result) {
    file_.setGranuleShift(oggGranuleShift(pages, codec_, headers_.view()));
    if (!writeToFile(pages, result)) {
        return false;
    }
    fileHasAudio_ = true;
    return true;
}

void OggStreamWriter::dropBuffered() {}

void OggStreamWriter::start(int /*frequency*/, int /*channels*/) {
    clear();
}

bool OggStreamWriter::isReady() const {
    return true;
}

WriteResult OggStreamWriter::open(const std::string& path) {
    const WriteResult closed = closeFile();
    if (!file_.create(path)) {
        return closed == WriteResult::Ok ? WriteResult::NotCreated : closed;
    }
    fileHasAudio_ = false;
    WriteResult result = closed;
    // Headers still arriving go to the file once they are all there.
    if (headerState_ != HeaderState::Complete || !writeHeaders(result)) {
        return result;
    }
    if (pages_.size() > 0) {
        if (!writeFirstAudio(pages_.view(), result)) {
            return result;
        }
        pages_.clear();
    }
    return result;
}

bool OggStreamWriter::isOpen() const {
    return file_.isOpen();
}

WriteResult OggStreamWriter::close() {
    return closeFile();
}

WriteResult OggStreamWriter::closeFile() {
    if (!file_.isOpen()) {
        return WriteResult::Ok;
    }
    bool written = file_.writePages(pages_.view());
    if (written) {
        pages_.clear();
    }
    written = file_.close() && written;
    fileHasAudio_ = false;
    return written ? WriteResult::Ok : WriteResult::WriteFailed;
}

WriteResult OggStreamWriter::finish() {
    const WriteResult result = closeFile();
    clear();
    return result;
}

int OggStreamWriter::probeBitrate(const void* data, std::size_t length) const {
    return probeVorbisBitrateKbps(std::string_view(static_cast<const char*>(data), length));
}

StreamKind OggStreamWriter::probeFormat(const void* data, std::size_t length) const {
    const std::string_view bytes(static_cast<const char*>(data), length);
    const std::size_t start = findOggCapturePattern(bytes, 0);
    switch (start == std::string_view::npos ? OggCodec::Unknown : oggCodecOfFirstPage(bytes.substr(start))) {
        case OggCodec::Vorbis: return StreamKind::OggVorbis;
        case OggCodec::Opus: return StreamKind::OggOpus;
        case OggCodec::Flac: return StreamKind::OggFlac;
        case OggCodec::Unknown: break;
    }
    return StreamKind::Other;  // no first page yet: the engine's word stands
}

std::size_t OggStreamWriter::bufferedBytes() const {
    return headers_.size() + pages_.size() + parser_.heldBytes();
}

}  // namespace korvanel
