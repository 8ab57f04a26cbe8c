#include "audio/true_peak_limiter.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace korvanel {
namespace {

// Below a division's cost: an index one past the end at most, wrapped.
std::size_t wrap(std::size_t index, std::size_t size) { return index >= size ? index - size : index; }

// A gain this close to 1 is 1: the release's tail ends here.
constexpr float kRecovered = 0.99999f;

}  // namespace

void TruePeakLimiter::configure(int rate, int channels, float ceiling) {
    channels_ = std::clamp(channels, 1, kMaxChannels);
    ceiling_ = ceiling;
    const double frameRate = std::max(rate, 1);
    lookAhead_ = std::max<std::size_t>(1, static_cast<std::size_t>(std::lround(frameRate * kLookAheadSeconds)));
    release_ = static_cast<float>(1.0 - std::exp(-1.0 / (frameRate * kReleaseSeconds)));

    // Hann-windowed sinc, each point's taps summing to 1.
    constexpr double half = kTaps / 2;
    interpolationBound_ = 1.0f;
    for (int phase = 1; phase < kPhases; ++phase) {
        const double fraction = static_cast<double>(phase) / kPhases;
        std::array<double, kTaps> taps{};
        double sum = 0.0;
        for (int j = 0; j < kTaps; ++j) {
            const double u = (half - 1.0) + fraction - j;
            const double sinc = std::sin(std::numbers::pi * u) / (std::numbers::pi * u);
            const double window = 0.5 * (1.0 + std::cos(std::numbers::pi * u / half));
            taps[static_cast<std::size_t>(j)] = sinc * window;
            sum += sinc * window;
        }
        double absolute = 0.0;
        for (int j = 0; j < kTaps; ++j) {
            const double tap = taps[static_cast<std::size_t>(j)] / sum;
            coefficients_[static_cast<std::size_t>(phase - 1)][static_cast<std::size_t>(j)] = static_cast<float>(tap);
            absolute += std::abs(tap);
        }
        interpolationBound_ = std::max(interpolationBound_, static_cast<float>(absolute));
    }

    historyFrames_ = std::max<std::size_t>(kTaps, delayFrames() + 1);
    history_.assign((historyFrames_ + kTaps - 1) * static_cast<std::size_t>(channels_), 0.0f);
    smoothingScale_ = 1.0 / static_cast<double>(lookAhead_);
    window_.assign(lookAhead_ + 2, Entry{0, 1.0f});
    smoothing_.assign(lookAhead_, 1.0f);
    reset();
}

void TruePeakLimiter::reset() {
    std::fill(history_.begin(), history_.end(), 0.0f);
    std::fill(smoothing_.begin(), smoothing_.end(), 1.0f);
    historyPos_ = 0;
    outPos_ = historyFrames_ - delayFrames();
    idle_ = true;
    spanPeak_ = 0.0f;
    spanFrames_ = 0;
    lastSpanPeak_ = 0.0f;
    windowHead_ = 0;
    windowSize_ = 0;
    frameIndex_ = 0;
    smoothingPos_ = 0;
    smoothingSum_ = static_cast<double>(lookAhead_);
    released_ = 1.0f;
    lastGain_ = 1.0f;
}

template <std::size_t Channels>
float TruePeakLimiter::interpolatedPeakOf(std::size_t newest, std::size_t channels) const {
    if constexpr (Channels != 0) {
        channels = Channels;
    }
    // The mirror past the end makes the taps one run of memory.
    std::size_t oldest = newest + historyFrames_ - (kTaps - 1);
    oldest = oldest >= historyFrames_ ? oldest - historyFrames_ : oldest;
    std::size_t centre = newest + historyFrames_ - interpolationDelay_;
    centre = centre >= historyFrames_ ? centre - historyFrames_ : centre;
    const float* window = history_.data() + oldest * channels;
    float peak = 0.0f;
    for (std::size_t c = 0; c < channels; ++c) {
        peak = std::max(peak, std::abs(history_[centre * channels + c]));
        for (const auto& taps : coefficients_) {
            float value = 0.0f;
#pragma GCC unroll 12
            for (std::size_t j = 0; j < kTaps; ++j) {
                value += taps[j] * window[j * channels + c];
            }
            peak = std::max(peak, std::abs(value));
        }
    }
    return peak;
}

