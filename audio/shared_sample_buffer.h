#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

#include "audio/audio_library.h"

namespace korvanel {

class Leveller;
class RecordingSink;
class SoundEffects;

// One decoded sample buffer that several output streams (slots) read at
// their own pace. A slot that needs more than is buffered refills it from
// the decoding stream: the new samples go to the recorder first, then
// through the leveller and the sound effects, and only whole sample frames
// become readable.
// Data every active slot has read is dropped from the front, so the slowest
// device sets the pace; a device that lags more than kMaxLagBytes behind the
// fastest skips ahead, so a stuck device cannot make the buffer grow without
// bound.
//
// Threads: fill() runs on the sound cards' threads; start(), activate() and
// stop() on the player's worker. Everything is guarded by one lock, held
// only while copying, pulling from the library (which never waits) and
// handing samples to the recorder and the effects.
// Lock order: this lock, then the leveller's, the effects' compressor lock, the recorder's
// locks and the library's; none of those ever calls back into the buffer.
class SharedSampleBuffer {
public:
    static constexpr std::size_t kMaxLagBytes = 4 * 1024 * 1024;
    static constexpr std::size_t kInitialBytes = 256 * 1024;

    SharedSampleBuffer() = default;
    SharedSampleBuffer(const SharedSampleBuffer&) = delete;
    SharedSampleBuffer& operator=(const SharedSampleBuffer&) = delete;

    // Empties the buffer for a new decoding stream read by slotCount slots,
    // none of them active yet. The stream must outlive stop().
    void start(AudioStream& decoding, int channels, int slotCount);
    // Makes a slot count for the pace (its output stream exists).
    void activate(int slot);
    // Forgets the stream; later fills give nothing. The memory is kept.
    void stop();

    // Sets where fresh samples go; either may be null.
    void setRecorder(RecordingSink* recorder) { recorder_.store(recorder); }
    void setSoundEffects(SoundEffects* effects) { effects_.store(effects); }
    void setLeveller(Leveller* leveller) { leveller_.store(leveller); }

    // The sample callback of one slot: copies up to out.size() bytes and
    // returns the count, plus audio::kSampleEnd once the decoding stream has
    // ended and this slot has read everything.
    std::uint32_t fill(int slot, std::span<std::uint8_t> out);

    // How far into the decoding stream's samples a slot has read: what its
    // sound card has been handed since start().
    std::uint64_t position(int slot) const;

    // Bytes readable and not yet dropped (tests).
    std::size_t filledBytes() const;

private:
    void refill(std::size_t slot, std::size_t wanted);  // lock held
    void dropConsumed();                                // lock held

    std::atomic<RecordingSink*> recorder_{nullptr};
    std::atomic<SoundEffects*> effects_{nullptr};
    std::atomic<Leveller*> leveller_{nullptr};

    mutable std::mutex lock_;
    AudioStream* decoding_ = nullptr;  // the channel's, alive from start() to stop()
    int channels_ = 2;
    std::size_t frameBytes_ = 4;
    std::vector<std::uint8_t> bytes_;   // capacity only grows
    std::uint64_t dropped_ = 0;         // stream bytes before bytes_[0]
    std::size_t filled_ = 0;            // processed bytes readable by the slots
    std::size_t pending_ = 0;           // raw bytes of an incomplete frame after filled_
    std::vector<std::size_t> readOffsets_;
    std::vector<bool> active_;
};

}  // namespace korvanel
