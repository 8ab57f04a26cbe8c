#include "stream/host_lookup.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "stream/cancel_signal.h"

namespace korvanel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A resolver that reads numbers at once but answers names only when let go,
// as one does whose network went away; released at the end of each test.
class HangingResolver {
public:
    ~HangingResolver() { release(); }

    HostLookup::Resolver function() {
        return [this](const char* host, const char* service, const addrinfo* hints, addrinfo** found) {
            if ((hints->ai_flags & AI_NUMERICHOST) != 0) {
                return ::getaddrinfo(host, service, hints, found);
            }
            ++nameLookups_;
            std::unique_lock<std::mutex> lock(lock_);
            released_.wait_for(lock, 10s, [this] { return released; });
            return ::getaddrinfo("127.0.0.1", service, hints, found);
        };
    }
    void release() {
        std::lock_guard<std::mutex> guard(lock_);
        released = true;
        released_.notify_all();
    }
    int nameLookups() const { return nameLookups_.load(); }

private:
    std::mutex lock_;
    std::condition_variable released_;
    bool released = false;
    std::atomic<int> nameLookups_{0};
};

TEST(HostLookup, NumbersNeedNoLookupAndNamesAreFound) {
    HangingResolver hanging;
    LookupResult numeric = HostLookup::resolve("127.0.0.1", 8000, 0, {}, Clock::now() + 1s, hanging.function());
    ASSERT_EQ(numeric.status, LookupStatus::Found);
    EXPECT_EQ(hanging.nameLookups(), 0);

    LookupResult named = HostLookup::resolve("localhost", 8000, 0, {}, Clock::now() + 5s);
    ASSERT_EQ(named.status, LookupStatus::Found);
    ASSERT_NE(named.addresses, nullptr);

    EXPECT_EQ(HostLookup::resolve("no-such-host.invalid", 80, 0, {}, Clock::now() + 10s).status,
              LookupStatus::NotFound);
}

TEST(HostLookup, AHangingLookupIsAbandonedOnCancelAndAtTheDeadline) {
    HangingResolver hanging;
    CancelSignal stop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(30ms);
        stop.raise();
    });
    const int cancelFds[] = {-1, stop.readFd()};
    auto start = Clock::now();
    LookupResult cancelled =
        HostLookup::resolve("radio.example", 80, 0, cancelFds, Clock::now() + 10s, hanging.function());
    stopper.join();
    EXPECT_EQ(cancelled.status, LookupStatus::Cancelled);
    EXPECT_LT(Clock::now() - start, 1s);

    start = Clock::now();
    LookupResult late = HostLookup::resolve("radio.example", 80, 0, {}, Clock::now() + 50ms, hanging.function());
    EXPECT_EQ(late.status, LookupStatus::TimedOut);
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_EQ(hanging.nameLookups(), 2);
    // The abandoned lookups end later on their own and free their answers.
    hanging.release();
    std::this_thread::sleep_for(50ms);
}

}  // namespace
}  // namespace korvanel
