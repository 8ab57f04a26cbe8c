#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace korvanel {

// The engine's notification thread: runs posted tasks one at a time, in
// order. Sound card callbacks post here instead of calling anybody, and
// streams freed from inside a callback are destroyed here.
class SyncDispatcher {
public:
    SyncDispatcher();
    // Runs what is still queued, then ends the thread.
    ~SyncDispatcher();
    SyncDispatcher(const SyncDispatcher&) = delete;
    SyncDispatcher& operator=(const SyncDispatcher&) = delete;

    void post(std::function<void()> task);
    bool onDispatcherThread() const { return std::this_thread::get_id() == thread_.get_id(); }
    // Waits until every task posted before the call has run (tests, shutdown).
    void drain();

private:
    void run();

    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> tasks_;
    bool running_ = false;  // a task is being run
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace korvanel
