#include "audio/engine/sample_playout.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace korvanel {

SamplePlayout::SamplePlayout(std::uint32_t bufferMs, EventSink events)
    : bufferMs_(bufferMs), events_(std::move(events)) {}

bool SamplePlayout::create(int sampleRate, int channels, bool cancelled) {
    std::lock_guard<std::mutex> guard(ringLock_);
    if (ring_) {
        return false;
    }
    frameBytes_ = static_cast<std::size_t>(channels) * 2;
    const std::size_t bytesPerSecond = static_cast<std::size_t>(sampleRate) * frameBytes_;
    std::size_t capacity = bytesPerSecond * bufferMs_ / 1000;
    capacity = std::max<std::size_t>(capacity - capacity % frameBytes_, frameBytes_ * 4096);
    resumeLevel_ = std::min(capacity / 2, bytesPerSecond);
    ring_ = std::make_unique<ByteRing>(capacity);
    if (cancelled) {
        ring_->cancel();
    }
    return true;
}

ByteRing* SamplePlayout::ring() const {
    std::lock_guard<std::mutex> guard(ringLock_);
    return ring_.get();
}

bool SamplePlayout::write(std::span<const std::uint8_t> samples) {
    ByteRing* samplesRing = ring();
    return samplesRing != nullptr && samplesRing->write(samples);
}

void SamplePlayout::finish() {
    std::lock_guard<std::mutex> guard(ringLock_);
    if (ring_) {
        ring_->finish();
    }
}

void SamplePlayout::cancel() {
    std::lock_guard<std::mutex> guard(ringLock_);
    if (ring_) {
        ring_->cancel();
    }
}

std::int32_t SamplePlayout::read(std::span<std::uint8_t> buffer) {
    std::lock_guard<std::mutex> guard(dataLock_);
    ByteRing* samples = ring();
    if (samples == nullptr) {
        return 0;
    }
    if (stalled_) {
        if (!samples->finished() && samples->size() < resumeLevel_) {
            return 0;
        }
        stalled_ = false;
        events_(audio::kSyncStall, audio::kResumeData);
    }
    const std::size_t wanted = std::min<std::size_t>(buffer.size() - buffer.size() % frameBytes_,
                                                     static_cast<std::size_t>(INT32_MAX) / 2);
    const std::size_t count = samples->read(buffer.first(wanted));
    if (count == 0 && wanted > 0) {
        if (samples->drained()) {
            if (!endReported_) {
                endReported_ = true;
                events_(audio::kSyncEnd, 0);
            }
            return -1;  // ended and drained
        }
        stalled_ = true;
        events_(audio::kSyncStall, audio::kStallData);
        return 0;
    }
    position_.fetch_add(static_cast<std::int64_t>(count), std::memory_order_relaxed);
    if (!endReported_ && samples->drained()) {
        endReported_ = true;  // the last samples went out with this call
        events_(audio::kSyncEnd, 0);
    }
    return static_cast<std::int32_t>(count);
}

ActiveState SamplePlayout::state() const {
    std::lock_guard<std::mutex> guard(ringLock_);
    if (!ring_) {
        return ActiveState::Playing;
    }
    if (ring_->drained()) {
        return ActiveState::Stopped;
    }
    return stalled_.load() ? ActiveState::Stalled : ActiveState::Playing;
}

}  // namespace korvanel
