#include "stream/tcp_connection.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <cerrno>
#include <memory>

#include "stream/host_lookup.h"

namespace korvanel {

namespace {

using Clock = std::chrono::steady_clock;

int pollTimeout(TcpConnection::Milliseconds remaining) {
    if (remaining.count() <= 0) {
        return 0;
    }
    return remaining.count() > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(remaining.count());
}

// Waits for events on fd, or for a cancel descriptor to become readable.
// True only when fd is ready (or in error, which the next call reports).
bool pollSocket(int fd, short events, std::array<int, 2> cancelFds, Clock::time_point deadline) {
    for (;;) {
        pollfd entries[3] = {{fd, events, 0}};
        nfds_t count = 1;
        for (int cancelFd : cancelFds) {
            if (cancelFd >= 0) {
                entries[count++] = {cancelFd, POLLIN, 0};
            }
        }
        const auto remaining = std::chrono::duration_cast<TcpConnection::Milliseconds>(deadline - Clock::now());
        const int result = ::poll(entries, count, pollTimeout(remaining));
        if (result < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (result == 0) {
            return false;  // timed out
        }
        for (nfds_t i = 1; i < count; ++i) {
            if (entries[i].revents != 0) {
                return false;  // cancelled
            }
        }
        return entries[0].revents != 0;
    }
}

UniqueFd openNonBlockingSocket(const addrinfo& address) {
    UniqueFd socket(::socket(address.ai_family, address.ai_socktype, address.ai_protocol));
    if (!socket.valid()) {
        return socket;
    }
    ::fcntl(socket.get(), F_SETFD, FD_CLOEXEC);
    const int flags = ::fcntl(socket.get(), F_GETFL);
    if (flags < 0 || ::fcntl(socket.get(), F_SETFL, flags | O_NONBLOCK) < 0) {
        socket.reset();
    }
#ifdef SO_NOSIGPIPE
    const int on = 1;
    ::setsockopt(socket.get(), SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#endif
    return socket;
}

#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;  // a closed peer must not kill the process
#else
constexpr int kSendFlags = 0;
#endif

}  // namespace

std::optional<TcpConnection> TcpConnection::connect(const std::string& host, std::uint16_t port,
                                                    Milliseconds connectTimeout, int cancelFd,
                                                    int otherCancelFd) {
    const std::array<int, 2> cancelFds{cancelFd, otherCancelFd};
    const auto deadline = Clock::now() + connectTimeout;
    // A cancel must not wait out a resolver that hangs.
    const AddressList addresses = HostLookup::resolve(host, port, 0, cancelFds, deadline).addresses;
    for (const addrinfo* address = addresses.get(); address != nullptr; address = address->ai_next) {
        if (Clock::now() >= deadline) {
            break;
        }
        UniqueFd socket = openNonBlockingSocket(*address);
        if (!socket.valid()) {
            continue;
        }
        if (::connect(socket.get(), address->ai_addr, address->ai_addrlen) == 0) {
            return TcpConnection(std::move(socket), cancelFds);
        }
        if (errno != EINPROGRESS && errno != EINTR) {
            continue;
        }
        if (!pollSocket(socket.get(), POLLOUT, cancelFds, deadline)) {
            continue;
        }
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0) {
            return TcpConnection(std::move(socket), cancelFds);
        }
    }
    return std::nullopt;
}

TcpConnection::Ready TcpConnection::waitFor(short events, Milliseconds timeout) {
    return pollSocket(socket_.get(), events, cancelFds_, Clock::now() + timeout) ? Ready::Yes : Ready::No;
}

bool TcpConnection::sendAll(std::string_view bytes, Milliseconds idleTimeout) {
    while (!bytes.empty()) {
        if (waitFor(POLLOUT, idleTimeout) == Ready::No) {
            return false;
        }
        const ssize_t sent = ::send(socket_.get(), bytes.data(), bytes.size(), kSendFlags);
        if (sent < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

std::optional<std::size_t> TcpConnection::receive(char* into, std::size_t capacity, Milliseconds idleTimeout) {
    for (;;) {
        if (waitFor(POLLIN, idleTimeout) == Ready::No) {
            return std::nullopt;
        }
        const ssize_t received = ::recv(socket_.get(), into, capacity, 0);
        if (received >= 0) {
            return static_cast<std::size_t>(received);
        }
        if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            return std::nullopt;
        }
    }
}

}  // namespace korvanel
