#include "stream/host_lookup.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <thread>
#include <vector>

#include "stream/cancel_signal.h"

namespace korvanel {

namespace {

// What the lookup thread and the waiting caller share; whichever lets go
// last frees it, answer included.
struct Pending {
    std::mutex lock;
    int code = EAI_AGAIN;
    AddressList addresses;  // guarded by lock
    CancelSignal done;      // raised once the answer is in
};

int resolveNow(const HostLookup::Resolver& resolver, const std::string& host, const std::string& service,
               const addrinfo& hints, addrinfo** found) {
    return resolver ? resolver(host.c_str(), service.c_str(), &hints, found)
                    : ::getaddrinfo(host.c_str(), service.c_str(), &hints, found);
}

LookupResult answer(int code, addrinfo* found) {
    if (code != 0 || found == nullptr) {
        if (found != nullptr) {
            ::freeaddrinfo(found);
        }
        return {LookupStatus::NotFound, nullptr};
    }
    return {LookupStatus::Found, AddressList(found)};
}

}  // namespace

LookupResult HostLookup::resolve(const std::string& host, std::uint16_t port, int flags,
                                 std::span<const int> cancelFds, Clock::time_point deadline,
                                 const Resolver& resolver) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV | flags;
    const std::string service = std::to_string(port);

    // An address in numbers never waits on the network.
    addrinfo numericHints = hints;
    numericHints.ai_flags |= AI_NUMERICHOST;
    addrinfo* found = nullptr;
    if (resolveNow(resolver, host, service, numericHints, &found) == 0 && found != nullptr) {
        return {LookupStatus::Found, AddressList(found)};
    }
    if (found != nullptr) {
        ::freeaddrinfo(found);
    }

    auto pending = std::make_shared<Pending>();
    if (pending->done.readFd() < 0) {
        // No pipe to wait on: look it up here, unbounded as before.
        found = nullptr;
        const int code = resolveNow(resolver, host, service, hints, &found);
        return answer(code, found);
    }
    std::thread([pending, resolver, host, service, hints] {
        addrinfo* list = nullptr;
        const int code = resolveNow(resolver, host, service, hints, &list);
        {
            std::lock_guard<std::mutex> guard(pending->lock);
            pending->code = code;
            pending->addresses.reset(list);
        }
        pending->done.raise();
    }).detach();

    std::vector<pollfd> waits{{pending->done.readFd(), POLLIN, 0}};
    for (int fd : cancelFds) {
        if (fd >= 0) {
            waits.push_back({fd, POLLIN, 0});
        }
    }
    for (;;) {
        const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        const int waitMs = static_cast<int>(std::clamp<std::int64_t>(remaining.count(), 0, 0x7FFFFFFF));
        const int ready = ::poll(waits.data(), waits.size(), waitMs);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            return {LookupStatus::NotFound, nullptr};
        }
        if (waits[0].revents != 0) {
            std::lock_guard<std::mutex> guard(pending->lock);
            return answer(pending->code, pending->addresses.release());
        }
        for (std::size_t i = 1; i < waits.size(); ++i) {
            if (waits[i].revents != 0) {
                return {LookupStatus::Cancelled, nullptr};
            }
        }
        if (ready == 0) {
            return {LookupStatus::TimedOut, nullptr};
        }
    }
}

}  // namespace korvanel
