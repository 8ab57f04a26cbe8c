#include "audio/loudness_meter.h"

#include <cmath>

namespace korvanel {
namespace {

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
    ebur128_state* state = library.init(static_cast<unsigned>(channels), static_cast<unsigned long>(rate),
                                        EBUR128_MODE_I | EBUR128_MODE_HISTOGRAM);
    if (state == nullptr) {
        return std::nullopt;
    }
    LoudnessMeter meter(library, state);
    if (channels == 1) {
        // A mono station is heard from both speakers, as R128 counts it.
        library.setChannel(state, 0, EBUR128_DUAL_MONO);
    }
    return meter;
}

void LoudnessMeter::add(const float* frames, std::size_t count) {
    library_->addFramesFloat(state_.get(), frames, count);
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
