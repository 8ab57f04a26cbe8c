#include "stream/stream_url.h"

#include <algorithm>
#include <charconv>
#include <vector>

namespace korvanel {
namespace {

// A target with the "." and ".." steps of its path taken out, as a browser
// resolves a relative address ("../keys/k" from "/live/list" is "/keys/k");
// ".." never climbs above the root.
std::string withoutDotSegments(const std::string& target) {
    const std::size_t query = target.find('?');
    const std::string path = target.substr(0, query);
    std::vector<std::string> kept;
    std::size_t at = 1;
    while (at <= path.size()) {
        const std::size_t slash = std::min(path.find('/', at), path.size());
        const std::string step = path.substr(at, slash - at);
        const bool last = slash == path.size();
        if (step == "..") {
            if (!kept.empty()) {
                kept.pop_back();
            }
            if (last) {
                kept.emplace_back();
            }
        } else if (step == ".") {
            if (last) {
                kept.emplace_back();
            }
        } else {
            kept.push_back(step);
        }
        at = slash + 1;
    }
    std::string result;
    for (const std::string& step : kept) {
        result += "/" + step;
    }
    if (result.empty()) {
        result = "/";
    }
    return query == std::string::npos ? result : result + target.substr(query);
}

bool hasForbiddenByte(std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F) {
            return true;
        }
    }
    return false;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        if (c != prefix[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<StreamUrl> StreamUrl::parse(std::string_view text) {
    if (text.empty() || text.size() > kMaxLength || hasForbiddenByte(text)) {
        return std::nullopt;
    }
    StreamUrl url;
    if (startsWithNoCase(text, "http://")) {
        text.remove_prefix(7);
        url.port = 80;
    } else if (startsWithNoCase(text, "https://")) {
        text.remove_prefix(8);
        url.tls = true;
        url.port = 443;
    } else {
        return std::nullopt;
    }
    const std::size_t authorityEnd = text.find_first_of("/?#");
    std::string_view authority = text.substr(0, authorityEnd);
    std::string_view rest = authorityEnd == std::string_view::npos ? std::string_view{}
                                                                   : text.substr(authorityEnd);
    // Credentials in the address are not supported; they never reach a server.
    if (authority.find('@') != std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view portText;
    if (!authority.empty() && authority.front() == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        url.host = std::string(authority.substr(1, close - 1));
        std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') {
                return std::nullopt;
            }
            portText = after.substr(1);
        }
    } else {
        const std::size_t colon = authority.rfind(':');
        url.host = std::string(authority.substr(0, colon));
        if (colon != std::string_view::npos) {
            portText = authority.substr(colon + 1);
        }
    }
    if (url.host.empty()) {
        return std::nullopt;
    }
    if (!portText.empty()) {
        unsigned value = 0;
        const auto [end, error] =
            std::from_chars(portText.data(), portText.data() + portText.size(), value);
        if (error != std::errc() || end != portText.data() + portText.size() || value == 0 ||
            value > 65535) {
            return std::nullopt;
        }
        url.port = static_cast<std::uint16_t>(value);
    }
    // The fragment never goes to the server.
    rest = rest.substr(0, rest.find('#'));
    if (rest.empty()) {
        url.target = "/";
    } else if (rest.front() == '?') {
        url.target = "/" + std::string(rest);
    } else {
        url.target = std::string(rest);
    }
    return url;
}

std::optional<StreamUrl> StreamUrl::resolve(std::string_view location) const {
    if (location.empty() || location.size() > kMaxLength || hasForbiddenByte(location)) {
        return std::nullopt;
    }
    if (startsWithNoCase(location, "http://") || startsWithNoCase(location, "https://")) {
        return parse(location);
    }
    if (location.size() >= 2 && location[0] == '/' && location[1] == '/') {
        return parse((tls ? "https:" : "http:") + std::string(location));
    }
    if (location.find("://") != std::string_view::npos) {
        return std::nullopt;  // another scheme
    }
    StreamUrl next = *this;
    location = location.substr(0, location.find('#'));
    if (location.front() == '/') {
        next.target = std::string(location);
    } else {
        const std::string path = target.substr(0, target.find('?'));
        next.target = path.substr(0, path.rfind('/') + 1) + std::string(location);
    }
    next.target = withoutDotSegments(next.target);
    if (next.target.size() > kMaxLength) {
        return std::nullopt;
    }
    return next;
}

std::string StreamUrl::hostHeader() const {
    const bool ipv6 = host.find(':') != std::string::npos;
    std::string text = ipv6 ? "[" + host + "]" : host;
    if (port != (tls ? 443 : 80)) {
        text += ":" + std::to_string(port);
    }
    return text;
}

std::string StreamUrl::toString() const {
    return (tls ? "https://" : "http://") + hostHeader() + target;
}

}  // namespace korvanel
