#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korvanel {

// An http:// or https:// address split for a request. Addresses come from
// users and from servers' redirects, so parsing refuses anything that could
// change the request's meaning (control bytes, spaces, bad ports).
struct StreamUrl {
    bool tls = false;
    std::string host;        // without brackets for IPv6 literals
    std::uint16_t port = 0;
    std::string target;      // path and query, starting with '/'

    static constexpr std::size_t kMaxLength = 4096;

    static std::optional<StreamUrl> parse(std::string_view text);
    // A redirect's Location, absolute or relative to this address.
    std::optional<StreamUrl> resolve(std::string_view location) const;
    // "host" or "host:port" as the Host header wants it.
    std::string hostHeader() const;
    std::string toString() const;
};

}  // namespace korvanel
