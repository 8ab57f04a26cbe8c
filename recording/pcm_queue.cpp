#include "recording/pcm_queue.h"

#include <algorithm>
#include <cstring>

namespace korvanel {

PcmQueue::PcmQueue(std::size_t capacityBytes)
    : capacity_(capacityBytes), block_(std::make_unique<std::uint8_t[]>(capacityBytes)) {}

bool PcmQueue::push(std::span<const std::uint8_t> samples) {
    std::lock_guard guard(lock_);
    // Whole 16-bit samples only, so a drop never shifts the byte order.
    const std::size_t room = (capacity_ - size_) / 2 * 2;
    const std::size_t count = std::min(samples.size(), room);
    std::size_t tail = (head_ + size_) % capacity_;
    std::size_t copied = 0;
    while (copied < count) {
        const std::size_t piece = std::min(count - copied, capacity_ - tail);
        std::memcpy(block_.get() + tail, samples.data() + copied, piece);
        copied += piece;
        tail = (tail + piece) % capacity_;
    }
    size_ += count;
    return count == samples.size();
}

void PcmQueue::takeAll(ByteBuffer& out) {
    std::lock_guard guard(lock_);
    while (size_ > 0) {
        const std::size_t piece = std::min(size_, capacity_ - head_);
        if (!out.append(block_.get() + head_, piece)) {
            break;  // out of memory: leave the rest for the next turn
        }
        head_ = (head_ + piece) % capacity_;
        size_ -= piece;
    }
}

void PcmQueue::clear() {
    std::lock_guard guard(lock_);
    head_ = 0;
    size_ = 0;
}

std::size_t PcmQueue::size() const {
    std::lock_guard guard(lock_);
    return size_;
}

}  // namespace korvanel
