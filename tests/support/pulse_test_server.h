#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"

namespace korvanel::test {

// A private sound server that speaks PulseAudio's protocol: PulseAudio
// itself, or PipeWire with its PulseAudio server and session manager on a
// bus of their own. Null sinks on a socket of its own, no other client and
// nothing saved, stopped by the destructor.
//
//     PulseTestServer server({"one", "two"});
//     ScopedEnv pulse("PULSE_SERVER", server.address());
//     SinkMonitor heard(server, "one");
enum class SoundServerKind { PulseAudio, PipeWire };

class PulseTestServer {
public:
    // Sinks by name; each is described as "Sink_<name>".
    explicit PulseTestServer(const std::vector<std::string>& sinks,
                             SoundServerKind kind = SoundServerKind::PulseAudio);
    ~PulseTestServer();
    PulseTestServer(const PulseTestServer&) = delete;
    PulseTestServer& operator=(const PulseTestServer&) = delete;

    static bool available(SoundServerKind kind = SoundServerKind::PulseAudio);
    bool ready() const { return ready_; }
    std::string address() const { return "unix:" + socket_; }
    // pactl against this server; its standard output.
    std::string pactl(const std::vector<std::string>& arguments) const;
    // Ends the server at once, as a crash would.
    void kill();

private:
    bool startPulseAudio(const std::vector<std::string>& sinks);
    bool startPipeWire(const std::vector<std::string>& sinks);
    bool waitUntilAnswering();

    TempFolder folder_;
    std::string socket_;
    // In start order; stopped the other way round.
    std::vector<std::unique_ptr<ChildProcess>> processes_;
    bool ready_ = false;
};

// What a sink's monitor hears, with when it arrived: parec with a short
// latency, read on a thread of its own. Levels are kept per millisecond.
class SinkMonitor {
public:
    using Clock = std::chrono::steady_clock;

    SinkMonitor(const PulseTestServer& server, const std::string& sink);
    ~SinkMonitor();
    SinkMonitor(const SinkMonitor&) = delete;
    SinkMonitor& operator=(const SinkMonitor&) = delete;

    // When sound louder than `threshold` was first heard after `since`.
    std::optional<Clock::time_point> waitForSound(Clock::time_point since, int threshold,
                                                  std::chrono::milliseconds bound);
    // When the silence began that has lasted `quiet` since, after `since`.
    std::optional<Clock::time_point> waitForSilence(Clock::time_point since, int threshold,
                                                    std::chrono::milliseconds quiet,
                                                    std::chrono::milliseconds bound);
    // The left channel heard after `since`.
    std::vector<std::int16_t> leftSince(Clock::time_point since) const;

private:
    struct Millisecond {
        Clock::time_point end;
        int peak = 0;
    };
    void read();

    pid_t pid_ = -1;
    int fd_ = -1;
    mutable std::mutex lock_;
    std::condition_variable grown_;
    std::vector<Millisecond> levels_;
    std::vector<std::pair<Clock::time_point, std::vector<std::int16_t>>> left_;
    bool ended_ = false;
    std::thread reader_;
};

}  // namespace korvanel::test