float TruePeakLimiter::interpolatedPeak(std::size_t newest) const {
    switch (channels_) {
        case 1: return interpolatedPeakOf<1>(newest, 1);
        case 2: return interpolatedPeakOf<2>(newest, 2);
        default: return interpolatedPeakOf<0>(newest, static_cast<std::size_t>(channels_));
    }
}

float TruePeakLimiter::peakGain(std::size_t newest) const {
    const float peak = interpolatedPeak(newest);
    return peak > ceiling_ ? ceiling_ / peak : 1.0f;
}

template <std::size_t Channels>
void TruePeakLimiter::delayOnly(float* samples, std::size_t frames) {
    for (std::size_t i = 0; i < frames; ++i) {
        float* frame = samples + i * Channels;
        store<Channels>(frame, Channels);
        const float* delayed = history_.data() + outPos_ * Channels;
        for (std::size_t c = 0; c < Channels; ++c) {
            frame[c] = delayed[c];
        }
    }
    frameIndex_ += frames;
    lastGain_ = 1.0f;
}

void TruePeakLimiter::process(float* samples, std::size_t frames) {
    if (channels_ == 0) {
        return;
    }
    const auto channels = static_cast<std::size_t>(channels_);
    for (std::size_t done = 0; done < frames; done += kChunkFrames) {
        float* chunk = samples + done * channels;
        const std::size_t count = std::min(kChunkFrames, frames - done);
        float chunkPeak = 0.0f;
        for (std::size_t i = 0; i < count * channels; ++i) {
            chunkPeak = std::max(chunkPeak, std::abs(chunk[i]));
        }
        // The interpolation costs; where no point can reach the ceiling it is
        // skipped. The taps of this chunk's points reach back into the span
        // begun before it and, at most, the whole span before that, which
        // holds at least as many frames as the taps (a sound card may hand
        // over fewer at a time).
        const bool nearCeiling =
            std::max({chunkPeak, spanPeak_, lastSpanPeak_}) * interpolationBound_ > ceiling_;
        spanPeak_ = std::max(spanPeak_, chunkPeak);
        spanFrames_ += count;
        if (spanFrames_ >= kTaps) {
            lastSpanPeak_ = spanPeak_;
            spanPeak_ = 0.0f;
            spanFrames_ = 0;
        }
        // Far from the ceiling with every pending gain back at 1, only the release is left.
        const bool releasing = !nearCeiling && !idle_ && window_[windowHead_].gain == 1.0f;
        switch (channels) {
            case 1: run<1>(chunk, count, nearCeiling, releasing); break;
            case 2: run<2>(chunk, count, nearCeiling, releasing); break;
            default: limit<0>(chunk, count, nearCeiling, channels); break;
        }
    }
}

template <std::size_t Channels>
void TruePeakLimiter::run(float* samples, std::size_t frames, bool nearCeiling, bool releasing) {
    if (idle_ && !nearCeiling) {
        delayOnly<Channels>(samples, frames);
    } else if (releasing) {
        release<Channels>(samples, frames);
    } else {
        limit<Channels>(samples, frames, nearCeiling, Channels);
    }
}

