#include "audio/sound_effects.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "settings/settings_store.h"

namespace korvanel {
namespace {

// Peaks are bent along a sine up to two fifths of pi, so the output never
// exceeds sin(0.4 pi) ~ 0.951 of full scale.
constexpr double kPhaseLimit = 1.2566370614359172;
constexpr double kGainStep = 0.00002;    // growth per sample while not cutting
constexpr std::int64_t kCutHoldMs = 50;  // no growth this soon after a cut
constexpr int kMaxOvers = 10;            // clipped samples tolerated before a cut
constexpr double kFullScale = 32768.0;

std::int64_t steadyMilliseconds() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::int16_t sampleAt(const std::uint8_t* data, std::size_t index) {
    std::int16_t value;
    std::memcpy(&value, data + index * 2, sizeof value);
    return value;
}

void storeSample(std::uint8_t* data, std::size_t index, std::int16_t value) {
    std::memcpy(data + index * 2, &value, sizeof value);
}

// Truncated toward zero, then wrapped to 16 bits as a C cast would.
std::int16_t toSample(double value) {
    const auto whole = static_cast<std::int32_t>(std::clamp(value, -2147483648.0, 2147483647.0));
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(whole));
}

}  // namespace

SoundEffects::SoundEffects(SettingsStore& settings) : SoundEffects(settings, steadyMilliseconds) {}

SoundEffects::SoundEffects(SettingsStore& settings, Clock clock)
    : settings_(settings), clock_(std::move(clock)) {
    applySettings(settings_);
}

SoundEffects::~SoundEffects() { collectSettings(settings_); }

void SoundEffects::applySettings(SettingsStore& store) {
    compressorOn_.store(store.getBool(kCompressorKey));
    swapOn_.store(store.getBool(kSwapKey));
    const double factor = separationOfStep(store.getInt(kSeparationKey));
    if (factor >= 0.0) {
        separation_.store(factor);
    }
}

void SoundEffects::collectSettings(SettingsStore& store) {
    store.setBool(kCompressorKey, compressorOn_.load());
    store.setBool(kSwapKey, swapOn_.load());
    store.setInt(kSeparationKey, stepOfSeparation(separation_.load()));
}

void SoundEffects::setCompressor(bool on) {
    std::lock_guard<std::mutex> guard(compressorLock_);
    compressorOn_.store(on);
    gain_ = 1.0;
    lastCut_ = 0;
    overCount_ = 0;
}

void SoundEffects::setSeparation(double factor) {
    if (std::isnan(factor)) {
        return;
    }
    separation_.store(std::clamp(factor, 0.0, 1.0));
}

double SoundEffects::separationOfStep(int step) {
    switch (step) {
        case 0: return 1.0;
        case 1: return 0.75;
        case 2: return 0.5;
        case 3: return 0.25;
        case 4: return 0.0;
        default: return -1.0;
    }
}

int SoundEffects::stepOfSeparation(double factor) {
    if (factor < 0.25) {
        return 4;
    }
    if (factor < 0.5) {
        return 3;
    }
    if (factor < 0.75) {
        return 2;
    }
    if (factor < 1.0) {
        return 1;
    }
    return 0;
}

std::size_t SoundEffects::process(std::span<std::uint8_t> samples, int channels) {
    const std::size_t count = samples.size() / 2;
    if (compressorOn_.load()) {
        compress(samples, count);
    }
    if (channels != 2) {
        return count * 2;
    }
    std::uint8_t* data = samples.data();
    const std::size_t pairs = count / 2;
    if (swapOn_.load()) {
        for (std::size_t i = 0; i < pairs; ++i) {
            const std::int16_t left = sampleAt(data, 2 * i);
            storeSample(data, 2 * i, sampleAt(data, 2 * i + 1));
            storeSample(data, 2 * i + 1, left);
        }
    }
    const double factor = separation_.load();
    if (factor < 1.0) {
        for (std::size_t i = 0; i < pairs; ++i) {
            const double left = sampleAt(data, 2 * i);
            const double right = sampleAt(data, 2 * i + 1);
            // The right side mixes the already mixed left sample.
            const std::int16_t mixedLeft = toSample(factor * left + (1.0 - factor) * right);
            const std::int16_t mixedRight = toSample((1.0 - factor) * mixedLeft + factor * right);
            storeSample(data, 2 * i, mixedLeft);
            storeSample(data, 2 * i + 1, mixedRight);
        }
    }
    return count * 2;
}

void SoundEffects::compress(std::span<std::uint8_t> samples, std::size_t count) {
    std::lock_guard<std::mutex> guard(compressorLock_);
    const std::int64_t now = clock_();
    const bool growing = now - lastCut_ > kCutHoldMs;
    std::uint8_t* data = samples.data();
    for (std::size_t i = 0; i < count; ++i) {
        if (growing) {
            gain_ += kGainStep;
        }
        const double x = sampleAt(data, i) / kFullScale;
        double phase = gain_ * x * kPhaseLimit;
        if (phase > kPhaseLimit) {
            phase = kPhaseLimit;
            if (++overCount_ > kMaxOvers) {
                gain_ = 1.0 / x;  // the clipping sample lands exactly at the limit
                overCount_ = 0;
                lastCut_ = now;
            }
        } else if (phase < -kPhaseLimit) {
            phase = -kPhaseLimit;
            if (++overCount_ > kMaxOvers) {
                gain_ = -1.0 / x;
                overCount_ = 0;
                lastCut_ = now;
            }
        }
        storeSample(data, i, toSample(std::sin(phase) * kFullScale));
    }
}

}  // namespace korvanel
