#include "base/job_pool.h"

#include <algorithm>
#include <utility>

namespace korvanel {

struct JobPool::Worker {
    std::thread thread;
    std::condition_variable wakeUp;
    bool woken = false;  // guarded by the pool's lock
    bool ended = false;  // guarded by the pool's lock
};

JobPool::JobPool(int minThreads, int maxThreads)
    : minThreads_(std::max(minThreads, 0)), maxThreads_(std::max({maxThreads, minThreads, 0})) {
    std::lock_guard<std::mutex> guard(lock_);
    for (int i = 0; i < minThreads_; ++i) {
        ++threadCount_;
        auto& worker = workers_.emplace_back(std::make_unique<Worker>());
        Worker* self = worker.get();
        worker->thread = std::thread([this, self] { workerLoop(*self); });
    }
}

JobPool::~JobPool() { stopWorkers(); }

bool JobPool::post(Job job) {
    std::unique_lock<std::mutex> lock(lock_);
    if (stopping_) {
        lock.unlock();
        return true;  // the job is dropped with its payload, as queued jobs are
    }
    queue_.push_back(std::move(job));

    if (maxThreads_ == 0) {
        Job oldest = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        runJob(oldest);
        return true;
    }

    std::list<std::unique_ptr<Worker>> ended;
    for (auto it = workers_.begin(); it != workers_.end();) {
        if ((*it)->ended && (*it)->thread.get_id() != std::this_thread::get_id()) {
            ended.splice(ended.end(), workers_, it++);
        } else {
            ++it;
        }
    }

    if (!idleWorkers_.empty()) {
        Worker* worker = idleWorkers_.back();  // last in, first woken
        idleWorkers_.pop_back();
        worker->woken = true;
        worker->wakeUp.notify_one();
    } else if (threadCount_ < maxThreads_) {
        ++threadCount_;
        auto& worker = workers_.emplace_back(std::make_unique<Worker>());
        Worker* self = worker.get();
        worker->thread = std::thread([this, self] { workerLoop(*self); });
    }
    lock.unlock();

    for (auto& worker : ended) {
        worker->thread.join();
    }
    return true;
}

void JobPool::clearPending() {
    std::deque<Job> dropped;
    {
        std::lock_guard<std::mutex> guard(lock_);
        dropped.swap(queue_);
    }
    // Payloads are freed here, outside the lock.
}

int JobPool::pendingCount() const {
    std::lock_guard<std::mutex> guard(lock_);
    return static_cast<int>(queue_.size());
}

int JobPool::threadCount() const {
    std::lock_guard<std::mutex> guard(lock_);
    return threadCount_;
}

void JobPool::workerLoop(Worker& self) {
    std::unique_lock<std::mutex> lock(lock_);
    while (!stopping_) {
        if (!queue_.empty()) {
            {
                Job job = std::move(queue_.front());
                queue_.pop_front();
                lock.unlock();
                runJob(job);
            }  // the job and its payload go before the lock is taken again
            lock.lock();
            continue;
        }
        if (threadCount_ > minThreads_) {
            break;  // surplus workers end as soon as they find nothing to do
        }
        // stopping_ was checked under this same lock, so the destructor's
        // wake-up cannot be missed.
        self.woken = false;
        idleWorkers_.push_back(&self);
        self.wakeUp.wait(lock, [&self] { return self.woken; });
    }
    --threadCount_;
    self.ended = true;
    if (threadCount_ == 0) {
        allEnded_.notify_all();
    }
}

void JobPool::stopWorkers() {
    std::unique_lock<std::mutex> lock(lock_);
    stopping_ = true;
    while (!idleWorkers_.empty()) {
        Worker* worker = idleWorkers_.back();
        idleWorkers_.pop_back();
        worker->woken = true;
        worker->wakeUp.notify_one();
    }
    // A worker that is running a job finishes it first.
    allEnded_.wait(lock, [this] { return threadCount_ == 0; });

    std::deque<Job> dropped;
    dropped.swap(queue_);
    std::list<std::unique_ptr<Worker>> workers;
    workers.swap(workers_);
    lock.unlock();

    for (auto& worker : workers) {
        if (worker->thread.joinable()) {
            worker->thread.join();
        }
    }
}

}  // namespace korvanel
