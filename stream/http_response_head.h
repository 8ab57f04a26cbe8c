#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvanel {

// The status line and header lines of a stream server's answer: "ICY 200 OK"
// (old SHOUTcast) or "HTTP/1.x nnn". The head comes from the network, so its
// size and line count are bounded and NUL bytes are dropped.
struct HttpResponseHead {
    static constexpr std::size_t kMaxBytes = 16384;
    static constexpr std::size_t kMaxLines = 100;

    std::string statusLine;
    int status = 0;
    std::vector<std::string> lines;  // header lines as sent, without line ends

    // Length of the head up to and including its blank line ("\r\n\r\n" or
    // "\n\n"), or 0 while it is incomplete.
    static std::size_t findEnd(std::string_view received);
    static std::optional<HttpResponseHead> parse(std::string_view head);

    // The first header of that name (any case), its value trimmed.
    std::optional<std::string> header(std::string_view name) const;
};

}  // namespace korvanel
