#pragma once

#include <memory>
#include <string>

#include "recording/lame_library.h"
#include "recording/mp3_encoder.h"
#include "recording/mp3_file_output.h"
#include "recording/mpeg_frame_splitter.h"
#include "recording/recent_data_ring.h"
#include "recording/stream_writer.h"
#include "stream/byte_buffer.h"

namespace korvanel {

// Records decoded PCM as MP3 through the encoder library, loaded when the
// writer is created; without it the writer is never ready. One encoder
// stream runs from start() to finish(), across any number of files, so a
// new file continues the sound without a gap. Without `continuous`, PCM is
// encoded only while a file is open; with it, encoding runs all the time
// and recent MP3 is kept in memory for the next file. Each file begins with
// an info frame filled in when the file closes. Called from one thread at a
// time (see StreamWriter): in the program, the recorder's worker, which
// takes the decoded samples off the sound card's thread through a PcmQueue.
class EncoderWriter final : public StreamWriter {
public:
    explicit EncoderWriter(const std::string& libraryName = LameLibrary::kDefaultName);
    ~EncoderWriter() override;
    EncoderWriter(const EncoderWriter&) = delete;
    EncoderWriter& operator=(const EncoderWriter&) = delete;

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

    // Snapped to a Layer III bit rate; used from the next start().
    void setBitrate(int kbps) override;
    void setContinuous(bool on) override;

    bool isLoaded() const { return library_ != nullptr; }
    int bitrate() const;
    EncoderInitResult initResult() const;
    // MP3 bytes kept in memory (for tests and benchmarks).
    std::size_t bufferedBytes() const;

private:
    // Encodes the whole chunks waiting in pcm_ (all of it with `rest`).
    WriteResult encodeWaiting(bool rest);
    void takeOutput(std::size_t bytes, WriteResult& result);
    WriteResult closeFile();

    std::unique_ptr<LameLibrary> library_;
    Mp3Encoder encoder_;
    EncoderInitResult initResult_ = EncoderInitResult::Ok;
    std::size_t samplesPerChunk_ = 0;
    std::size_t outputBufferSize_ = 0;
    int bitrate_ = 128;
    bool continuous_ = false;
    ByteBuffer pcm_;
    ByteBuffer output_;
    std::unique_ptr<std::int16_t[]> chunk_;  // aligned samples for the library
    MpegFrameSplitter frames_;  // the encoder's output cut into whole frames
    RecentDataRing ring_;
    Mp3FileOutput file_;
};

}  // namespace korvanel
