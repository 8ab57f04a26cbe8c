#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>

#include "settings/settings_listener.h"

namespace korvanel {

class SettingsStore;

// Processes decoded samples in place before they reach the sound cards: a
// compressor (a sine-shaped soft limiter with automatic gain), a left/right
// swap and a stereo-separation mix. Recordings never pass through it.
//
// Threads: process() runs on the sound cards' threads (one at a time, under
// the output channel's buffer lock); the settings operations and the setters
// run on the window thread. The switches are atomic; the compressor state is
// locked for one block at a time and never across I/O.
class SoundEffects final : public SettingsListener {
public:
    static constexpr const char* kCompressorKey = "Sound/Compressor";
    static constexpr const char* kSwapKey = "Sound/SwapChannels";
    static constexpr const char* kSeparationKey = "Sound/StereoSeparation";

    // Milliseconds on a steady clock; injectable for tests.
    using Clock = std::function<std::int64_t()>;

    // Reads the settings once; the destructor writes them back once.
    explicit SoundEffects(SettingsStore& settings);
    SoundEffects(SettingsStore& settings, Clock clock);
    ~SoundEffects() override;

    SoundEffects(const SoundEffects&) = delete;
    SoundEffects& operator=(const SoundEffects&) = delete;

    void applySettings(SettingsStore& store) override;
    void collectSettings(SettingsStore& store) override;

    // Switches the compressor and starts it over at gain 1.
    void setCompressor(bool on);
    bool compressorOn() const { return compressorOn_.load(); }
    void setSwapChannels(bool on) { swapOn_.store(on); }
    bool swapChannels() const { return swapOn_.load(); }
    // 1.0 full stereo .. 0.0 both channels the right one; clamped to 0..1.
    void setSeparation(double factor);
    double separation() const { return separation_.load(); }

    // Interleaved signed 16-bit samples in native byte order, any alignment.
    // Compressor over every sample; swap and separation only when channels
    // is 2, since they work on left/right pairs. Returns the byte count
    // rounded down to whole samples (an odd last byte is left alone).
    std::size_t process(std::span<std::uint8_t> samples, int channels);

    // The separation factor of a "Sound/StereoSeparation" step, or a
    // negative value for a step outside 0..4.
    static double separationOfStep(int step);
    static int stepOfSeparation(double factor);

private:
    void compress(std::span<std::uint8_t> samples, std::size_t count);

    SettingsStore& settings_;
    const Clock clock_;
    std::atomic<bool> compressorOn_{false};
    std::atomic<bool> swapOn_{false};
    std::atomic<double> separation_{1.0};

    std::mutex compressorLock_;
    double gain_ = 0.0;  // 0 at start, so a compressor on from the settings fades in
    int overCount_ = 0;
    std::int64_t lastCut_ = 0;
};

}  // namespace korvanel
