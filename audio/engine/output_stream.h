#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <thread>

#include "audio/audio_library.h"
#include "audio/engine/stream_callbacks.h"

namespace korvanel {

struct SdlFunctions;

// One output stream: an SDL playback device of its own whose callback pulls
// samples through the stream's sample callback, applies the volume, measures
// the level and notices stalls and the end. On the no-sound device nothing
// pulls. Events go to the sink from the sound card's thread; the sink must
// only post them elsewhere.
class OutputStream {
public:
    enum class Event { Ended, Stalled, Resumed };
    using EventSink = std::function<void(Event event)>;

    OutputStream(StreamHandle handle, int device, int frequency, int channels, std::uint32_t flags,
                 SampleCallback samples, EventSink events);
    // Closes the SDL device, which waits for a callback in progress.
    ~OutputStream();
    OutputStream(const OutputStream&) = delete;
    OutputStream& operator=(const OutputStream&) = delete;

    // Opens the sound card (paused) through `sdl`, which must outlive the
    // stream; nullptr for the no-sound device. sdlName: the SDL device name,
    // nothing for the default device.
    AudioError open(const SdlFunctions* sdl, const std::optional<std::string>& sdlName);

    bool play();
    void stop();
    void setVolume(int volume);  // 0..100
    int volume() const { return volume_.load(); }
    void setDeviceVolume(int volume);

    StreamCallbacks& callbacks() { return callbacks_; }
    int device() const { return device_; }
    std::uint32_t flags() const { return flags_; }
    ChannelInfo info() const;
    ActiveState isActive() const;
    std::uint32_t level() const;
    bool runsOn(std::thread::id thread) const { return callbackThread_.load() == thread; }

private:
    static void fillTrampoline(void* self, std::uint8_t* stream, int length);
    void fill(std::span<std::uint8_t> out);

    const int device_;
    const int frequency_;
    const int channels_;
    const std::uint32_t flags_;
    const SampleCallback samples_;
    const EventSink events_;
    StreamCallbacks callbacks_;
    const SdlFunctions* sdl_ = nullptr;
    std::uint32_t sdlDevice_ = 0;  // 0: none open
    std::atomic<bool> playing_{false};
    std::atomic<bool> ended_{false};
    std::atomic<bool> stalled_{false};
    std::atomic<int> volume_{100};
    std::atomic<int> deviceVolume_{100};
    std::atomic<std::uint32_t> level_{0};
    std::atomic<std::thread::id> callbackThread_{};
};

}  // namespace korvanel
