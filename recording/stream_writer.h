#pragma once

#include <cstddef>
#include <string>

#include "recording/file_tags.h"
#include "stream/source_classification.h"

namespace korvanel {

// What a call that may touch the recording file did.
enum class WriteResult {
    Ok,           // done, or nothing had to be written
    NotCreated,   // open(): the file could not be created; data stays in memory
    WriteFailed,  // a write to the open file failed: the file was closed (cut back
                  // to its last whole unit) and the data kept in memory instead
};

// The recorder's writers: they take stream data (compressed bytes or decoded
// 16-bit PCM), keep the most recent part in memory while no file is open, and
// write to the file while one is.
//
// Threads: a writer has no lock. Its owner calls it from one thread at a
// time; in the program that is the recorder's worker, which alone holds
// the writers (the audio threads hand their data over through its queue).
class StreamWriter {
public:
    // Memory limits are whole multiples of this; anything smaller means no
    // buffering at all.
    static constexpr std::size_t kBufferStep = 524288;

    virtual ~StreamWriter() = default;

    // Drops everything buffered.
    virtual void clear() = 0;
    // The in-memory limit, rounded down to a multiple of kBufferStep.
    virtual void setMaxBuffer(std::size_t bytes) = 0;
    // Decoded interleaved signed 16-bit PCM (only the encoder uses it).
    virtual WriteResult encodePcm(const void* data, std::size_t length) = 0;
    // Compressed stream bytes as they arrive (the encoder ignores them).
    virtual WriteResult writeRaw(const void* data, std::size_t length) = 0;
    // The file name changed: recent data must not go into the next file.
    virtual void dropBuffered() = 0;
    // A new stream of this format begins.
    virtual void start(int frequency, int channels) = 0;
    virtual bool isReady() const = 0;
    // Closes the current file, creates this one (replacing any file of that
    // name) and writes the buffered data into it first.
    virtual WriteResult open(const std::string& path) = 0;
    virtual bool isOpen() const = 0;
    // Flushes and closes the file; buffering goes on.
    virtual WriteResult close() = 0;
    // The stream ended: flush, close, release.
    virtual WriteResult finish() = 0;
    // The bit rate in kbit/s found in the data, or 0.
    virtual int probeBitrate(const void* data, std::size_t length) const = 0;
    // The kind of stream found in the data, or Other.
    virtual StreamKind probeFormat(const void* data, std::size_t length) const = 0;

    // Encoder settings; the raw writers have nothing to set.
    virtual void setBitrate(int /*kbps*/) {}
    // What the next file's own tags say, where its format carries them;
    // set before open().
    virtual void setFileTags(const FileTags& /*tags*/) {}
    virtual void setContinuous(bool /*on*/) {}
};

// The in-memory limit for a "Recording/MaxBuffer" value.
constexpr std::size_t bufferLimitFor(std::size_t bytes) {
    return bytes / StreamWriter::kBufferStep * StreamWriter::kBufferStep;
}

// How much a buffer over its limit keeps: trimming to 90 % at once keeps the
// front removal (a memory move) rare.
constexpr std::size_t bufferTrimTarget(std::size_t limit) {
    return limit - limit / 10;
}

}  // namespace korvanel
