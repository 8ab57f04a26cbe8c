#include "stream/http_address.h"

#include <algorithm>

#include "stream/source_classification.h"

namespace korvanel {

namespace {

constexpr std::string_view kScheme = "http://";
constexpr std::string_view kSecureScheme = "https://";
constexpr unsigned kMaxPort = 65535;

}  // namespace

bool HttpAddress::isSafeForRequest(std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F) {
            return false;
        }
    }
    return true;
}

std::optional<HttpAddress> HttpAddress::parse(std::string_view url) {
    HttpAddress address;
    std::string_view rest;
    if (startsWith(url, kScheme)) {
        rest = url.substr(kScheme.size());
    } else if (startsWith(url, kSecureScheme)) {
        rest = url.substr(kSecureScheme.size());
        address.tls = true;
        address.port = kDefaultSecurePort;
    } else {
        return std::nullopt;
    }
    if (!isSafeForRequest(url)) {
        return std::nullopt;
    }
    std::size_t hostEnd = 0;
    if (!rest.empty() && rest.front() == '[') {
        // An IPv6 literal, in brackets so that its colons are no port.
        const std::size_t close = rest.find(']');
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        address.host = std::string(rest.substr(1, close - 1));
        hostEnd = close + 1;
        if (hostEnd < rest.size() && rest[hostEnd] != ':' && rest[hostEnd] != '/') {
            return std::nullopt;
        }
    } else {
        hostEnd = std::min(rest.find_first_of("/:"), rest.size());
        address.host = std::string(rest.substr(0, hostEnd));
    }
    if (address.host.empty() || address.host.size() > kMaxHostLength) {
        return std::nullopt;
    }

    std::size_t pathSearchFrom = hostEnd;
    if (hostEnd < rest.size() && rest[hostEnd] == ':') {
        // Leading decimal digits, as atoi reads them; anything after them up
        // to the path is ignored.
        unsigned port = 0;
        std::size_t position = hostEnd + 1;
        for (; position < rest.size() && rest[position] >= '0' && rest[position] <= '9'; ++position) {
            port = port * 10 + static_cast<unsigned>(rest[position] - '0');
            if (port > kMaxPort) {
                return std::nullopt;
            }
        }
        if (port == 0) {
            return std::nullopt;
        }
        address.port = static_cast<std::uint16_t>(port);
        pathSearchFrom = position;
    }
    const std::size_t pathStart = rest.find('/', pathSearchFrom);
    address.path = pathStart == std::string_view::npos ? std::string("/") : std::string(rest.substr(pathStart));
    return address;
}

std::string HttpAddress::hostHeader() const {
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

std::optional<std::string> buildGetRequest(std::string_view target, std::string_view host,
                                           std::string_view userAgent) {
    if (target.size() > HttpAddress::kMaxTargetLength) {
        return std::nullopt;
    }
    std::string request;
    request.reserve(64 + target.size() + host.size() + userAgent.size());
    request.append("GET ").append(target).append(" HTTP/1.0\r\n");
    request.append("User-Agent: ").append(userAgent).append("\r\n");
    request.append("Host: ").append(host).append("\r\n");
    request.append("\r\n");
    if (request.size() > kMaxRequestLength) {
        return std::nullopt;
    }
    return request;
}

}  // namespace korvanel
