#include "audio/leveller.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <vector>

#include "audio/levelling_gain.h"
#include "audio/true_peak_limiter.h"
#include "base/window_event.h"
#include "base/event_sink.h"
#include "settings/settings_store.h"

namespace korvanel {
namespace {

constexpr std::size_t kBlockFrames = 1024;  // converted at a time, so process() never allocates
constexpr float kFullScale = 32768.0f;
constexpr float kScale = 1.0f / kFullScale;  // exact: a power of two

float linearOf(double decibels) { return static_cast<float>(std::pow(10.0, decibels / 20.0)); }

// Rounded to nearest, inline: a libm call per sample would cost more than the rest.
std::int16_t toSample(float value) {
    const float scaled = std::clamp(value * kFullScale, -32768.0f, 32767.0f);
    return static_cast<std::int16_t>(scaled + (scaled >= 0.0f ? 0.5f : -0.5f));
}

}  // namespace

struct Leveller::Stream {
    Stream(LoudnessMeter loudness, double targetLufs, std::optional<double> remembered)
        : meter(std::move(loudness)), gain(targetLufs, remembered) {}

    LoudnessMeter meter;
    LevellingGain gain;
    TruePeakLimiter limiter;
    std::vector<float> block;
    std::vector<std::int16_t> pcm;
    int rate = 0;
    int channels = 0;
    std::size_t updateFrames = 0;
    std::size_t framesSinceUpdate = 0;
    float appliedGain = 1.0f;
    bool paused = true;  // levelling was off for the last block, or none came yet
    bool settledTold = false;
};

Leveller::Leveller(SettingsStore& settings, std::string memoryPath, EventSink& events)
    : events_(events), library_(LoudnessLibrary::open()), memory_(std::move(memoryPath)) {
    applySettings(settings);
}

Leveller::~Leveller() = default;

void Leveller::applySettings(SettingsStore& store) {
    enabled_.store(store.getBool(kLevellingKey));
    setTargetLufs(store.contains(kTargetKey) ? store.getInt(kTargetKey) : kDefaultTargetLufs);
}

// The store holds the truth (the menu and the preferences write it), so an
// override for one run of korvanel-cli is never saved.
void Leveller::collectSettings(SettingsStore&) {}

void Leveller::setTargetLufs(int lufs) { targetLufs_.store(std::clamp(lufs, kMinTargetLufs, kMaxTargetLufs)); }

void Leveller::setStation(std::string key) { station_ = std::move(key); }

void Leveller::start(int rate, int channels) {
    stop();
    if (!library_ || rate <= 0 || channels <= 0 || channels > TruePeakLimiter::kMaxChannels) {
        return;
    }
    if (!memoryRead_) {
        memoryRead_ = true;
        if (memory_.load() == LoudnessMemory::LoadResult::Corrupt) {
            events_.post(makeEvent(EventKind::LoudnessMemoryIgnored, memory_.path()));
        }
    }
    std::optional<LoudnessMeter> meter = LoudnessMeter::create(*library_, rate, channels);
    if (!meter) {
        return;
    }
    auto stream = std::make_unique<Stream>(std::move(*meter), targetLufs_.load(), memory_.find(station_));
    stream->rate = rate;
    stream->channels = channels;
    stream->updateFrames = static_cast<std::size_t>(std::max(1.0, rate * kUpdateSeconds));
    stream->limiter.configure(rate, channels, linearOf(kCeilingDbtp - kCeilingMarginDb));
    stream->block.resize(kBlockFrames * static_cast<std::size_t>(channels));
    stream->pcm.resize(stream->block.size());
    streamStation_ = station_;
    gainDb_.store(stream->gain.gainDb());
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        stream_ = std::move(stream);
    }
}

void Leveller::stop() {
    std::unique_ptr<Stream> ended;
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        ended = std::move(stream_);
    }
    levelling_.store(false);
    settledUntold_.store(false);
    if (!ended || streamStation_.empty() || ended->gain.heardSeconds() <= 0.0) {
        return;
    }
    if (const std::optional<double> learned = ended->gain.learnedLufs()) {
        memory_.remember(streamStation_, *learned);
        memory_.save();
    }
}

