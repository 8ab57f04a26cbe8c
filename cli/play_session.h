#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>

#include "base/window_event.h"

namespace korvanel {

class Application;

// Follows the player's events for korvanel-cli play and record and decides
// when the run is over: after the asked number of seconds of playing, when
// a finite stream ended with nothing after it, or when the player gave up.
// Events arrive on the console's worker; the command waits on the main thread.
class PlaySession {
public:
    enum class Outcome { Running, TimeUp, Finished, GaveUp, Interrupted };

    explicit PlaySession(Application& application);

    // On the console's worker, after the event was handled.
    void onEvent(const WindowEvent& event);

    // Blocks until the run is over; seconds counts from the first sound.
    // interruptSet() must follow every change of `interrupted` to true.
    Outcome wait(std::optional<int> seconds, const std::atomic<bool>& interrupted);
    // From any thread: the interrupt flag was set.
    void interruptSet();

private:
    bool gaveUp(const std::string& message) const;

    Application& application_;
    std::mutex lock_;  // guards the four below, which onEvent() writes and wait() reads
    std::condition_variable changed_;
    std::optional<std::chrono::steady_clock::time_point> firstSound_;
    bool finiteEnded_ = false;
    std::optional<std::chrono::steady_clock::time_point> stoppedAfterEnd_;
    bool gaveUp_ = false;
};

}  // namespace korvanel
