#include "base/job_pool.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace korvanel {
namespace {

using namespace std::chrono_literals;

// Counts its own destructions, to see that dropped jobs free their payload.
struct CountedPayload : JobPayload {
    explicit CountedPayload(std::atomic<int>& freed) : freed_(freed) {}
    ~CountedPayload() override { ++freed_; }
    std::atomic<int>& freed_;
};

// A pool whose jobs record their order and can be held until released.
class RecordingPool : public JobPool {
public:
    RecordingPool(int minThreads, int maxThreads) : JobPool(minThreads, maxThreads) {}
    ~RecordingPool() override { stopWorkers(); }

    std::function<void(Job&)> onJob;

    std::vector<std::uint32_t> order() {
        std::lock_guard<std::mutex> guard(mutex_);
        return order_;
    }
    int maxConcurrent() const { return maxConcurrent_; }
    void waitForJobs(std::size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        ASSERT_TRUE(done_.wait_for(lock, 5s, [&] { return order_.size() >= count; }));
    }

    using JobPool::stopWorkers;

protected:
    void runJob(Job& job) override {
        const int now = ++running_;
        int seen = maxConcurrent_.load();
        while (now > seen && !maxConcurrent_.compare_exchange_weak(seen, now)) {
        }
        if (onJob) {
            onJob(job);
        }
        --running_;
        std::lock_guard<std::mutex> guard(mutex_);
        order_.push_back(job.code);
        done_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable done_;
    std::vector<std::uint32_t> order_;
    std::atomic<int> running_{0};
    std::atomic<int> maxConcurrent_{0};
};

// A gate that jobs wait on until the test opens it.
class Gate {
public:
    void wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        ++waiting_;
        changed_.notify_all();
        changed_.wait(lock, [this] { return open_; });
    }
    void waitForWaiters(int count) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, 5s, [&] { return waiting_ >= count; });
    }
    void open() {
        std::lock_guard<std::mutex> guard(mutex_);
        open_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int waiting_ = 0;
    bool open_ = false;
};

Job jobWithCode(std::uint32_t code) {
    Job job;
    job.code = code;
    return job;
}

