#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "audio/engine/audio_engine.h"
#include "tests/support/temp_folder.h"

namespace korvanel::test {

// The real engine driven the way the output channel drives it: a decoding
// stream on the no-sound device, one output stream on a sound card pulling
// from it. The sound card is SDL's disk driver writing to a file, so tests
// can look at what was "heard". Syncs and download bytes are collected.
class EnginePlayback {
public:
    // Which stream an event came from.
    enum class From { Decoding, Output };
    struct Event {
        From stream = From::Decoding;
        std::uint32_t type = 0;
        std::uint32_t data = 0;
        std::vector<std::string> texts;
    };

    // cardFile "/dev/null" with realTime false pulls as fast as possible.
    explicit EnginePlayback(const std::string& cardFile, bool realTime = true);
    ~EnginePlayback();

    AudioEngine& engine() { return engine_; }

    // Opens the decoding stream with every sync set; the error or Ok.
    AudioError open(const std::string& url);
    AudioError openWindowsMedia(const std::string& address);
    // Starts one output stream on the default sound card at this volume.
    bool play(int volume = 100);
    void close();

    AudioStream& decoding() { return decoding_; }
    AudioStream& output() { return output_; }
    std::vector<Event> events() const;
    std::size_t downloadedBytes() const;
    bool downloadFinished() const;
    // Waits until the predicate over the events holds.
    bool waitFor(const std::function<bool(const std::vector<Event>&)>& done,
                 std::chrono::milliseconds bound);
    bool waitForEvent(From stream, std::uint32_t type, std::chrono::milliseconds bound);

private:
    void setSyncs(AudioStream& stream, From from, bool metadata);

    ScopedEnv driver_;
    ScopedEnv file_;
    ScopedEnv delay_;
    AudioEngine engine_;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::vector<Event> events_;
    std::size_t downloaded_ = 0;
    bool downloadFinished_ = false;
    // Last, so that they go first, while what their callbacks use is there.
    AudioStream decoding_;
    AudioStream output_;
};

}  // namespace korvanel::test
