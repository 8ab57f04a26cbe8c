#include "audio/shared_sample_buffer.h"

#include <algorithm>
#include <cstring>

#include "audio/leveller.h"
#include "audio/recording_sink.h"
#include "audio/sound_effects.h"

namespace korvanel {

void SharedSampleBuffer::start(AudioStream& decoding, int channels, int slotCount) {
    std::lock_guard<std::mutex> guard(lock_);
    decoding_ = &decoding;
    channels_ = std::max(channels, 1);
    frameBytes_ = static_cast<std::size_t>(channels_) * 2;
    filled_ = 0;
    pending_ = 0;
    dropped_ = 0;
    const auto slots = static_cast<std::size_t>(std::max(slotCount, 0));
    readOffsets_.assign(slots, 0);
    active_.assign(slots, false);
    if (bytes_.size() < kInitialBytes) {
        bytes_.resize(kInitialBytes);  // so the sound cards' first pulls need not allocate
    }
}

void SharedSampleBuffer::activate(int slot) {
    std::lock_guard<std::mutex> guard(lock_);
    if (slot >= 0 && static_cast<std::size_t>(slot) < active_.size()) {
        active_[static_cast<std::size_t>(slot)] = true;
    }
}

void SharedSampleBuffer::stop() {
    std::lock_guard<std::mutex> guard(lock_);
    decoding_ = nullptr;
    filled_ = 0;
    pending_ = 0;
    dropped_ = 0;
    readOffsets_.clear();
    active_.clear();
}

std::uint64_t SharedSampleBuffer::position(int slot) const {
    std::lock_guard<std::mutex> guard(lock_);
    if (slot < 0 || static_cast<std::size_t>(slot) >= readOffsets_.size()) {
        return 0;
    }
    return dropped_ + readOffsets_[static_cast<std::size_t>(slot)];
}

std::size_t SharedSampleBuffer::filledBytes() const {
    std::lock_guard<std::mutex> guard(lock_);
    return filled_;
}

std::uint32_t SharedSampleBuffer::fill(int slotNumber, std::span<std::uint8_t> out) {
    std::lock_guard<std::mutex> guard(lock_);
    if (decoding_ == nullptr || slotNumber < 0 ||
        static_cast<std::size_t>(slotNumber) >= readOffsets_.size()) {
        return 0;
    }
    const auto slot = static_cast<std::size_t>(slotNumber);
    if (readOffsets_[slot] + out.size() > filled_) {
        refill(slot, out.size());
    }
    std::size_t& offset = readOffsets_[slot];
    const std::size_t count = std::min(out.size(), filled_ - offset);
    if (count > 0) {
        std::memcpy(out.data(), bytes_.data() + offset, count);
        offset += count;
    }
    auto result = static_cast<std::uint32_t>(count);
    if (offset == filled_ && decoding_->activity() == ActiveState::Stopped) {
        result |= audio::kSampleEnd;
    }
    return result;
}

void SharedSampleBuffer::refill(std::size_t slot, std::size_t wanted) {
    // A slot that lags too far behind the one asking skips ahead.
    const std::size_t target = readOffsets_[slot] + wanted;
    if (target > kMaxLagBytes) {
        std::size_t floor = target - kMaxLagBytes;
        floor = std::min((floor + frameBytes_ - 1) / frameBytes_ * frameBytes_, filled_);
        for (std::size_t i = 0; i < readOffsets_.size(); ++i) {
            if (active_[i] && readOffsets_[i] < floor) {
                readOffsets_[i] = floor;
            }
        }
    }
    dropConsumed();

    // Ask for whole frames only, so a well-behaved library never splits one.
    const std::size_t missing = readOffsets_[slot] + wanted - filled_;
    const std::size_t end = filled_ + (missing + frameBytes_ - 1) / frameBytes_ * frameBytes_;
    if (end <= filled_ + pending_) {
        return;
    }
    if (bytes_.size() < end) {
        bytes_.resize(end);
    }
    const std::size_t start = filled_ + pending_;
    const AudioResult<std::uint32_t> given =
        decoding_->read(std::span(bytes_.data() + start, end - start));
    if (!given || *given == 0) {
        return;
    }
    const auto count = std::min(static_cast<std::size_t>(*given), end - start);
    if (RecordingSink* recorder = recorder_.load()) {
        recorder->onPcm(std::span<const std::uint8_t>(bytes_.data() + start, count));
    }
    const std::size_t available = pending_ + count;
    std::size_t whole = available / frameBytes_ * frameBytes_;
    if (Leveller* leveller = leveller_.load()) {
        whole = leveller->process(std::span(bytes_.data() + filled_, whole), channels_);
    }
    if (SoundEffects* effects = effects_.load()) {
        whole = effects->process(std::span(bytes_.data() + filled_, whole), channels_);
    }
    filled_ += whole;
    pending_ = available - whole;
}

void SharedSampleBuffer::dropConsumed() {
    std::size_t least = filled_;
    bool any = false;
    for (std::size_t i = 0; i < readOffsets_.size(); ++i) {
        if (active_[i]) {
            least = std::min(least, readOffsets_[i]);
            any = true;
        }
    }
    if (!any || least == 0) {
        return;
    }
    const std::size_t kept = filled_ + pending_ - least;
    std::memmove(bytes_.data(), bytes_.data() + least, kept);
    filled_ -= least;
    dropped_ += least;
    for (std::size_t i = 0; i < readOffsets_.size(); ++i) {
        readOffsets_[i] = readOffsets_[i] > least ? readOffsets_[i] - least : 0;
    }
}

}  // namespace korvanel
