// How long a job posted to an idle single worker waits before it starts:
// the median over 10,000 posts, each made once the worker is idle. The
// elastic JobPool and the SerialQueue the engine and the recorder use.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "base/job_pool.h"
#include "base/serial_queue.h"

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<std::int64_t> startedAtNs{0};

void markStarted() { startedAtNs.store(Clock::now().time_since_epoch().count(), std::memory_order_release); }

class StartTimePool : public korvanel::JobPool {
public:
    StartTimePool() : JobPool(1, 1) {}
    ~StartTimePool() override { stopWorkers(); }

protected:
    void runJob(korvanel::Job&) override { markStarted(); }
};

template <class Post>
void measureStartLatency(benchmark::State& state, Post post) {
    constexpr int kPosts = 10000;
    std::vector<double> latenciesUs;
    latenciesUs.reserve(kPosts);
    for (auto _ : state) {
        latenciesUs.clear();
        for (int i = 0; i < kPosts; ++i) {
            startedAtNs = 0;
            // Let the worker finish and park itself, so every post wakes an idle worker.
            std::this_thread::sleep_for(std::chrono::microseconds(50));
            const auto postedAt = Clock::now().time_since_epoch().count();
            post();
            std::int64_t started = 0;
            while ((started = startedAtNs.load(std::memory_order_acquire)) == 0) {
            }
            latenciesUs.push_back(static_cast<double>(started - postedAt) / 1000.0);
        }
    }
    std::sort(latenciesUs.begin(), latenciesUs.end());
    state.counters["median_us"] = latenciesUs[latenciesUs.size() / 2];
    state.counters["p99_us"] = latenciesUs[latenciesUs.size() * 99 / 100];
}

void BM_IdleWorkerStartLatency(benchmark::State& state) {
    StartTimePool pool;
    measureStartLatency(state, [&pool] { pool.post(korvanel::Job{}); });
}
BENCHMARK(BM_IdleWorkerStartLatency)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_SerialQueueIdleStartLatency(benchmark::State& state) {
    korvanel::SerialQueue<int> queue([](int&) { markStarted(); });
    measureStartLatency(state, [&queue] { queue.post(0); });
}
BENCHMARK(BM_SerialQueueIdleStartLatency)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
