#pragma once

#include <mutex>

#include "recording/mpeg_frame_splitter.h"
#include "recording/output_file.h"
#include "recording/recent_data_ring.h"
#include "recording/stream_writer.h"

namespace korvanel {

// Saves an MPEG audio stream as it arrives. Only whole frames reach the
// file and the in-memory ring, so every file begins at a frame header and
// ends after a whole frame. A failed write closes the file; the frames go
// to the ring instead. Every operation takes the writer's lock.
class Mp3StreamWriter final : public StreamWriter {
public:
    Mp3StreamWriter();
    ~Mp3StreamWriter() override;
    Mp3StreamWriter(const Mp3StreamWriter&) = delete;
    Mp3StreamWriter& operator=(const Mp3StreamWriter&) = delete;

    void clear() override;
    void setMaxBuffer(std::size_t bytes) override;
    WriteResult encodePcm(const void* data, std::size_t length) override;
    WriteResult writeRaw(const void* data, std::size_t length) override;
    void dropBuffered() override;
    void start(int frequency, int channels) override;
    bool isReady() const override;
    WriteResult open(const std::string& path) override;
    bool isOpen() const override;
    WriteResult close() override;
    WriteResult finish() override;
    int probeBitrate(const void* data, std::size_t length) const override;
    StreamKind probeFormat(const void* data, std::size_t length) const override;

    // Bytes kept in memory (for tests and benchmarks).
    std::size_t bufferedBytes() const;

private:
    WriteResult closeLocked();

    mutable std::mutex lock_;
    MpegFrameSplitter splitter_;
    RecentDataRing ring_;
    OutputFile file_;
};

// For data made of whole MPEG frames: the offset of the first frame at or
// after `from`.
std::size_t mpegFrameBoundaryAtOrAfter(std::string_view frames, std::size_t from);

}  // namespace korvanel
