#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "tests/support/temp_folder.h"

namespace korvanel::test {

// A real tinyproxy on a free 127.0.0.1 port, with a generated configuration,
// stopped (and waited for) by the destructor.
class HttpTestProxy {
public:
    HttpTestProxy();
    ~HttpTestProxy();
    HttpTestProxy(const HttpTestProxy&) = delete;
    HttpTestProxy& operator=(const HttpTestProxy&) = delete;

    // The program, or "" when it is not installed.
    static std::string programPath();

    // Whether it runs and accepts connections.
    bool started() const { return started_; }
    std::uint16_t port() const { return port_; }
    // What the proxy logged, to explain a failure.
    std::string log() const;

private:
    void stop();

    TempFolder folder_;
    pid_t pid_ = -1;
    std::uint16_t port_ = 0;
    bool started_ = false;
};

}  // namespace korvanel::test
