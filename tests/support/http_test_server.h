#pragma once

// A scripted HTTP server on 127.0.0.1 for tests and benchmarks. Header-only
// so that the benchmarks, which do not link the test support library, can
// use it too.
//
// One connection at a time: the server reads the request head (up to the
// blank line, bounded in size and time), records the bytes, and hands the
// connection to the handler, which answers with send() and returns. The
// destructor stops the server and any handler still sending or waiting.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace korvanel::test {

class HttpTestServer {
public:
    using Clock = std::chrono::steady_clock;
    using Milliseconds = std::chrono::milliseconds;

    // The accepted connection as the handler sees it.
    class Connection {
    public:
        Connection(int fd, int stopFd) : fd_(fd), stopFd_(stopFd) {}

        // Sends all bytes; false when the peer is gone or the server stops.
        bool send(std::string_view bytes) {
            while (!bytes.empty()) {
                if (!waitFor(POLLOUT, Milliseconds(5000))) {
                    return false;
                }
                const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
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

        // Waits until the client closes its end, the server stops, or the
        // bound passes; true when the client closed.
        bool waitForPeerClose(Milliseconds bound) {
            const auto deadline = Clock::now() + bound;
            char scratch[256];
            while (Clock::now() < deadline) {
                if (!waitFor(POLLIN, std::chrono::duration_cast<Milliseconds>(deadline - Clock::now()))) {
                    return false;
                }
                const ssize_t got = ::recv(fd_, scratch, sizeof scratch, 0);
                if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) {
                    return true;
                }
            }
            return false;
        }

        // Sleeps, but wakes early when the server stops; false then.
        bool pause(Milliseconds time) {
            pollfd entry{stopFd_, POLLIN, 0};
            return ::poll(&entry, 1, static_cast<int>(time.count())) == 0;
        }

    private:
        bool waitFor(short events, Milliseconds timeout) {
            pollfd entries[2] = {{fd_, events, 0}, {stopFd_, POLLIN, 0}};
            const int result = ::poll(entries, 2, static_cast<int>(timeout.count()));
            return result > 0 && entries[1].revents == 0 && entries[0].revents != 0;
        }

        int fd_;
        int stopFd_;
    };

    using Handler = std::function<void(Connection&, const std::string& request)>;

    explicit HttpTestServer(Handler handler) : handler_(std::move(handler)) {
        int ends[2];
        if (::pipe(ends) != 0) {
            return;
        }
        stopRead_ = ends[0];
        stopWrite_ = ends[1];
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        const int on = 1;
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;  // a free port
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_, 16) != 0) {
            return;
        }
        socklen_t length = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }

    ~HttpTestServer() {
        if (stopWrite_ >= 0) {
            const char byte = 1;
            [[maybe_unused]] ssize_t written = ::write(stopWrite_, &byte, 1);
        }
        if (thread_.joinable()) {
            thread_.join();
        }
        for (int fd : {listener_, stopRead_, stopWrite_}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }

    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    std::uint16_t port() const { return port_; }
    std::string url(std::string_view path = "/") const {
        return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
    }

    // Request heads received so far, oldest first.
    std::vector<std::string> requests() const {
        std::lock_guard<std::mutex> guard(lock_);
        return requests_;
    }
    int connectionCount() const { return connections_.load(); }

    // A handler that sends these bytes and closes.
    static Handler reply(std::string bytes) {
        return [bytes = std::move(bytes)](Connection& connection, const std::string&) { connection.send(bytes); };
    }
    static std::string okResponse(std::string_view body, std::string_view status = "HTTP/1.1 200 OK") {
        return std::string(status) + "\r\nContent-Type: text/plain\r\nContent-Length: " +
               std::to_string(body.size()) + "\r\n\r\n" + std::string(body);
    }

private:
    static constexpr std::size_t kMaxRequestHead = 64 * 1024;

    void serve() {
        for (;;) {
            pollfd entries[2] = {{listener_, POLLIN, 0}, {stopRead_, POLLIN, 0}};
            if (::poll(entries, 2, -1) < 0 && errno != EINTR) {
                return;
            }
            if (entries[1].revents != 0) {
                return;
            }
            if (entries[0].revents == 0) {
                continue;
            }
            const int fd = ::accept(listener_, nullptr, nullptr);
            if (fd < 0) {
                continue;
            }
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
            ++connections_;
            std::string request = readHead(fd);
            {
                std::lock_guard<std::mutex> guard(lock_);
                requests_.push_back(request);
            }
            Connection connection(fd, stopRead_);
            handler_(connection, request);
            ::close(fd);
        }
    }

    std::string readHead(int fd) {
        std::string head;
        const auto deadline = Clock::now() + Milliseconds(5000);
        char chunk[4096];
        while (head.find("\r\n\r\n") == std::string::npos && head.size() < kMaxRequestHead &&
               Clock::now() < deadline) {
            pollfd entries[2] = {{fd, POLLIN, 0}, {stopRead_, POLLIN, 0}};
            if (::poll(entries, 2, 100) <= 0) {
                continue;
            }
            if (entries[1].revents != 0) {
                break;
            }
            const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
            if (got <= 0) {
                if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
                    continue;
                }
                break;
            }
            head.append(chunk, static_cast<std::size_t>(got));
        }
        return head;
    }

    Handler handler_;
    int listener_ = -1;
    int stopRead_ = -1;
    int stopWrite_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
    mutable std::mutex lock_;
    std::vector<std::string> requests_;
    std::atomic<int> connections_{0};
};

}  // namespace korvanel::test
