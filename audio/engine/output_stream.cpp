#include "audio/engine/output_stream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "audio/engine/sdl_functions.h"

namespace korvanel {
namespace {

// About 10 ms per callback, as a power of two that SDL likes: what the card
// holds when Stop is pressed plays out within that.
Uint16 callbackFrames(int frequency) {
    Uint16 frames = 256;
    while (frames < 4096 && frames * 100 < frequency) {
        frames = static_cast<Uint16>(frames * 2);
    }
    return frames;
}

}  // namespace

OutputStream::OutputStream(StreamHandle handle, int device, int frequency, int channels,
                           std::uint32_t flags, SampleCallback samples, EventSink events)
    : device_(device),
      frequency_(frequency),
      channels_(channels),
      flags_(flags),
      samples_(std::move(samples)),
      events_(std::move(events)),
      callbacks_(handle) {}

OutputStream::~OutputStream() {
    if (sdlDevice_ != 0) {
        sdl_->SDL_CloseAudioDevice(sdlDevice_);
    }
}

AudioError OutputStream::open(const SdlFunctions* sdl, const std::optional<std::string>& sdlName) {
    if (sdl == nullptr) {
        return AudioError::Ok;
    }
    sdl_ = sdl;
    SDL_AudioSpec wanted{};
    wanted.freq = frequency_;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = static_cast<Uint8>(channels_);
    wanted.samples = callbackFrames(frequency_);
    wanted.callback = &OutputStream::fillTrampoline;
    wanted.userdata = this;
    SDL_AudioSpec obtained{};
    // No changes allowed: SDL converts to whatever the card wants.
    sdlDevice_ = sdl_->SDL_OpenAudioDevice(sdlName ? sdlName->c_str() : nullptr, 0, &wanted, &obtained, 0);
    return sdlDevice_ != 0 ? AudioError::Ok : AudioError::Driver;
}

bool OutputStream::play() {
    ended_.store(false);
    playing_.store(true);
    if (sdlDevice_ != 0) {
        sdl_->SDL_PauseAudioDevice(sdlDevice_, 0);
    }
    return true;
}

void OutputStream::stop() {
    playing_.store(false);
    if (sdlDevice_ != 0) {
        sdl_->SDL_PauseAudioDevice(sdlDevice_, 1);
    }
}

void OutputStream::setVolume(int volume) { volume_.store(std::clamp(volume, 0, 100)); }

void OutputStream::setDeviceVolume(int volume) { deviceVolume_.store(std::clamp(volume, 0, 100)); }

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

std::uint32_t OutputStream::level() const {
    return playing_.load() && !ended_.load() ? level_.load() : 0;
}

void OutputStream::fillTrampoline(void* self, std::uint8_t* stream, int length) {
    static_cast<OutputStream*>(self)->fill(std::span(stream, static_cast<std::size_t>(length)));
}

void OutputStream::fill(std::span<std::uint8_t> out) {
    callbackThread_.store(std::this_thread::get_id());
    if (!playing_.load() || ended_.load()) {
        std::memset(out.data(), 0, out.size());
        return;
    }
    const std::uint32_t result = samples_ ? samples_(out) : 0;
    const bool ended = (result & audio::kSampleEnd) != 0;
    std::size_t count = std::min<std::size_t>(result & ~audio::kSampleEnd, out.size());
    count -= count % 2;

    // Peak levels, then the volume, on whole 16-bit samples.
    const int scale = volume_.load() * deviceVolume_.load();  // 0..10000
    int left = 0;
    int right = 0;
    const std::size_t sampleCount = count / 2;
    for (std::size_t i = 0; i < sampleCount; ++i) {
        std::int16_t sample;
        std::memcpy(&sample, out.data() + i * 2, 2);
        const int magnitude = std::abs(static_cast<int>(sample));
        const std::size_t channel = channels_ > 1 ? i % static_cast<std::size_t>(channels_) : 0;
        if (channel == 0) {
            left = std::max(left, magnitude);
        }
        if (channel == 1 || channels_ == 1) {
            right = std::max(right, magnitude);
        }
        if (scale != 10000) {
            sample = static_cast<std::int16_t>(static_cast<int>(sample) * scale / 10000);
            std::memcpy(out.data() + i * 2, &sample, 2);
        }
    }
    level_.store(static_cast<std::uint32_t>(left) | (static_cast<std::uint32_t>(right) << 16));
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
}

}  // namespace korvanel
