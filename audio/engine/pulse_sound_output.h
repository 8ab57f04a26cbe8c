#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "audio/engine/sound_output.h"
#include "base/shared_library.h"

struct pa_context;
struct pa_threaded_mainloop;

namespace korvanel {

struct PulseFunctions;
class PulsePlaybackStream;

// The desktop's sound server over libpulse (PulseAudio, or PipeWire serving
// its protocol). Each stream keeps a large buffer on the server and is
// refilled in a few writes a second, so neither side wakes often; stop and
// volume act on the server's stream, so they are heard at once.
//
// Device 1 is the server's default sink, followed when the desktop changes
// it; 2, 3, ... are its sinks by description, kept up to date as sinks come
// and go.
//
// Threads: any thread may call the members; libpulse's own thread runs the
// streams' sources. Its loop lock guards every libpulse object; the sink
// list has a lock of its own, taken inside the loop lock, never around it.
class PulseSoundOutput final : public SoundOutput {
public:
    static constexpr int kDefaultBufferMs = 250;

    // Connects to the server at once (bounded by a time-out); not ready()
    // when libpulse is missing or no server answers.
    explicit PulseSoundOutput(const std::string& libraryName, const std::string& applicationName);
    ~PulseSoundOutput() override;
    PulseSoundOutput(const PulseSoundOutput&) = delete;
    PulseSoundOutput& operator=(const PulseSoundOutput&) = delete;

    bool ready() const { return connected_.load(); }
    // Why it is not ready, for the log.
    std::string failure() const;
    // Kept within 50..2000 ms.
    void setBufferMs(int milliseconds) override;

    std::string name() const override;
    bool usable() const override { return connected_.load(); }
    int deviceCount() const override;
    std::optional<std::string> description(int device) const override;
    Opened open(int device, const PlaybackFormat& format, PlaybackSource& source) override;

private:
    friend class PulsePlaybackStream;
    struct Sink {
        std::string name;
        std::string description;
    };

    bool connect(const std::string& applicationName);
    void disconnect();
    // With the loop locked, outside its thread: waits until done() holds or
    // timeoutMs passes; false on the time-out.
    template <class Done>
    bool waitLocked(Done done, int timeoutMs);
    // With the loop locked: asks for the sinks and the server's names again.
    void requestSinks();
    void requestServerInfo();
    static void onContextState(pa_context* context, void* self);

    std::optional<SharedLibrary> library_;
    std::unique_ptr<PulseFunctions> functions_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    std::atomic<bool> connected_{false};
    std::atomic<int> bufferMs_{kDefaultBufferMs};

    mutable std::mutex namesLock_;
    std::string failure_;
    std::string serverName_;
    std::vector<Sink> sinks_;
    // Loop thread only: a sink list being received.
    std::vector<Sink> arrivingSinks_;
    bool sinksKnown_ = false;   // loop lock
    bool serverKnown_ = false;  // loop lock
};

}  // namespace korvanel
