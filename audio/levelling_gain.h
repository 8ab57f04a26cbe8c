#pragma once

#include <optional>

namespace korvanel {

// Decides a station's levelling gain from its loudness measurements, so that
// it follows the station's integrated loudness and never the dynamics inside
// a song. A station not heard before takes its gain from its first three
// seconds of sound; after that (and at once for a remembered station) the
// gain moves at most kSlewDbPerSecond. Blocks that R128's gates would drop
// (silence, speech pauses) change nothing.
//
// Threads: one at a time; no allocation.
class LevellingGain {
public:
    static constexpr double kMaxBoostDb = 12.0;
    static constexpr double kMaxCutDb = -20.0;
    static constexpr double kSlewDbPerSecond = 0.1;
    static constexpr double kFirstImpressionSeconds = 3.0;
    // Sound after which this session's loudness outweighs the remembered one.
    static constexpr double kTrustSeconds = 60.0;
    static constexpr double kAbsoluteGateLufs = -70.0;
    static constexpr double kRelativeGateLu = -10.0;

    LevellingGain(double targetLufs, std::optional<double> rememberedLufs);

    // One measurement after `seconds` more of the station's samples.
    void update(double seconds, std::optional<double> momentaryLufs, std::optional<double> integratedLufs);

    // A new target moves the gain by the difference at once.
    void retarget(double targetLufs);
    double targetLufs() const { return targetLufs_; }

    double gainDb() const { return gainDb_; }
    // The first gain is found (the first impression, or a remembered one).
    bool settled() const { return settled_; }
    // The station's loudness as learned so far, to remember; nothing before
    // enough sound was heard.
    std::optional<double> learnedLufs() const;
    double heardSeconds() const { return heardSeconds_; }

private:
    double gainFor(double lufs) const;

    double targetLufs_;
    std::optional<double> remembered_;
    std::optional<double> integrated_;
    double heardSeconds_ = 0.0;
    double gainDb_ = 0.0;
    bool settled_ = false;
};

}  // namespace korvanel
