#pragma once

#include <cstddef>
#include <memory>
#include <optional>

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
// Threads: one at a time; create() allocates, the rest does not.
class LoudnessMeter {
public:
    static std::optional<LoudnessMeter> create(const LoudnessLibrary& library, int rate, int channels);

    // Interleaved float frames, full scale 1.0.
    void add(const float* frames, std::size_t count);
    // LUFS; nothing until 400 ms were added, or while everything is gated out.
    std::optional<double> momentary() const;
    std::optional<double> integrated() const;

private:
    struct Destroy {
        void (*destroy)(ebur128_state**);
        void operator()(ebur128_state* state) const { destroy(&state); }
    };
    LoudnessMeter(const LoudnessLibrary& library, ebur128_state* state)
        : library_(&library), state_(state, Destroy{library.destroy}) {}

    const LoudnessLibrary* library_;
    std::unique_ptr<ebur128_state, Destroy> state_;
};

}  // namespace korvanel
