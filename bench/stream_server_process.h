#pragma once

// The benchmark stream servers of audio_stream_server.h, run in a child
// process, so that a benchmark that counts its own heap, descriptors and
// threads sees only the code it measures. The child is forked before the
// caller starts any thread; it serves until the object goes.

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include "bench/audio_stream_server.h"

namespace korvanel::bench {

class StreamServerProcess {
public:
    struct Stream {
        std::string body;
        std::string contentType;
        int bitrateKbps = 128;
        std::string path;  // "/tone.mp3"
    };

    // Call while the process has one thread only.
    explicit StreamServerProcess(const std::vector<Stream>& streams) {
        int addresses[2];
        int control[2];
        if (::pipe2(addresses, O_CLOEXEC) != 0) {
            return;
        }
        if (::pipe2(control, O_CLOEXEC) != 0) {
            ::close(addresses[0]);
            ::close(addresses[1]);
            return;
        }
        child_ = ::fork();
        if (child_ == 0) {
            ::close(addresses[0]);
            ::close(control[1]);
            serve(streams, addresses[1], control[0]);
        }
        ::close(addresses[1]);
        ::close(control[0]);
        control_ = control[1];
        if (child_ > 0) {
            readUrls(addresses[0], streams.size());
        }
        ::close(addresses[0]);
    }

    ~StreamServerProcess() {
        if (control_ >= 0) {
            ::close(control_);  // the child sees the end of its control pipe and stops
        }
        if (child_ > 0) {
            int status = 0;
            ::waitpid(child_, &status, 0);
        }
    }

    StreamServerProcess(const StreamServerProcess&) = delete;
    StreamServerProcess& operator=(const StreamServerProcess&) = delete;

    // One address per stream, in order; empty when the child failed.
    const std::vector<std::string>& urls() const { return urls_; }

private:
    [[noreturn]] static void serve(const std::vector<Stream>& streams, int addresses, int control) {
        std::signal(SIGPIPE, SIG_IGN);
        {
            std::vector<std::unique_ptr<StreamServer>> servers;
            std::string lines;
            for (const Stream& stream : streams) {
                servers.push_back(std::make_unique<StreamServer>(stream.body, stream.contentType, stream.bitrateKbps));
                lines += servers.back()->url(stream.path) + "\n";
            }
            const bool told = ::write(addresses, lines.data(), lines.size()) == static_cast<ssize_t>(lines.size());
            ::close(addresses);
            char ignored = 0;
            while (told && ::read(control, &ignored, 1) > 0) {
            }
        }
        // No destructors of the parent's objects, no atexit handlers.
        ::_exit(0);
    }

    void readUrls(int from, std::size_t count) {
        std::string text;
        char buffer[512];
        for (;;) {
            pollfd entry{from, POLLIN, 0};
            if (::poll(&entry, 1, 10000) <= 0) {
                break;
            }
            const ssize_t got = ::read(from, buffer, sizeof buffer);
            if (got <= 0) {
                break;
            }
            text.append(buffer, static_cast<std::size_t>(got));
        }
        std::vector<std::string> found;
        std::size_t start = 0;
        for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
            found.push_back(text.substr(start, end - start));
        }
        if (found.size() == count) {
            urls_ = std::move(found);
        }
    }

    pid_t child_ = -1;
    int control_ = -1;
    std::vector<std::string> urls_;
};

}  // namespace korvanel::bench
