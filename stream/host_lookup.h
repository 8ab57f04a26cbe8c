#pragma once

#include <netdb.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace korvanel {

struct AddressListDeleter {
    void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};
using AddressList = std::unique_ptr<addrinfo, AddressListDeleter>;

enum class LookupStatus { Found, NotFound, Cancelled, TimedOut };

struct LookupResult {
    LookupStatus status = LookupStatus::NotFound;
    AddressList addresses;
};

// Looks up the TCP addresses of a host. The system's resolver cannot be
// cancelled and may hang for half a minute when the network is gone, so a
// name is looked up on a thread of its own that the caller can abandon: a
// readable cancel descriptor or the deadline ends the wait at once, and the
// thread frees its answer whenever it comes. A numeric address needs no
// thread. Any thread may call it.
class HostLookup {
public:
    using Clock = std::chrono::steady_clock;
    // getaddrinfo's shape, so tests can stand in a resolver that hangs.
    using Resolver = std::function<int(const char* host, const char* service, const addrinfo* hints,
                                       addrinfo** found)>;

    // flags: extra getaddrinfo hint flags (AI_ADDRCONFIG, say).
    static LookupResult resolve(const std::string& host, std::uint16_t port, int flags,
                                std::span<const int> cancelFds, Clock::time_point deadline,
                                const Resolver& resolver = {});
};

}  // namespace korvanel
