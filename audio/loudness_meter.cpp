#include "audio/loudness_meter.h"

#include <algorithm>
#include <cmath>

namespace korvanel {
namespace {

// Below this a halved rate would put K-weighting's shelf near the top of the band.
constexpr int kLowestHalvedRate = 32000;
constexpr std::size_t kKeptFrames = 512;  // measured at a time

std::optional<double> finite(int status, double lufs) {
    if (status != EBUR128_SUCCESS || !std::isfinite(lufs)) {
        return std::nullopt;
    }
    return lufs;
}

}  // namespace

std::optional<LoudnessLibrary> LoudnessLibrary::open() {
    std::optional<SharedLibrary> library = SharedLibrary::open("libebur128.so.1");
    if (!library) {
        return std::nullopt;
    }
    LoudnessLibrary calls(std::move(*library));
    const SharedLibrary& found = calls.library_;
    if (!found.resolve("ebur128_init", calls.init) || !found.resolve("ebur128_destroy", calls.destroy) ||
        !found.resolve("ebur128_set_channel", calls.setChannel) ||
        !found.resolve("ebur128_add_frames_float", calls.addFramesFloat) ||
        !found.resolve("ebur128_loudness_global", calls.loudnessGlobal) ||
        !found.resolve("ebur128_loudness_momentary", calls.loudnessMomentary)) {
        return std::nullopt;
    }
    return calls;
}

std::optional<LoudnessMeter> LoudnessMeter::create(const LoudnessLibrary& library, int rate, int channels) {
    if (rate <= 0 || channels <= 0) {
        return std::nullopt;
    }
    const int step = rate >= kLowestHalvedRate ? 2 : 1;
    ebur128_state* state = library.init(static_cast<unsigned>(channels), static_cast<unsigned long>(rate / step),
                                        EBUR128_MODE_I | EBUR128_MODE_HISTOGRAM);
    if (state == nullptr) {
        return std::nullopt;
    }
    LoudnessMeter meter(library, state, rate, channels, step);
    if (channels == 1) {
        // A mono station is heard from both speakers, as R128 counts it.
        library.setChannel(state, 0, EBUR128_DUAL_MONO);
    }
    return meter;
}

LoudnessMeter::LoudnessMeter(const LoudnessLibrary& library, ebur128_state* state, int rate, int channels, int step)
    : library_(&library),
      state_(state, Destroy{library.destroy}),
      rate_(rate),
      channels_(static_cast<std::size_t>(channels)),
      step_(static_cast<std::size_t>(step)) {
    if (step_ > 1) {
        kept_.resize(kKeptFrames * channels_);
    }
}

void LoudnessMeter::add(const float* frames, std::size_t count) {
    if (step_ == 1) {
        library_->addFramesFloat(state_.get(), frames, count);
        return;
    }
    // The phase carries over, so blocks of odd length keep every other frame.
    std::size_t next = phase_;
    while (next < count) {
        std::size_t kept = 0;
        float* to = kept_.data();
        // Stereo and mono by name: a copy call per frame would cost more than the measuring saves.
        if (channels_ == 2) {
            for (; kept < kKeptFrames && next < count; ++kept, next += 2) {
                to[kept * 2] = frames[next * 2];
                to[kept * 2 + 1] = frames[next * 2 + 1];
            }
        } else if (channels_ == 1) {
            for (; kept < kKeptFrames && next < count; ++kept, next += 2) {
                to[kept] = frames[next];
            }
        } else {
            for (; kept < kKeptFrames && next < count; ++kept, next += 2) {
                std::copy_n(frames + next * channels_, channels_, to + kept * channels_);
            }
        }
        library_->addFramesFloat(state_.get(), kept_.data(), kept);
    }
    phase_ = next - count;
}

std::optional<double> LoudnessMeter::momentary() const {
    double lufs = 0.0;
    const int status = library_->loudnessMomentary(state_.get(), &lufs);
    return finite(status, lufs);
}

std::optional<double> LoudnessMeter::integrated() const {
    double lufs = 0.0;
    const int status = library_->loudnessGlobal(state_.get(), &lufs);
    return finite(status, lufs);
}

}  // namespace korvanel