bool waitUntil(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

TEST(JobPool, ElasticPoolRunsAtMostTwoAtOnceAndEndsIdleWorkers) {
    RecordingPool pool(0, 2);
    Gate gate;
    pool.onJob = [&](Job&) { gate.wait(); };
    EXPECT_EQ(pool.threadCount(), 0);
    for (std::uint32_t code = 1; code <= 3; ++code) {
        pool.post(jobWithCode(code));
    }
    gate.waitForWaiters(2);
    EXPECT_EQ(pool.threadCount(), 2);
    EXPECT_EQ(pool.pendingCount(), 1);
    gate.open();
    pool.waitForJobs(3);
    EXPECT_EQ(pool.maxConcurrent(), 2);
    EXPECT_TRUE(waitUntil([&] { return pool.threadCount() == 0; }));
    // Workers come back for new work after the pool went idle.
    pool.post(jobWithCode(4));
    pool.waitForJobs(4);
}

TEST(JobPool, SingleWorkerRunsJobsFromManyThreadsOneAtATimeInPostingOrder) {
    RecordingPool pool(1, 1);
    std::mutex postMutex;
    std::vector<std::uint32_t> posted;
    std::vector<std::thread> posters;
    for (int t = 0; t < 4; ++t) {
        posters.emplace_back([&, t] {
            for (int i = 0; i < 250; ++i) {
                // Record and post under one lock so `posted` is the append order.
                std::lock_guard<std::mutex> guard(postMutex);
                const auto code = static_cast<std::uint32_t>(t * 1000 + i);
                posted.push_back(code);
                pool.post(jobWithCode(code));
            }
        });
    }
    for (auto& poster : posters) {
        poster.join();
    }
    pool.waitForJobs(1000);
    EXPECT_EQ(pool.order(), posted);
    EXPECT_EQ(pool.maxConcurrent(), 1);
    EXPECT_EQ(pool.threadCount(), 1);
}

TEST(JobPool, JobPostedFromInsideAJobRunsAfterItReturns) {
    RecordingPool pool(1, 1);
    pool.onJob = [&](Job& job) {
        if (job.code == 1) {
            pool.post(jobWithCode(2));
            std::this_thread::sleep_for(20ms);  // job 2 must not start meanwhile
        }
    };
    pool.post(jobWithCode(1));
    pool.waitForJobs(2);
    EXPECT_EQ(pool.order(), (std::vector<std::uint32_t>{1, 2}));
    EXPECT_EQ(pool.maxConcurrent(), 1);
}

TEST(JobPool, MaximumBelowMinimumIsRaisedToMinimum) {
    RecordingPool pool(2, 1);
    Gate gate;
    pool.onJob = [&](Job&) { gate.wait(); };
    pool.post(jobWithCode(1));
    pool.post(jobWithCode(2));
    gate.waitForWaiters(2);
    EXPECT_EQ(pool.maxConcurrent(), 2);
    gate.open();
    pool.waitForJobs(2);
}

TEST(JobPool, ZeroMaximumRunsTheJobOnThePostingThread) {
    RecordingPool pool(0, 0);
    std::thread::id ranOn;
    pool.onJob = [&](Job&) { ranOn = std::this_thread::get_id(); };
    pool.post(jobWithCode(7));
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_EQ(pool.order(), (std::vector<std::uint32_t>{7}));
}

TEST(JobPool, ClearPendingDropsQueuedJobsButNotTheRunningOne) {
    std::atomic<int> freed{0};
    RecordingPool pool(1, 1);
    Gate gate;
    pool.onJob = [&](Job& job) {
        if (job.code == 1) {
            gate.wait();
        }
    };
    pool.post(jobWithCode(1));
    gate.waitForWaiters(1);
    for (std::uint32_t code = 2; code <= 4; ++code) {
        Job job = jobWithCode(code);
        job.payload = std::make_unique<CountedPayload>(freed);
        pool.post(std::move(job));
    }
    pool.clearPending();
    EXPECT_EQ(pool.pendingCount(), 0);
    EXPECT_EQ(freed, 3);
    gate.open();
    pool.post(jobWithCode(5));
    pool.waitForJobs(2);
    EXPECT_EQ(pool.order(), (std::vector<std::uint32_t>{1, 5}));
}

TEST(JobPool, DestructionWaitsForTheBusyJobAndDropsQueuedOnesFreeingPayloads) {
    std::atomic<int> freed{0};
    std::atomic<bool> busyJobFinished{false};
    std::atomic<int> ran{0};
    Gate started;
    {
        RecordingPool pool(1, 1);
        pool.onJob = [&](Job& job) {
            ++ran;
            if (job.code == 1) {
                started.open();
                std::this_thread::sleep_for(150ms);
                busyJobFinished = true;
            }
        };
        pool.post(jobWithCode(1));
        started.wait();
        for (std::uint32_t code = 2; code <= 5; ++code) {
            Job job = jobWithCode(code);
            job.text = "owned text";
            job.payload = std::make_unique<CountedPayload>(freed);
            pool.post(std::move(job));
        }
    }
    EXPECT_TRUE(busyJobFinished);
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(freed, 4);
}

TEST(JobPool, PostAfterStopDropsTheJobAndFreesItsPayload) {
    std::atomic<int> freed{0};
    RecordingPool pool(1, 1);
    pool.stopWorkers();
    Job job = jobWithCode(1);
    job.payload = std::make_unique<CountedPayload>(freed);
    EXPECT_TRUE(pool.post(std::move(job)));
    EXPECT_EQ(freed, 1);
    EXPECT_TRUE(pool.order().empty());
}

TEST(JobPool, IdleWorkersUseNoThreadsBeyondTheMinimumUnderBursts) {
    RecordingPool pool(0, 2);
    for (int round = 0; round < 50; ++round) {
        for (std::uint32_t code = 0; code < 5; ++code) {
            pool.post(jobWithCode(code));
        }
    }
    pool.waitForJobs(250);
    EXPECT_LE(pool.maxConcurrent(), 2);
    EXPECT_TRUE(waitUntil([&] { return pool.threadCount() == 0; }));
}

}  // namespace
}  // namespace korvanel
