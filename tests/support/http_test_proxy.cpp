#include "tests/support/http_test_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

extern char** environ;

namespace korvanel::test {

namespace {

using Clock = std::chrono::steady_clock;

std::uint16_t freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    std::uint16_t port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

bool accepts(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

}  // namespace

std::string HttpTestProxy::programPath() {
    for (const char* path : {"/usr/bin/tinyproxy", "/usr/sbin/tinyproxy", "/usr/local/bin/tinyproxy"}) {
        if (::access(path, X_OK) == 0) {
            return path;
        }
    }
    return "";
}

HttpTestProxy::HttpTestProxy() {
    const std::string program = programPath();
    port_ = freeLoopbackPort();
    if (program.empty() || port_ == 0) {
        return;
    }
    // The proxy drops to nobody when started as root and must still write
    // its log here.
    ::chmod(folder_.path().c_str(), 0777);
    std::string config = "Port " + std::to_string(port_) +
                         "\nListen 127.0.0.1\nTimeout 30\nMaxClients 8\nAllow 127.0.0.1\n"
                         "LogLevel Info\nLogFile \"" + folder_.file("proxy.log") + "\"\n";
    if (::geteuid() == 0) {
        config += "User nobody\nGroup nogroup\n";
    }
    const std::string configPath = folder_.file("proxy.conf");
    writeFile(configPath, config);

    std::vector<std::string> arguments = {program, "-d", "-c", configPath};
    std::vector<char*> argv;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    if (::posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        pid_ = -1;
        return;
    }

    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;  // it ended at once: a bad configuration
            return;
        }
        if (accepts(port_)) {
            started_ = true;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

HttpTestProxy::~HttpTestProxy() { stop(); }

void HttpTestProxy::stop() {
    if (pid_ <= 0) {
        return;
    }
    ::kill(pid_, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (Clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
}

std::string HttpTestProxy::log() const { return readFile(folder_.file("proxy.log")); }

}  // namespace korvanel::test
