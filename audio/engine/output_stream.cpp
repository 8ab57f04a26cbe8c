#include "audio/engine/output_stream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace korvanel {
namespace {

constexpr int kBlocksPerSecond = 100;

// Peak magnitudes of the first two channels of interleaved 16-bit samples;
// mono counts for both.
std::uint32_t peakLevel(std::span<const std::uint8_t> bytes, int channels) {
    int left = 0;
    int right = 0;
    const std::size_t sampleCount = bytes.size() / 2;
    for (std::size_t i = 0; i < sampleCount; ++i) {
        std::int16_t sample;
        std::memcpy(&sample, bytes.data() + i * 2, 2);
        const int magnitude = std::abs(static_cast<int>(sample));
        const std::size_t channel = channels > 1 ? i % static_cast<std::size_t>(channels) : 0;
        if (channel == 0) {
            left = std::max(left, magnitude);
        }
        if (channel == 1 || channels == 1) {
            right = std::max(right, magnitude);
        }
    }
    return static_cast<std::uint32_t>(left) | (static_cast<std::uint32_t>(right) << 16);
}

}  // namespace

OutputStream::OutputStream(int device, int frequency, int channels,
                           std::uint32_t flags, SampleCallback samples, EventSink events)
    : device_(device),
      frequency_(frequency),
      channels_(channels),
      flags_(flags),
      samples_(std::move(samples)),
      events_(std::move(events)) {}

OutputStream::~OutputStream() { playback_.reset(); }

std::string OutputStream::open(std::shared_ptr<SoundOutput> output, int outputDevice) {
    if (output == nullptr) {
        return {};
    }
    output_ = std::move(output);
    SoundOutput::Opened opened = output_->open(outputDevice, PlaybackFormat{frequency_, channels_}, *this);
    if (!opened.stream) {
        return opened.error.empty() ? std::string("the sound card would not open") : opened.error;
    }
    playback_ = std::move(opened.stream);
    outputVolume_.store(playback_->appliesVolume());
    applyGain();
    return {};
}

bool OutputStream::play() {
    ended_.store(false);
    playing_.store(true);
    if (playback_) {
        playback_->start();
    }
    return true;
}

void OutputStream::stop() {
    playing_.store(false);
    if (playback_) {
        playback_->halt();
    }
}

void OutputStream::setVolume(int volume) {
    volume_.store(std::clamp(volume, 0, 100));
    applyGain();
}

void OutputStream::setDeviceVolume(int volume) {
    deviceVolume_.store(std::clamp(volume, 0, 100));
    applyGain();
}

void OutputStream::applyGain() {
    if (playback_ && outputVolume_.load()) {
        playback_->setVolume(volume_.load() * deviceVolume_.load());
    }
}

void OutputStream::setMediaName(const std::string& name) {
    if (playback_) {
        playback_->setMediaName(name);
    }
}

ChannelInfo OutputStream::info() const {
    return ChannelInfo{static_cast<std::uint32_t>(frequency_), static_cast<std::uint32_t>(channels_),
                       flags_, audio::kChannelTypeStream};
}

ActiveState OutputStream::isActive() const {
    if (!playing_.load() || ended_.load()) {
        return ActiveState::Stopped;
    }
    return stalled_.load() ? ActiveState::Stalled : ActiveState::Playing;
}

std::uint64_t OutputStream::queuedBytes() const {
    return playback_ ? std::min(playback_->queuedBytes(), handed_.load()) : 0;
}

std::uint32_t OutputStream::level() const {
    if (!playing_.load() || ended_.load()) {
        return 0;
    }
    const std::uint64_t queued = queuedBytes();
    if (queued == 0) {
        return level_.load();  // the card plays what it was handed at once
    }
    // The oldest block that ends after what has been heard is playing now.
    const std::uint64_t heard = handed_.load() - queued;
    const std::uint64_t count = blocks_.load();
    std::uint32_t playing = 0;
    for (std::uint64_t i = count; i > 0 && count - i < kLevelHistory; --i) {
        const std::size_t slot = static_cast<std::size_t>((i - 1) % kLevelHistory);
        if (blockEnds_[slot].load() <= heard) {
            break;
        }
        playing = blockLevels_[slot].load();
    }
    return playing;
}

bool OutputStream::runsOn(std::thread::id thread) const {
    return callbackThread_.load() == thread || (playback_ && playback_->runsOn(thread));
}

std::uint32_t OutputStream::recordLevels(std::span<const std::uint8_t> out, std::size_t count) {
    const std::size_t frameBytes = static_cast<std::size_t>(channels_) * 2;
    const std::size_t blockBytes = std::max<std::size_t>(
        static_cast<std::size_t>(frequency_ / kBlocksPerSecond) * frameBytes, frameBytes);
    std::uint64_t position = handed_.load();
    std::uint64_t block = blocks_.load();
    std::uint32_t left = 0;
    std::uint32_t right = 0;
    for (std::size_t offset = 0; offset < out.size(); offset += blockBytes) {
        const std::size_t length = std::min(blockBytes, out.size() - offset);
        // Padding after the stream's samples is silence.
        const std::size_t real = offset < count ? std::min(length, count - offset) : 0;
        position += length;
        const std::size_t slot = static_cast<std::size_t>(block % kLevelHistory);
        const std::uint32_t level = peakLevel(out.subspan(offset, real), channels_);
        left = std::max(left, level & 0xFFFF);
        right = std::max(right, level >> 16);
        blockLevels_[slot].store(level);
        blockEnds_[slot].store(position);
        ++block;
    }
    blocks_.store(block);
    handed_.store(position);
    return left | (right << 16);
}

PlaybackSource::Filled OutputStream::fill(std::span<std::uint8_t> out) {
    callbackThread_.store(std::this_thread::get_id());
    if (!playing_.load() || ended_.load()) {
        std::memset(out.data(), 0, out.size());
        return {0, ended_.load()};
    }
    const std::uint32_t result = samples_ ? samples_(out) : 0;
    const bool ended = (result & audio::kSampleEnd) != 0;
    std::size_t count = std::min<std::size_t>(result & ~audio::kSampleEnd, out.size());
    count -= count % 2;

    level_.store(recordLevels(out, count));
    // The volume on whole 16-bit samples, where the output leaves it to us.
    const int scale = outputVolume_.load() ? 10000 : volume_.load() * deviceVolume_.load();  // 0..10000
    if (scale != 10000) {
        for (std::size_t i = 0; i < count / 2; ++i) {
            std::int16_t sample;
            std::memcpy(&sample, out.data() + i * 2, 2);
            sample = static_cast<std::int16_t>(static_cast<int>(sample) * scale / 10000);
            std::memcpy(out.data() + i * 2, &sample, 2);
        }
    }
    std::memset(out.data() + count, 0, out.size() - count);

    if (ended) {
        ended_.store(true);
        level_.store(0);
        events_(Event::Ended);
    } else if (count == 0) {
        if (!stalled_.exchange(true)) {
            events_(Event::Stalled);
        }
    } else if (stalled_.exchange(false)) {
        events_(Event::Resumed);
    }
    return {count, ended};
}

void OutputStream::lost() {
    if (!ended_.exchange(true)) {
        level_.store(0);
        events_(Event::Ended);
    }
}

}  // namespace korvanel
