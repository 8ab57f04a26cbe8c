#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korvanel {

// The parts of an "http://" or "https://" address that a GET needs.
struct HttpAddress {
    static constexpr std::size_t kMaxHostLength = 255;
    static constexpr std::size_t kMaxTargetLength = 255;
    static constexpr std::uint16_t kDefaultPort = 80;
    static constexpr std::uint16_t kDefaultSecurePort = 443;

    bool tls = false;  // https://
    std::string host;  // without the port, an IPv6 literal without brackets
    std::uint16_t port = kDefaultPort;
    std::string path;  // from the first '/' after host and port, else "/"

    // Splits an address that starts with "http://" or "https://" (exact
    // case); an IPv6 literal host stands in brackets. Refuses (nullopt) an
    // address without a host, with a port that is not 1..65535, with a host
    // longer than kMaxHostLength, or with control characters or spaces
    // anywhere (they would let the address rewrite the request).
    static std::optional<HttpAddress> parse(std::string_view url);
    // No control characters or spaces: nothing that could rewrite a request.
    static bool isSafeForRequest(std::string_view text);
    // The host as the Host line names it: an IPv6 literal in brackets. The
    // port is left out, as it always was.
    std::string hostHeader() const;
};

// The request bytes: request line, User-Agent line, Host line, blank line.
// nullopt when the target is longer than HttpAddress::kMaxTargetLength or
// the request longer than kMaxRequestLength.
inline constexpr std::size_t kMaxRequestLength = 1023;
std::optional<std::string> buildGetRequest(std::string_view target, std::string_view host,
                                           std::string_view userAgent);

}  // namespace korvanel
