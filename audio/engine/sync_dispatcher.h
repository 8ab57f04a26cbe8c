#pragma once

#include <functional>
#include <utility>

#include "base/serial_queue.h"

namespace korvanel {

// The engine's notification thread: runs posted tasks one at a time, in
// order. Sound card callbacks post here instead of calling anybody, and
// streams freed from inside a callback are destroyed here.
//
// Threads: post() and drain() from any thread, the dispatcher's own
// included; the tasks run on the dispatcher's thread only.
class SyncDispatcher {
public:
    SyncDispatcher() = default;
    // Runs what is still queued, then ends the thread.
    ~SyncDispatcher() { tasks_.stop(Tasks::Pending::Run); }
    SyncDispatcher(const SyncDispatcher&) = delete;
    SyncDispatcher& operator=(const SyncDispatcher&) = delete;

    void post(std::function<void()> task) { tasks_.post(std::move(task)); }
    bool onDispatcherThread() const { return tasks_.onWorkerThread(); }
    // Waits until every task posted before the call has run (tests,
    // shutdown); on the dispatcher's thread it returns at once.
    void drain() { tasks_.waitUntilIdle(); }

private:
    using Tasks = SerialQueue<std::function<void()>>;
    Tasks tasks_{[](std::function<void()>& task) { task(); }};
};

}  // namespace korvanel
