#pragma once

#include <array>
#include <cstddef>
#include <vector>

namespace korvanel {

// Keeps interleaved float samples below a true-peak ceiling: the peak is
// estimated at four times the sample rate (the samples and three points
// interpolated between each pair), and the gain comes down over a short
// look-ahead before a peak, so nothing clips and nothing is bent. It acts on
// peaks only: after one the gain is back within a few tenths of a second.
// The output is the input delayed by delayFrames().
//
// Threads: one at a time; configure() allocates, process() does not.
class TruePeakLimiter {
public:
    static constexpr int kMaxChannels = 8;
    static constexpr double kLookAheadSeconds = 0.004;
    static constexpr double kReleaseSeconds = 0.05;
    static constexpr int kTaps = 12;    // per interpolated point
    static constexpr int kPhases = 4;  // the oversampling factor

    // ceiling: the highest true peak let through, as a linear amplitude.
    void configure(int rate, int channels, float ceiling);
    // Forgets the signal: the next frames out are silence for the delay.
    void reset();

    // In place, `frames` whole frames.
    void process(float* samples, std::size_t frames);

    std::size_t delayFrames() const { return interpolationDelay_ + lookAhead_; }
    // The gain applied to the last frame out; 1 when not limiting.
    float gain() const { return lastGain_; }

private:
    // Frames judged near the ceiling or not together; more than kTaps.
    static constexpr std::size_t kChunkFrames = 64;
    static_assert(kChunkFrames >= kTaps);

    // An idle block far from the ceiling: the plain delay, without the gain's bookkeeping.
    template <std::size_t Channels>
    void delayOnly(float* samples, std::size_t frames);
    template <std::size_t Channels>
    void run(float* samples, std::size_t frames, bool nearCeiling, bool releasing);
    // The gain on its way back to 1, nothing new to limit.
    template <std::size_t Channels>
    void release(float* samples, std::size_t frames);
    // Takes the next frame into the history, and moves the output on;
    // Channels 0: any count, given at run time.
    template <std::size_t Channels>
    void store(const float* frame, std::size_t channels);
    // Releases towards `least` and averages over the look-ahead.
    float smoothedGain(float least);
    void becomeIdle();
    // Channels 0: any count, given at run time.
    template <std::size_t Channels>
    void limit(float* samples, std::size_t frames, bool nearCeiling, std::size_t channels);
    float peakGain(std::size_t newest) const;
    float interpolatedPeak(std::size_t newest) const;
    // Channels 0: any count, given at run time.
    template <std::size_t Channels>
    float interpolatedPeakOf(std::size_t newest, std::size_t channels) const;

    int channels_ = 0;
    float ceiling_ = 1.0f;
    float release_ = 0.0f;
    std::size_t lookAhead_ = 1;
    std::size_t interpolationDelay_ = kTaps / 2 - 1;
    // Worst gain of the interpolation, to skip it where no peak can be near.
    float interpolationBound_ = 1.0f;
    std::array<std::array<float, kTaps>, kPhases - 1> coefficients_{};

    // Input frames, newest at historyPos_; long enough for the delay and the
    // taps. The first kTaps - 1 frames are repeated past the end.
    std::vector<float> history_;
    std::size_t historyFrames_ = 0;
    std::size_t historyPos_ = 0;
    std::size_t outPos_ = 0;  // the frame that leaves next, delayFrames() behind
    bool idle_ = true;        // gain 1 with no peak in the look-ahead
    // Peaks of the frames since the last span closed, and of that span.
    float spanPeak_ = 0.0f;
    std::size_t spanFrames_ = 0;
    float lastSpanPeak_ = 0.0f;

    // Required gains of the look-ahead window, as a monotonic queue.
    struct Entry {
        std::size_t index;
        float gain;
    };
    std::vector<Entry> window_;
    std::size_t windowHead_ = 0;
    std::size_t windowSize_ = 0;
    std::size_t frameIndex_ = 0;

    // The released gain of the last lookAhead_ frames, averaged.
    std::vector<float> smoothing_;
    std::size_t smoothingPos_ = 0;
    double smoothingSum_ = 0.0;
    double smoothingScale_ = 1.0;  // 1 / lookAhead_
    float released_ = 1.0f;
    float lastGain_ = 1.0f;
};

}  // namespace korvanel
