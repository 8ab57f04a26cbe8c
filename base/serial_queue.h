#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

namespace korvanel {

// A worker thread of its own that handles messages strictly one at a time,
// in the order they were posted. The owner keeps it as a member, declared
// after everything its handler uses, so that it goes first.
//
// Threads: post(), the waits until idle, clearPending(), pendingCount(),
// setPollInterval() and stop() may be called from any thread, the worker
// included (a handler may post the next message; it runs after the handler
// returns). The handler and the poll run on the worker only, without the
// queue's lock held. A message is destroyed on the worker, outside the lock,
// before the next one is taken, so what it owns goes in order too.
//
// Stopping: stop(Pending::Run) handles what is queued, and what those
// handlers post, then ends the worker; stop(Pending::Drop) lets the running
// handler return and destroys the queued messages unhandled. Either way a
// message posted after the worker ended is refused. Called from a thread
// other than the worker, stop() returns once the worker has ended. The
// destructor stops with Drop unless the owner stopped first; it must not
// run on the worker itself.
template <class Message>
class SerialQueue {
public:
    using Handler = std::function<void(Message&)>;
    using Poll = std::function<void()>;
    enum class Pending { Run, Drop };

    // poll, when given, runs on the worker before each message and, while a
    // poll interval is set, whenever that long passes without one.
    explicit SerialQueue(Handler handler, Poll poll = {})
        : handler_(std::move(handler)), poll_(std::move(poll)), thread_([this] { run(); }) {}

    ~SerialQueue() { stop(Pending::Drop); }

    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    // Queues the message; false (the message destroyed) once the queue is
    // stopping with Drop or has stopped.
    bool post(Message message) {
        {
            std::unique_lock lock(lock_);
            if (refusing_) {
                lock.unlock();
                return false;  // the message goes here, outside the lock
            }
            queue_.push_back(std::move(message));
            ++posted_;
        }
        wake_.notify_one();
        return true;
    }

    // Returns once every message posted before the call has been handled or
    // dropped. On the worker it returns at once (the caller is one of them).
    void waitUntilIdle() {
        std::unique_lock lock(lock_);
        if (std::this_thread::get_id() == workerId_) {
            return;
        }
        const std::uint64_t target = posted_;
        idle_.wait(lock, [&] { return finished_ >= target || ended_; });
    }

    // The same, waiting at most `bound`; false when a handler took longer.
    bool waitUntilIdleFor(std::chrono::milliseconds bound) {
        std::unique_lock lock(lock_);
        if (std::this_thread::get_id() == workerId_) {
            return true;
        }
        const std::uint64_t target = posted_;
        return idle_.wait_for(lock, bound, [&] { return finished_ >= target || ended_; });
    }

    // Destroys every message no handler has taken yet.
    void clearPending() {
        std::deque<Message> dropped;
        std::lock_guard guard(lock_);
        dropPendingLocked(dropped);
        // dropped goes after the lock is released (declared before guard).
    }

    std::size_t pendingCount() const {
        std::lock_guard guard(lock_);
        return queue_.size();
    }

    // Zero turns the timed poll off; the worker picks a change up at once.
    void setPollInterval(std::chrono::milliseconds interval) {
        {
            std::lock_guard guard(lock_);
            pollInterval_ = interval;
            pollChanged_ = true;
        }
        wake_.notify_one();
    }

    bool onWorkerThread() const {
        std::lock_guard guard(lock_);
        return std::this_thread::get_id() == workerId_;
    }

    // Idempotent; the first call decides between Run and Drop.
    void stop(Pending pending) {
        {
            // Dropped messages go once the lock is released, before the wait.
            std::deque<Message> dropped;
            std::lock_guard guard(lock_);
            if (!stopping_) {
                stopping_ = true;
                if (pending == Pending::Drop) {
                    refusing_ = true;
                    dropPendingLocked(dropped);
                }
            }
            if (std::this_thread::get_id() == workerId_) {
                wake_.notify_one();
                return;  // the worker ends once its handler returns
            }
        }
        wake_.notify_one();
        std::lock_guard joinGuard(joinLock_);
        if (thread_.joinable()) {
            thread_.join();
        }
    }

private:
    void dropPendingLocked(std::deque<Message>& into) {
        finished_ += queue_.size();
        into.swap(queue_);
        idle_.notify_all();
    }

    void run() {
        std::unique_lock lock(lock_);
        workerId_ = std::this_thread::get_id();
        for (;;) {
            const auto ready = [this] { return stopping_ || pollChanged_ || !queue_.empty(); };
            if (pollInterval_.count() > 0) {
                wake_.wait_for(lock, pollInterval_, ready);
            } else {
                wake_.wait(lock, ready);
            }
            if (queue_.empty()) {
                if (stopping_) {
                    break;
                }
                if (pollChanged_) {
                    pollChanged_ = false;  // wait again, under the new interval
                    continue;
                }
                // A poll interval passed with nothing posted.
                if (poll_) {
                    lock.unlock();
                    poll_();
                    lock.lock();
                }
                continue;
            }
            {
                Message message = std::move(queue_.front());
                queue_.pop_front();
                lock.unlock();
                if (poll_) {
                    poll_();
                }
                handler_(message);
            }
            lock.lock();
            ++finished_;
            idle_.notify_all();
        }
        refusing_ = true;
        ended_ = true;
        idle_.notify_all();
    }

    const Handler handler_;
    const Poll poll_;

    mutable std::mutex lock_;  // guards everything below but the thread
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<Message> queue_;
    std::uint64_t posted_ = 0;
    std::uint64_t finished_ = 0;  // handled or dropped
    std::chrono::milliseconds pollInterval_{0};
    bool pollChanged_ = false;
    std::thread::id workerId_;
    bool stopping_ = false;
    bool refusing_ = false;
    bool ended_ = false;

    std::mutex joinLock_;  // two owners' threads stopping at once join once
    std::thread thread_;   // last: starts when everything above exists
};

}  // namespace korvanel
