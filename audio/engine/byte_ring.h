#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

namespace korvanel {

// A bounded first-in first-out byte queue between one writer thread and its
// readers. The writer waits while the ring is full; readers choose between
// read() (never waits, for audio callbacks) and readWait(). The lock is held
// only to copy bytes.
class ByteRing {
public:
    // Result of readWait() besides a byte count.
    static constexpr long kTimedOut = 0;
    static constexpr long kEnded = -1;
    static constexpr long kCancelled = -2;

    explicit ByteRing(std::size_t capacity);
    ByteRing(const ByteRing&) = delete;
    ByteRing& operator=(const ByteRing&) = delete;

    // Appends all of data, waiting for room; false once cancelled.
    bool write(std::span<const std::uint8_t> data);
    // The writer is done: readers get kEnded after the last byte.
    void finish();
    // Wakes every waiter; later writes fail and waiting reads give kCancelled.
    void cancel();

    // Takes up to buffer.size() bytes without waiting.
    std::size_t read(std::span<std::uint8_t> buffer);
    // Takes at least one byte, waiting up to the time-out: the count, or
    // kTimedOut, kEnded (finished and drained) or kCancelled.
    long readWait(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout);
    // Waits until at least `bytes` are queued or the writer finished.
    bool waitForLevel(std::size_t bytes, std::chrono::steady_clock::time_point deadline);

    std::size_t size() const;
    std::size_t capacity() const { return storage_.size(); }
    bool finished() const;
    // Finished and nothing left to read.
    bool drained() const;

private:
    std::size_t takeLocked(std::span<std::uint8_t> buffer);

    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::uint8_t> storage_;
    std::size_t head_ = 0;  // first queued byte
    std::size_t size_ = 0;
    bool finished_ = false;
    bool cancelled_ = false;
};

}  // namespace korvanel
