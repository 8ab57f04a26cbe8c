#pragma once

#include <cstddef>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string_view>

namespace korvanel {

// A growable byte block {size in use, capacity, data} for downloads and
// recording. Capacity grows and shrinks in steps of kStep bytes so that
// appending chunk by chunk reallocates rarely.
//
// A failed allocation (out of memory, or above the capacity limit) makes the
// call return false and leaves size, capacity and data as they were.
// Not thread-safe: one owner at a time.
class ByteBuffer {
public:
    static constexpr std::size_t kStep = 102400;
    static constexpr std::size_t kNoLimit = std::numeric_limits<std::size_t>::max();

    ByteBuffer() = default;
    // A buffer that refuses any block larger than capacityLimitBytes.
    explicit ByteBuffer(std::size_t capacityLimitBytes) : capacityLimit_(capacityLimitBytes) {}

    ByteBuffer(ByteBuffer&& other) noexcept;
    ByteBuffer& operator=(ByteBuffer&& other) noexcept;
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;

    // Resizing to n: 0 frees the block; without a block exactly n bytes are
    // allocated; growing past the capacity, or shrinking above kStep to below
    // half the capacity, reallocates to the next multiple of kStep above n;
    // otherwise only the size changes. New bytes are not initialised.
    bool resize(std::size_t n);
    // The bytes must not lie inside this buffer (a reallocation may move it).
    bool append(const void* bytes, std::size_t count);
    bool append(std::string_view bytes) { return append(bytes.data(), bytes.size()); }
    // Drops the first count bytes (all of them when count >= size()).
    bool removeFront(std::size_t count);
    void clear() { resize(0); }

    std::size_t size() const { return size_; }
    std::size_t capacity() const { return capacity_; }
    bool empty() const { return size_ == 0; }
    char* data() { return data_.get(); }
    const char* data() const { return data_.get(); }
    std::string_view view() const { return {data_.get(), size_}; }

    std::size_t capacityLimit() const { return capacityLimit_; }
    void setCapacityLimit(std::size_t bytes) { capacityLimit_ = bytes; }

private:
    struct FreeBlock {
        void operator()(char* block) const { std::free(block); }
    };

    bool reallocate(std::size_t newCapacity);

    std::unique_ptr<char, FreeBlock> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    std::size_t capacityLimit_ = kNoLimit;
};

}  // namespace korvanel
