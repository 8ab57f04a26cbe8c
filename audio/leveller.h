#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "audio/loudness_memory.h"
#include "audio/loudness_meter.h"
#include "settings/settings_listener.h"

namespace korvanel {

class EventSink;
class SettingsStore;

// Levels every station to one loudness: measures the decoded samples by EBU
// R128 before the volume and the sound effects, applies a slowly moving gain
// learned per station, and keeps true peaks below kCeilingDbtp. Switched
// off, it leaves the samples untouched.
//
// Threads: process() runs on the sound cards' threads under the sample
// buffer's lock; setStation(), start() and stop() on the player's worker,
// which alone touches the per-station memory; the settings operations and
// the setters on the window thread; the readers from any thread. The stream
// state is locked for one block at a time; start() builds it unlocked.
// Lock order: the sample buffer's lock, then this one.
class Leveller final : public SettingsListener {
public:
    static constexpr const char* kLevellingKey = "Sound/Levelling";
    static constexpr const char* kTargetKey = "Sound/LevellingTarget";
    static constexpr int kDefaultTargetLufs = -18;
    static constexpr int kMinTargetLufs = -30;
    static constexpr int kMaxTargetLufs = -10;
    // The limiter aims below -1 dBTP for what its twelve-tap estimate (as
    // BS.1770 gives it) misses of clipped, square-like peaks.
    static constexpr double kCeilingDbtp = -1.0;
    static constexpr double kCeilingMarginDb = 0.6;
    // How often the gain looks at the measurements: once per momentary
    // window, so each moment passes the gate once, and the library sums a
    // window's samples once rather than four times over.
    static constexpr double kUpdateSeconds = 0.4;

    // Reads the settings; whoever switches levelling writes the store too.
    // The memory file is read at the first start(); a corrupt one is
    // reported to events once.
    Leveller(SettingsStore& settings, std::string memoryPath, EventSink& events);
    ~Leveller() override;

    Leveller(const Leveller&) = delete;
    Leveller& operator=(const Leveller&) = delete;

    void applySettings(SettingsStore& store) override;
    void collectSettings(SettingsStore& store) override;

    void setEnabled(bool on) { enabled_.store(on); }
    bool enabled() const { return enabled_.load(); }
    // Clamped to kMinTargetLufs..kMaxTargetLufs.
    void setTargetLufs(int lufs);
    int targetLufs() const { return targetLufs_.load(); }
    // libebur128 could be loaded.
    bool available() const { return library_.has_value(); }

    // The station the next start() belongs to: its first source address.
    void setStation(std::string key);
    // A stream of this format begins.
    void start(int rate, int channels);
    // The stream ended: what was learned of the station is remembered.
    void stop();

    // Interleaved signed 16-bit samples in native byte order, any alignment,
    // of the format given to start(); delayed by the limiter's look-ahead.
    // Returns the byte count rounded down to whole frames.
    std::size_t process(std::span<std::uint8_t> samples, int channels);

    // The gain applied now, while levelling a stream.
    std::optional<double> gainDb() const;
    // The first gain a stream settled at, once per stream.
    std::optional<double> takeSettledGainDb();
    // "-4.5", "+3.0", "0.0": one decimal, a point whatever the locale.
    static std::string gainText(double decibels);

private:
    struct Stream;
    void processFrames(Stream& stream, std::uint8_t* data, std::size_t frames);

    EventSink& events_;
    const std::optional<LoudnessLibrary> library_;
    std::atomic<bool> enabled_{false};
    std::atomic<int> targetLufs_{kDefaultTargetLufs};

    // The player's worker's.
    LoudnessMemory memory_;
    bool memoryRead_ = false;
    std::string station_;
    std::string streamStation_;

    std::mutex stateLock_;
    std::unique_ptr<Stream> stream_;

    std::atomic<bool> levelling_{false};
    std::atomic<double> gainDb_{0.0};
    std::atomic<bool> settledUntold_{false};
};

}  // namespace korvanel
