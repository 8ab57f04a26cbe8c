#pragma once

// A small, fast stream server for the audio benchmarks: on 127.0.0.1, it
// answers every request at once with an ICY-style head, sends a 64 KiB
// burst, then paces a looped file at its bit rate, like a radio server with
// nothing slow in its way. One thread per listener; stopped by its destructor.
//
// Also: makeToneFile() runs ffmpeg (no shell) to make the files it serves.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <list>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace korvanel::bench {

inline int runToEnd(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (std::string& text : arguments) {
        argv.push_back(text.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A sine tone file made by ffmpeg; its bytes, or nothing.
inline std::string makeToneFile(const std::string& path, const std::string& codec, int bitrateKbps,
                                double seconds) {
    const int result = runToEnd({"/usr/bin/ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error",
                                 "-y", "-f", "lavfi", "-i",
                                 "sine=frequency=440:sample_rate=44100:duration=" + std::to_string(seconds),
                                 "-ac", "2", "-c:a", codec, "-b:a", std::to_string(bitrateKbps) + "k",
                                 path});
    if (result != 0) {
        return {};
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

class StreamServer {
public:
    static constexpr std::size_t kBurstBytes = 65536;

    StreamServer(std::string body, std::string contentType, int bitrateKbps)
        : body_(std::move(body)), contentType_(std::move(contentType)), bytesPerSecond_(bitrateKbps * 1000 / 8) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 16);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { acceptLoop(); });
    }

    ~StreamServer() {
        stopping_ = true;
        thread_.join();
        for (std::thread& client : clients_) {
            client.join();
        }
        ::close(listener_);
    }

    StreamServer(const StreamServer&) = delete;
    StreamServer& operator=(const StreamServer&) = delete;

    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

    // When the newest listener's first byte of sound was handed to the
    // network, right after its head; the epoch before any listener came.
    std::chrono::steady_clock::time_point lastFirstByte() const {
        return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(firstByte_.load()));
    }

private:
    void acceptLoop() {
        while (!stopping_) {
            pollfd entry{listener_, POLLIN, 0};
            if (::poll(&entry, 1, 50) <= 0) {
                continue;
            }
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                clients_.emplace_back([this, fd] { serve(fd); });
            }
        }
    }

    bool sendAll(int fd, const char* data, std::size_t size) {
        while (size > 0 && !stopping_) {
            pollfd entry{fd, POLLOUT, 0};
            if (::poll(&entry, 1, 50) <= 0) {
                continue;
            }
            const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent <= 0) {
                if (sent < 0 && (errno == EAGAIN || errno == EINTR)) {
                    continue;
                }
                return false;
            }
            data += sent;
            size -= static_cast<std::size_t>(sent);
        }
        return size == 0;
    }

    // Sends `count` bytes of the looped body from `offset`.
    bool sendLooped(int fd, std::size_t& offset, std::size_t count) {
        while (count > 0) {
            const std::size_t run = std::min(count, body_.size() - offset);
            if (!sendAll(fd, body_.data() + offset, run)) {
                return false;
            }
            offset = (offset + run) % body_.size();
            count -= run;
        }
        return true;
    }

    void serve(int fd) {
        // The request head: read until the blank line (bounded).
        std::string request;
        char buffer[2048];
        while (request.find("\r\n\r\n") == std::string::npos && request.size() < 16384 && !stopping_) {
            pollfd entry{fd, POLLIN, 0};
            if (::poll(&entry, 1, 50) <= 0) {
                continue;
            }
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got <= 0) {
                break;
            }
            request.append(buffer, static_cast<std::size_t>(got));
        }
        const std::string head = "HTTP/1.0 200 OK\r\nContent-Type: " + contentType_ +
                                 "\r\nicy-name:Bench FM\r\nicy-br:" + std::to_string(bytesPerSecond_ * 8 / 1000) +
                                 "\r\n\r\n";
        std::size_t offset = 0;
        const bool headSent = sendAll(fd, head.data(), head.size());
        if (headSent) {
            firstByte_ = std::chrono::steady_clock::now().time_since_epoch().count();
        }
        if (headSent && sendLooped(fd, offset, kBurstBytes)) {
            const auto start = std::chrono::steady_clock::now();
            std::size_t paced = 0;
            while (!stopping_) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                const double seconds =
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                const auto due = static_cast<std::size_t>(seconds * bytesPerSecond_);
                if (due > paced && !sendLooped(fd, offset, due - paced)) {
                    break;
                }
                paced = due;
            }
        }
        ::close(fd);
    }

    std::string body_;
    std::string contentType_;
    int bytesPerSecond_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<std::chrono::steady_clock::rep> firstByte_{0};
    std::thread thread_;
    std::list<std::thread> clients_;  // touched by the accept thread only, then joined
};

}  // namespace korvanel::bench
