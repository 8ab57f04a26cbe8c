#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>

#include "audio/audio_library.h"
#include "audio/engine/byte_ring.h"

namespace korvanel {

// The ring of a stream's decoded samples and how it plays out: sized from
// the format and the buffer length when the first samples come, filled by
// the decoder thread and emptied by read() without waiting. Running dry is
// a stall, refilled to the resume level a resume, drained after the end
// the end; each is handed to the event sink from read()'s thread.
//
// Threads: create, write and finish on the decoder thread; read by one
// listener at a time (dataLock_ guards stalled_'s changes and endReported_);
// state, position and cancel from any thread. ringLock_ guards ring_ while
// it is made; it is fixed afterwards. Lock order: dataLock_, then
// ringLock_, then the ring's own lock.
class SamplePlayout {
public:
    using EventSink = std::function<void(std::uint32_t syncType, std::uint32_t data)>;

    // The sink must only post the events elsewhere.
    SamplePlayout(std::uint32_t bufferMs, EventSink events);

    // Makes the ring for the first samples; false when it exists already.
    // A stream cancelled meanwhile gets a cancelled ring.
    bool create(int sampleRate, int channels, bool cancelled);
    // False once cancelled.
    bool write(std::span<const std::uint8_t> samples);
    void finish();
    void cancel();

    // Whole sample frames, never waiting; 0 while none are ready (or while
    // refilling after a stall), -1 once ended and drained. Only once the
    // ring exists.
    std::int32_t read(std::span<std::uint8_t> buffer);
    ActiveState state() const;
    std::size_t frameBytes() const { return frameBytes_; }
    std::int64_t position() const { return position_.load(std::memory_order_relaxed); }

private:
    ByteRing* ring() const;

    const std::uint32_t bufferMs_;
    const EventSink events_;
    mutable std::mutex ringLock_;
    std::unique_ptr<ByteRing> ring_;
    // Set with the ring, before the stream is reported ready.
    std::size_t frameBytes_ = 4;
    std::size_t resumeLevel_ = 0;

    std::mutex dataLock_;
    std::atomic<bool> stalled_{false};
    bool endReported_ = false;
    std::atomic<std::int64_t> position_{0};
};

}  // namespace korvanel
