#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <thread>

#include "audio/audio_library.h"
#include "audio/engine/sound_output.h"
#include "audio/engine/stream_callbacks.h"

namespace korvanel {

// One output stream: a playback stream of a sound output pulls samples
// through the stream's sample callback; this applies the volume (unless the
// output applies it), measures the level and notices stalls and the end. On
// the no-sound device nothing pulls. Events go to the sink from the
// output's thread; the sink must only post them elsewhere.
//
// The level is of what is heard now: where the output holds a long buffer,
// levels wait in a short history until their sound plays.
class OutputStream final : public PlaybackSource {
public:
    enum class Event { Ended, Stalled, Resumed };
    using EventSink = std::function<void(Event event)>;

    OutputStream(int device, int frequency, int channels, std::uint32_t flags,
                 SampleCallback samples, EventSink events);
    // Closes the playback stream, which waits for a pull in progress.
    ~OutputStream() override;
    OutputStream(const OutputStream&) = delete;
    OutputStream& operator=(const OutputStream&) = delete;

    // Opens the playback stream (halted) on `output`'s device, which the
    // stream keeps; nullptr for the no-sound device. Empty, or why not.
    std::string open(std::shared_ptr<SoundOutput> output, int outputDevice);

    bool play();
    void stop();
    void setVolume(int volume);  // 0..100
    int volume() const { return volume_.load(); }
    void setDeviceVolume(int volume);
    void setMediaName(const std::string& name);

    StreamCallbacks& callbacks() { return callbacks_; }
    int device() const { return device_; }
    std::uint32_t flags() const { return flags_; }
    ChannelInfo info() const;
    ActiveState isActive() const;
    std::uint32_t level() const;
    // Bytes handed to the output not heard yet.
    std::uint64_t queuedBytes() const;
    bool runsOn(std::thread::id thread) const;

    Filled fill(std::span<std::uint8_t> out) override;
    void lost() override;

private:
    // Levels of 10 ms blocks, by the stream byte where each ends.
    static constexpr std::size_t kLevelHistory = 256;
    void applyGain();
    // Levels of the samples before the volume, block by block; returns the
    // peak of them all.
    std::uint32_t recordLevels(std::span<const std::uint8_t> out, std::size_t count);

    const int device_;
    const int frequency_;
    const int channels_;
    const std::uint32_t flags_;
    const SampleCallback samples_;
    const EventSink events_;
    StreamCallbacks callbacks_;
    std::atomic<bool> playing_{false};
    std::atomic<bool> ended_{false};
    std::atomic<bool> stalled_{false};
    std::atomic<bool> outputVolume_{false};  // the output applies the volume
    std::atomic<int> volume_{100};
    std::atomic<int> deviceVolume_{100};
    std::atomic<std::uint32_t> level_{0};  // of the latest pull
    std::atomic<std::thread::id> callbackThread_{};
    // Output thread writes, any thread reads; a reader may see a block's
    // level paired with its neighbour's end, which a meter cannot tell.
    std::atomic<std::uint64_t> handed_{0};
    std::atomic<std::uint64_t> blocks_{0};
    std::array<std::atomic<std::uint64_t>, kLevelHistory> blockEnds_{};
    std::array<std::atomic<std::uint32_t>, kLevelHistory> blockLevels_{};
    std::shared_ptr<SoundOutput> output_;
    // Last: closed first, so nothing pulls while the rest goes.
    std::unique_ptr<PlaybackStream> playback_;
};

}  // namespace korvanel
