#pragma once

#include <string>

#include "recording/frame_splitter.h"
#include "recording/output_file.h"
#include "recording/recent_data_ring.h"
#include "recording/stream_writer.h"

namespace korvanel {

// Saves a stream of audio frames as it arrives. Only whole frames reach the
// file and the in-memory ring, so every file begins at a frame header and
// ends after a whole frame. A failed write closes the file; the frames go
// to the ring instead. Called from one thread at a time (see StreamWriter).
//
// Format is a frame splitter's format with, besides:
// boundaryAtOrAfter(frames, from), probeBitrate(data, length) and
// probeKind(data, length).
template <class Format>
class FramedStreamWriter final : public StreamWriter {
public:
    FramedStreamWriter() : ring_(&Format::boundaryAtOrAfter) {}
    ~FramedStreamWriter() override {
        closeFile();
    }
    FramedStreamWriter(const FramedStreamWriter&) = delete;
    FramedStreamWriter& operator=(const FramedStreamWriter&) = delete;

    void clear() override {
        ring_.clear();
        splitter_.reset();
    }
    void setMaxBuffer(std::size_t bytes) override {
        ring_.setLimit(bytes);
    }
    WriteResult encodePcm(const void* /*data*/, std::size_t /*length*/) override { return WriteResult::Ok; }
    WriteResult writeRaw(const void* data, std::size_t length) override {
        WriteResult result = WriteResult::Ok;
        splitter_.push(data, length, [&](const typename FrameSplitter<Format>::Frames& frames) {
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
    void dropBuffered() override {
        ring_.clear();
    }
    void start(int /*frequency*/, int /*channels*/) override { clear(); }
    bool isReady() const override { return true; }
    WriteResult open(const std::string& path) override {
        const WriteResult closed = closeFile();
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
    bool isOpen() const override {
        return file_.isOpen();
    }
    WriteResult close() override {
        return closeFile();
    }
    WriteResult finish() override {
        const WriteResult result = closeFile();
        ring_.clear();
        splitter_.reset();
        return result;
    }
    int probeBitrate(const void* data, std::size_t length) const override {
        return Format::probeBitrate(data, length);
    }
    StreamKind probeFormat(const void* data, std::size_t length) const override {
        return Format::probeKind(data, length);
    }

    // Bytes kept in memory (for tests and benchmarks).
    std::size_t bufferedBytes() const {
        return ring_.size() + splitter_.heldBytes();
    }

private:
    WriteResult closeFile() {
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

    FrameSplitter<Format> splitter_;
    RecentDataRing ring_;
    OutputFile file_;
};

}  // namespace korvanel