std::optional<double> Leveller::gainDb() const {
    if (!levelling_.load() || !enabled_.load()) {
        return std::nullopt;
    }
    return gainDb_.load();
}

std::optional<double> Leveller::takeSettledGainDb() {
    if (!settledUntold_.exchange(false)) {
        return std::nullopt;
    }
    return gainDb_.load();
}

std::string Leveller::gainText(double decibels) {
    const double rounded = std::round(decibels * 10.0) / 10.0;
    char number[32];
    const auto written = std::to_chars(number, number + sizeof number, std::abs(rounded), std::chars_format::fixed, 1);
    const char* sign = rounded > 0.0 ? "+" : rounded < 0.0 ? "-" : "";
    return sign + std::string(number, written.ptr);
}

std::size_t Leveller::process(std::span<std::uint8_t> samples, int channels) {
    std::lock_guard<std::mutex> guard(stateLock_);
    Stream* stream = stream_.get();
    if (stream == nullptr || channels != stream->channels) {
        return samples.size() / 2 * 2;
    }
    const std::size_t frameBytes = static_cast<std::size_t>(channels) * 2;
    const std::size_t frames = samples.size() / frameBytes;
    if (!enabled_.load()) {
        // Untouched, byte for byte; on again, it starts from a clean limiter.
        stream->paused = true;
        levelling_.store(false);
        return frames * frameBytes;
    }
    if (stream->paused) {
        stream->paused = false;
        stream->limiter.reset();
        stream->appliedGain = linearOf(stream->gain.gainDb());
        levelling_.store(true);
    }
    for (std::size_t done = 0; done < frames;) {
        const std::size_t count = std::min(kBlockFrames, frames - done);
        processFrames(*stream, samples.data() + done * frameBytes, count);
        done += count;
    }
    return frames * frameBytes;
}

void Leveller::processFrames(Stream& stream, std::uint8_t* data, std::size_t frames) {
    const std::size_t count = frames * static_cast<std::size_t>(stream.channels);
    float* block = stream.block.data();
    // Through an aligned copy, so the conversions run over whole vectors.
    std::int16_t* pcm = stream.pcm.data();
    std::memcpy(pcm, data, count * sizeof *pcm);
    for (std::size_t i = 0; i < count; ++i) {
        block[i] = static_cast<float>(pcm[i]) * kScale;
    }
    stream.meter.add(block, frames);
    stream.framesSinceUpdate += frames;
    if (stream.framesSinceUpdate >= stream.updateFrames) {
        if (const int target = targetLufs_.load(); target != stream.gain.targetLufs()) {
            stream.gain.retarget(target);
        }
        stream.gain.update(static_cast<double>(stream.framesSinceUpdate) / stream.rate, stream.meter.momentary(),
                           stream.meter.integrated());
        stream.framesSinceUpdate = 0;
        gainDb_.store(stream.gain.gainDb());
        if (stream.gain.settled() && !stream.settledTold) {
            stream.settledTold = true;
            settledUntold_.store(true);
        }
    }

    // A new gain is reached across the block, so a step never clicks.
    const float from = stream.appliedGain;
    const float to = linearOf(stream.gain.gainDb());
    const auto channels = static_cast<std::size_t>(stream.channels);
    const float step = (to - from) / static_cast<float>(frames);
    if (channels == 2) {
        for (std::size_t f = 0; f < frames; ++f) {
            const float gain = from + step * static_cast<float>(f + 1);
            block[f * 2] *= gain;
            block[f * 2 + 1] *= gain;
        }
    } else {
        for (std::size_t f = 0; f < frames; ++f) {
            const float gain = from + step * static_cast<float>(f + 1);
            for (std::size_t c = 0; c < channels; ++c) {
                block[f * channels + c] *= gain;
            }
        }
    }
    stream.appliedGain = to;
    stream.limiter.process(block, frames);

    for (std::size_t i = 0; i < count; ++i) {
        pcm[i] = toSample(block[i]);
    }
    std::memcpy(data, pcm, count * sizeof *pcm);
}

}  // namespace korvanel
