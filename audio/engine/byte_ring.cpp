#include "audio/engine/byte_ring.h"

#include <algorithm>
#include <cstring>

namespace korvanel {

ByteRing::ByteRing(std::size_t capacity) : storage_(std::max<std::size_t>(capacity, 1)) {}

bool ByteRing::write(std::span<const std::uint8_t> data) {
    std::unique_lock<std::mutex> lock(lock_);
    while (!data.empty()) {
        changed_.wait(lock, [&] { return cancelled_ || size_ < storage_.size(); });
        if (cancelled_) {
            return false;
        }
        const std::size_t tail = (head_ + size_) % storage_.size();
        const std::size_t room = storage_.size() - size_;
        const std::size_t count = std::min({data.size(), room, storage_.size() - tail});
        std::memcpy(storage_.data() + tail, data.data(), count);
        size_ += count;
        data = data.subspan(count);
        changed_.notify_all();
    }
    return true;
}

void ByteRing::finish() {
    std::lock_guard<std::mutex> guard(lock_);
    finished_ = true;
    changed_.notify_all();
}

void ByteRing::cancel() {
    std::lock_guard<std::mutex> guard(lock_);
    cancelled_ = true;
    changed_.notify_all();
}

std::size_t ByteRing::takeLocked(std::span<std::uint8_t> buffer) {
    std::size_t taken = 0;
    while (taken < buffer.size() && size_ > 0) {
        const std::size_t count =
            std::min({buffer.size() - taken, size_, storage_.size() - head_});
        std::memcpy(buffer.data() + taken, storage_.data() + head_, count);
        head_ = (head_ + count) % storage_.size();
        size_ -= count;
        taken += count;
    }
    if (taken > 0) {
        changed_.notify_all();
    }
    return taken;
}

std::size_t ByteRing::read(std::span<std::uint8_t> buffer) {
    std::lock_guard<std::mutex> guard(lock_);
    return takeLocked(buffer);
}

long ByteRing::readWait(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(lock_);
    const bool ready = changed_.wait_for(lock, timeout, [&] {
        return cancelled_ || size_ > 0 || finished_;
    });
    if (cancelled_) {
        return kCancelled;
    }
    if (!ready) {
        return kTimedOut;
    }
    if (size_ == 0) {
        return kEnded;
    }
    return static_cast<long>(takeLocked(buffer));
}

bool ByteRing::waitForLevel(std::size_t bytes, std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(lock_);
    return changed_.wait_until(lock, deadline, [&] {
        return cancelled_ || finished_ || size_ >= std::min(bytes, storage_.size());
    }) && !cancelled_;
}

std::size_t ByteRing::size() const {
    std::lock_guard<std::mutex> guard(lock_);
    return size_;
}

bool ByteRing::finished() const {
    std::lock_guard<std::mutex> guard(lock_);
    return finished_;
}

bool ByteRing::drained() const {
    std::lock_guard<std::mutex> guard(lock_);
    return finished_ && size_ == 0;
}

}  // namespace korvanel
