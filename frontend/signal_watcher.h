#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

namespace korvanel {

// Turns Ctrl-C and termination requests into a flag the commands poll, so
// that a run ends through the normal shutdown (settings saved, files
// closed). Construct it before any other thread starts: it blocks the two
// signals for every thread created afterwards and waits for them on its own.
class SignalWatcher {
public:
    SignalWatcher();
    ~SignalWatcher();
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

    const std::atomic<bool>& interrupted() const { return interrupted_; }
    // Called on the watcher's thread once the flag is set, so a waiting
    // command need not poll it; replaces any earlier one, empty removes it.
    // Once this returns, an earlier callback is not running.
    void setOnInterrupt(std::function<void()> callback);

private:
    std::mutex callbackLock_;
    std::function<void()> onInterrupt_;
    std::atomic<bool> interrupted_{false};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace korvanel
