#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

#include <ebur128.h>

#include "base/shared_library.h"

namespace korvanel {

// libebur128, loaded at run time: without it the player plays on unlevelled.
class LoudnessLibrary {
public:
    // Nothing when the library or one of its calls is missing.
    static std::optional<LoudnessLibrary> open();

    ebur128_state* (*init)(unsigned int channels, unsigned long rate, int mode) = nullptr;
    void (*destroy)(ebur128_state** state) = nullptr;
    int (*setChannel)(ebur128_state* state, unsigned int index, int kind) = nullptr;
    int (*addFramesFloat)(ebur128_state* state, const float* frames, std::size_t count) = nullptr;
    int (*loudnessGlobal)(ebur128_state* state, double* lufs) = nullptr;
    int (*loudnessMomentary)(ebur128_state* state, double* lufs) = nullptr;

private:
    explicit LoudnessLibrary(SharedLibrary library) : library_(std::move(library)) {}
    SharedLibrary library_;
};

// EBU R128 loudness of one stream's samples: momentary (400 ms) and
// integrated (gated, over everything added). Integrated loudness is kept in
// a histogram, so memory stays fixed however long a station plays, and
// adding frames never allocates.
//
// From 32 kHz up only every other frame is measured: that halves the
// library's time and memory, and a plain subsample keeps the signal's power,
// its highs folding to where K-weighting gives them the same weight, so the
// loudness stays within a tenth of a LU for music.
//
// Threads: one at a time; create() allocates, the rest does not.
class LoudnessMeter {
public:
    static std::optional<LoudnessMeter> create(const LoudnessLibrary& library, int rate, int channels);

    // Interleaved float frames, full scale 1.0.
    void add(const float* frames, std::size_t count);
    // The rate the library measures at: the stream's, or half of it.
    int measuredRate() const { return rate_ / step_; }
    // LUFS; nothing until 400 ms were added, or while everything is gated out.
    std::optional<double> momentary() const;
    std::optional<double> integrated() const;

private:
    struct Destroy {
        void (*destroy)(ebur128_state**);
        void operator()(ebur128_state* state) const { destroy(&state); }
    };
    LoudnessMeter(const LoudnessLibrary& library, ebur128_state* state, int rate, int channels, int step);

    const LoudnessLibrary* library_;
    std::unique_ptr<ebur128_state, Destroy> state_;
    int rate_;
    std::size_t channels_;
    std::size_t step_;  // 1 or 2
    std::size_t phase_ = 0;  // frames to skip before the next measured one
    std::vector<float> kept_;
};

}  // namespace korvanel
