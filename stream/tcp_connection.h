#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "stream/unique_fd.h"

namespace korvanel {

// A connected TCP socket whose every wait is a poll() with a time-out that
// also watches a cancel descriptor, so no call can hang.
//
// Name resolution is bounded too: a hanging lookup is abandoned.
class TcpConnection {
public:
    using Milliseconds = std::chrono::milliseconds;

    // Tries every address the name resolves to, IPv6 included, in order,
    // until one connects; gives up when connectTimeout has passed in all.
    // cancelFd (or -1) ends the attempt, and every later wait, as soon as it
    // becomes readable; so does otherCancelFd (the owner's shutdown and one
    // caller's stop can both end a request).
    static std::optional<TcpConnection> connect(const std::string& host, std::uint16_t port,
                                                Milliseconds connectTimeout, int cancelFd,
                                                int otherCancelFd = -1);

    // Sends all bytes; false on error, cancel or when the peer takes nothing
    // for idleTimeout.
    bool sendAll(std::string_view bytes, Milliseconds idleTimeout);

    // Reads what is there, up to capacity bytes. Returns the count, 0 when the
    // peer closed, or std::nullopt on error, cancel or idleTimeout of silence.
    std::optional<std::size_t> receive(char* into, std::size_t capacity, Milliseconds idleTimeout);

private:
    TcpConnection(UniqueFd socket, std::array<int, 2> cancelFds)
        : socket_(std::move(socket)), cancelFds_(cancelFds) {}

    enum class Ready { Yes, No };
    Ready waitFor(short events, Milliseconds timeout);

    UniqueFd socket_;
    std::array<int, 2> cancelFds_{-1, -1};
};

}  // namespace korvanel
