#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>

#include "stream/byte_buffer.h"

namespace korvanel {

// Hands decoded samples from a sound card's thread to the recorder's
// worker: a fixed block allocated once, so pushing never allocates and the
// lock is held only for a copy. What does not fit is dropped.
//
// Threads: push() from the sound card's thread, takeAll() and clear() from
// the recorder's worker, size() from either; lock_ guards the block and the
// two positions.
class PcmQueue {
public:
    explicit PcmQueue(std::size_t capacityBytes);

    // False when (part of) the samples were dropped for lack of room.
    bool push(std::span<const std::uint8_t> samples);
    // Moves everything queued to the end of `out`.
    void takeAll(ByteBuffer& out);
    void clear();
    std::size_t size() const;

private:
    mutable std::mutex lock_;
    const std::size_t capacity_;
    std::unique_ptr<std::uint8_t[]> block_;
    std::size_t head_ = 0;  // oldest byte
    std::size_t size_ = 0;
};

}  // namespace korvanel
