#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/job.h"

namespace korvanel {

// Runs jobs on worker threads, strictly first in, first out. Owners derive
// from it and implement runJob().
//
// Threads: post() and clearPending() may be called from any thread, including
// the pool's own workers. runJob() runs on a worker without the pool's lock,
// so it may post further jobs. With maxThreads 1 jobs never overlap; with
// maxThreads 0 post() runs the job on the calling thread.
//
// Shutdown: a derived class must call stopWorkers() first in its destructor,
// before the members its runJob() uses are gone. It waits for running jobs
// to return and drops queued ones (their payloads are freed).
class JobPool {
public:
    JobPool(int minThreads, int maxThreads);
    virtual ~JobPool();

    JobPool(const JobPool&) = delete;
    JobPool& operator=(const JobPool&) = delete;

    // Queues the job; always returns true.
    bool post(Job job);

    // Drops every queued job that no worker has taken yet.
    void clearPending();

    int pendingCount() const;
    int threadCount() const;

protected:
    virtual void runJob(Job& job) = 0;

    // Stops and joins every worker; idempotent.
    void stopWorkers();

private:
    struct Worker;

    void workerLoop(Worker& self);
    void reapEndedWorkers(std::unique_lock<std::mutex>& lock);

    const int minThreads_;
    const int maxThreads_;

    mutable std::mutex lock_;
    std::condition_variable allEnded_;
    std::deque<Job> queue_;
    int threadCount_ = 0;
    bool stopping_ = false;
    std::list<std::unique_ptr<Worker>> workers_;
    std::vector<Worker*> idleWorkers_;  // most recently idled last
};

}  // namespace korvanel
