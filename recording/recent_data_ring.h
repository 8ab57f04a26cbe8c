#pragma once

#include <cstddef>
#include <string_view>

#include "stream/byte_buffer.h"

namespace korvanel {

// The most recent stream data kept in memory while no file is open. Once it
// holds more than its limit, the oldest data is dropped so that at most 90 %
// of the limit remains, cut at the first unit boundary at or after that
// point (units: MPEG frames, Ogg pages). Not thread-safe.
class RecentDataRing {
public:
    // The offset of the first unit boundary at or after `from` in `data`,
    // which begins at a boundary; data.size() when there is none.
    using BoundaryFinder = std::size_t (*)(std::string_view data, std::size_t from);

    explicit RecentDataRing(BoundaryFinder finder = nullptr) : finder_(finder) {}

    // The limit is maxBufferBytes rounded down to a multiple of 524288;
    // below that nothing is kept and the memory is freed.
    void setLimit(std::size_t maxBufferBytes);
    std::size_t limit() const { return limit_; }

    // Adds whole units (nothing with a limit of 0). False when memory ran out;
    // the ring then keeps what it held.
    bool append(std::string_view units);

    std::string_view view() const { return buffer_.view(); }
    std::size_t size() const { return buffer_.size(); }
    void clear() { buffer_.clear(); }

private:
    void trim();

    BoundaryFinder finder_;
    ByteBuffer buffer_;
    std::size_t limit_ = 0;
};

}  // namespace korvanel
