// How long a job posted to an idle single-worker pool waits before it
// starts: the median over 10,000 posts, each made once the worker is idle.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "base/job_pool.h"

namespace {

using Clock = std::chrono::steady_clock;

class StartTimePool : public korvanel::JobPool {
public:
    StartTimePool() : JobPool(1, 1) {}
    ~StartTimePool() override { stopWorkers(); }

    std::atomic<std::int64_t> startedAtNs{0};

protected:
    void runJob(korvanel::Job&) override {
        startedAtNs.store(Clock::now().time_since_epoch().count(), std::memory_order_release);
    }
};

void BM_IdleWorkerStartLatency(benchmark::State& state) {
    constexpr int kPosts = 10000;
    StartTimePool pool;
    std::vector<double> latenciesUs;
    latenciesUs.reserve(kPosts);
    for (auto _ : state) {
        latenciesUs.clear();
        for (int i = 0; i < kPosts; ++i) {
            pool.startedAtNs = 0;
            // Let the worker finish and park itself, so every post wakes an idle worker.
            std::this_thread::sleep_for(std::chrono::microseconds(50));
            const auto postedAt = Clock::now().time_since_epoch().count();
            pool.post(korvanel::Job{});
            std::int64_t started = 0;
            while ((started = pool.startedAtNs.load(std::memory_order_acquire)) == 0) {
            }
            latenciesUs.push_back(static_cast<double>(started - postedAt) / 1000.0);
        }
    }
    std::sort(latenciesUs.begin(), latenciesUs.end());
    state.counters["median_us"] = latenciesUs[latenciesUs.size() / 2];
    state.counters["p99_us"] = latenciesUs[latenciesUs.size() * 99 / 100];
}
BENCHMARK(BM_IdleWorkerStartLatency)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
