#include "stream/byte_buffer.h"

#include <cstring>
#include <utility>

namespace korvanel {

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : data_(std::move(other.data_)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)),
      capacityLimit_(other.capacityLimit_) {}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
    if (this != &other) {
        data_ = std::move(other.data_);
        size_ = std::exchange(other.size_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
        capacityLimit_ = other.capacityLimit_;
    }
    return *this;
}

bool ByteBuffer::resize(std::size_t n) {
    if (n == 0) {
        data_.reset();
        size_ = 0;
        capacity_ = 0;
        return true;
    }
    if (!data_) {
        if (!reallocate(n)) {
            return false;
        }
    } else if (n > capacity_ || (n > kStep && n < capacity_ / 2)) {
        if (n / kStep >= kNoLimit / kStep - 1) {
            return false;  // the rounded size would overflow
        }
        if (!reallocate((n / kStep + 1) * kStep)) {
            return false;
        }
    }
    size_ = n;
    return true;
}

bool ByteBuffer::reallocate(std::size_t newCapacity) {
    if (newCapacity > capacityLimit_) {
        return false;
    }
    // realloc keeps the old block when it fails, which is what callers rely on.
    void* block = std::realloc(data_.get(), newCapacity);
    if (block == nullptr) {
        return false;
    }
    (void)data_.release();
    data_.reset(static_cast<char*>(block));
    capacity_ = newCapacity;
    return true;
}

bool ByteBuffer::append(const void* bytes, std::size_t count) {
    if (count == 0) {
        return true;
    }
    const std::size_t oldSize = size_;
    if (count > kNoLimit - oldSize || !resize(oldSize + count)) {
        return false;
    }
    std::memcpy(data_.get() + oldSize, bytes, count);
    return true;
}

bool ByteBuffer::removeFront(std::size_t count) {
    if (count >= size_) {
        return resize(0);
    }
    const std::size_t rest = size_ - count;
    if (count > 0) {
        std::memmove(data_.get(), data_.get() + count, rest);
    }
    // A failed shrink keeps the bigger block; the bytes are already in place.
    if (!resize(rest)) {
        size_ = rest;
    }
    return true;
}

}  // namespace korvanel
