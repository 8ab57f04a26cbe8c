#include "audio/levelling_gain.h"

#include <algorithm>

namespace korvanel {

LevellingGain::LevellingGain(double targetLufs, std::optional<double> rememberedLufs)
    : targetLufs_(targetLufs), remembered_(rememberedLufs) {
    if (remembered_) {
        gainDb_ = gainFor(*remembered_);
        settled_ = true;
    }
}

double LevellingGain::gainFor(double lufs) const {
    return std::clamp(targetLufs_ - lufs, kMaxCutDb, kMaxBoostDb);
}

void LevellingGain::retarget(double targetLufs) {
    gainDb_ = std::clamp(gainDb_ + targetLufs - targetLufs_, kMaxCutDb, kMaxBoostDb);
    targetLufs_ = targetLufs;
}

std::optional<double> LevellingGain::learnedLufs() const {
    if (!integrated_ || heardSeconds_ < kFirstImpressionSeconds) {
        return remembered_;
    }
    if (!remembered_) {
        return integrated_;
    }
    const double weight = std::min(heardSeconds_ / kTrustSeconds, 1.0);
    return *remembered_ + (*integrated_ - *remembered_) * weight;
}

void LevellingGain::update(double seconds, std::optional<double> momentaryLufs,
                           std::optional<double> integratedLufs) {
    if (!momentaryLufs || *momentaryLufs < kAbsoluteGateLufs) {
        return;
    }
    if (integratedLufs && *momentaryLufs < *integratedLufs + kRelativeGateLu) {
        return;
    }
    heardSeconds_ += seconds;
    if (integratedLufs) {
        integrated_ = integratedLufs;
    }
    const std::optional<double> lufs = learnedLufs();
    if (!lufs) {
        // The first impression forms: follow what was heard so far.
        if (integrated_ && !remembered_) {
            gainDb_ = gainFor(*integrated_);
        }
        return;
    }
    const double wanted = gainFor(*lufs);
    if (!settled_) {
        gainDb_ = wanted;
        settled_ = true;
        return;
    }
    const double step = kSlewDbPerSecond * seconds;
    gainDb_ = std::clamp(wanted, gainDb_ - step, gainDb_ + step);
}

}  // namespace korvanel