template <std::size_t Channels>
void TruePeakLimiter::release(float* samples, std::size_t frames) {
    for (std::size_t i = 0; i < frames; ++i) {
        float* frame = samples + i * Channels;
        store<Channels>(frame, Channels);
        const float gain = smoothedGain(1.0f);
        if (released_ >= kRecovered && gain >= kRecovered) {
            becomeIdle();
            const float* delayed = history_.data() + outPos_ * Channels;
            std::copy_n(delayed, Channels, frame);
            lastGain_ = 1.0f;
            ++frameIndex_;
            delayOnly<Channels>(frame + Channels, frames - i - 1);
            return;
        }
        const float* delayed = history_.data() + outPos_ * Channels;
        for (std::size_t c = 0; c < Channels; ++c) {
            frame[c] = delayed[c] * gain;
        }
        lastGain_ = gain;
        ++frameIndex_;
    }
    // What the look-ahead queue would hold: the last frame's need of 1.
    window_[windowHead_] = Entry{frameIndex_ - 1, 1.0f};
    windowSize_ = 1;
}

template <std::size_t Channels>
void TruePeakLimiter::store(const float* frame, std::size_t channels) {
    if constexpr (Channels != 0) {
        channels = Channels;
    }
    historyPos_ = historyPos_ + 1 == historyFrames_ ? 0 : historyPos_ + 1;
    outPos_ = outPos_ + 1 == historyFrames_ ? 0 : outPos_ + 1;
    float* stored = history_.data() + historyPos_ * channels;
    for (std::size_t c = 0; c < channels; ++c) {
        stored[c] = frame[c];
    }
    if (historyPos_ < kTaps - 1) {
        for (std::size_t c = 0; c < channels; ++c) {
            stored[historyFrames_ * channels + c] = frame[c];
        }
    }
}

float TruePeakLimiter::smoothedGain(float least) {
    released_ = std::min(least, released_ + (1.0f - released_) * release_);
    smoothingSum_ += released_ - smoothing_[smoothingPos_];
    smoothing_[smoothingPos_] = released_;
    smoothingPos_ = smoothingPos_ + 1 == lookAhead_ ? 0 : smoothingPos_ + 1;
    // The average never exceeds what the delayed frame needs; min() only
    // guards against rounding in the running sum.
    return std::min(static_cast<float>(smoothingSum_ * smoothingScale_), least);
}

void TruePeakLimiter::becomeIdle() {
    idle_ = true;
    released_ = 1.0f;
    windowHead_ = 0;
    windowSize_ = 0;
    std::fill(smoothing_.begin(), smoothing_.end(), 1.0f);
    smoothingSum_ = static_cast<double>(lookAhead_);
}

template <std::size_t Channels>
void TruePeakLimiter::limit(float* samples, std::size_t frames, bool nearCeiling, std::size_t channels) {
    if constexpr (Channels != 0) {
        channels = Channels;
    }
    const std::size_t capacity = window_.size();

    for (std::size_t i = 0; i < frames; ++i) {
        float* frame = samples + i * channels;
        store<Channels>(frame, channels);

        float gain = 1.0f;
        if (nearCeiling || !idle_) {
            const float needed = nearCeiling ? peakGain(historyPos_) : 1.0f;
            // The least gain any frame in the look-ahead needs, oldest first.
            while (windowSize_ > 0 && window_[wrap(windowHead_ + windowSize_ - 1, capacity)].gain >= needed) {
                --windowSize_;
            }
            window_[wrap(windowHead_ + windowSize_, capacity)] = Entry{frameIndex_, needed};
            ++windowSize_;
            while (window_[windowHead_].index + lookAhead_ < frameIndex_) {
                windowHead_ = windowHead_ + 1 == capacity ? 0 : windowHead_ + 1;
                --windowSize_;
            }
            const float least = window_[windowHead_].gain;

            gain = smoothedGain(least);
            // Fully recovered, with nothing pending: the plain delay from here on.
            if (!nearCeiling && least == 1.0f && released_ >= kRecovered && gain >= kRecovered) {
                becomeIdle();
                gain = 1.0f;
            } else {
                idle_ = false;
            }
        }

        const float* delayed = history_.data() + outPos_ * channels;
        for (std::size_t c = 0; c < channels; ++c) {
            frame[c] = delayed[c] * gain;
        }
        lastGain_ = gain;
        ++frameIndex_;
    }
}

}  // namespace korvanel
