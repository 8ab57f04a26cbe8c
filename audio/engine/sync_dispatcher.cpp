#include "audio/engine/sync_dispatcher.h"

#include <utility>

namespace korvanel {

SyncDispatcher::SyncDispatcher() : thread_([this] { run(); }) {}

SyncDispatcher::~SyncDispatcher() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
        changed_.notify_all();
    }
    thread_.join();
}

void SyncDispatcher::post(std::function<void()> task) {
    std::lock_guard<std::mutex> guard(lock_);
    tasks_.push_back(std::move(task));
    changed_.notify_all();
}

void SyncDispatcher::drain() {
    if (onDispatcherThread()) {
        return;
    }
    std::unique_lock<std::mutex> lock(lock_);
    changed_.wait(lock, [&] { return tasks_.empty() && !running_; });
}

void SyncDispatcher::run() {
    std::unique_lock<std::mutex> lock(lock_);
    for (;;) {
        changed_.wait(lock, [&] { return stopping_ || !tasks_.empty(); });
        if (tasks_.empty()) {
            return;  // stopping, and nothing left
        }
        std::function<void()> task = std::move(tasks_.front());
        tasks_.pop_front();
        running_ = true;
        lock.unlock();
        task();
        task = nullptr;  // what the task held goes before the next one runs
        lock.lock();
        running_ = false;
        changed_.notify_all();
    }
}

}  // namespace korvanel
