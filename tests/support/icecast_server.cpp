#include "tests/support/icecast_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <thread>

extern char** environ;

namespace korvanel::test {
namespace {

using Clock = std::chrono::steady_clock;

const char* const kIcecast = "/usr/bin/icecast2";
const char* const kFfmpeg = "/usr/bin/ffmpeg";

std::string sourceLogName(const std::string& mount) {
    std::string name = "source" + mount + ".log";
    for (char& c : name) {
        c = c == '/' ? '_' : c;
    }
    return name;
}

int freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

int connectLoopback(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    timeval timeout{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    return fd;
}

std::string base64(const std::string& text) {
    static const char* const kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < text.size(); i += 3) {
        const unsigned value = (static_cast<unsigned char>(text[i]) << 16) |
                               (static_cast<unsigned char>(text[i + 1]) << 8) |
                               static_cast<unsigned char>(text[i + 2]);
        for (int shift = 18; shift >= 0; shift -= 6) {
            out.push_back(kAlphabet[(value >> shift) & 63]);
        }
    }
    if (i < text.size()) {
        unsigned value = static_cast<unsigned char>(text[i]) << 16;
        if (i + 1 < text.size()) {
            value |= static_cast<unsigned char>(text[i + 1]) << 8;
        }
        out.push_back(kAlphabet[(value >> 18) & 63]);
        out.push_back(kAlphabet[(value >> 12) & 63]);
        out.push_back(i + 1 < text.size() ? kAlphabet[(value >> 6) & 63] : '=');
        out.push_back('=');
    }
    return out;
}

std::string percentEncode(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) != 0 || c == '-' || c == '_' || c == '.' || c == '~') {
            out.push_back(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
            out += escaped;
        }
    }
    return out;
}

}  // namespace

// A child process with its output in a log file; killed and reaped when it goes.
struct IcecastServer::Child {
    pid_t pid = -1;
    int exitStatus = -1;  // waitpid's status once reaped

    Child(const std::vector<std::string>& arguments, const std::string& logPath) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        std::vector<std::string> copies = arguments;
        std::vector<char*> argv;
        for (std::string& text : copies) {
            argv.push_back(text.data());
        }
        argv.push_back(nullptr);
        if (::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }

    ~Child() { stop(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool running() {
        if (pid <= 0) {
            return false;
        }
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            exitStatus = status;
            return false;
        }
        return true;
    }

    std::string ending() const {
        if (pid > 0 || exitStatus < 0) {
            return {};
        }
        if (WIFSIGNALED(exitStatus)) {
            return "ended by signal " + std::to_string(WTERMSIG(exitStatus)) + "\n";
        }
        return "exited with status " + std::to_string(WEXITSTATUS(exitStatus)) + "\n";
    }

    void stop() {
        if (pid <= 0) {
            return;
        }
        ::kill(pid, SIGTERM);
        const auto deadline = Clock::now() + std::chrono::seconds(3);
        int status = 0;
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (Clock::now() > deadline) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid = -1;
    }
};

IcecastServer::IcecastServer() {
    // The folder's unique name makes the passwords unique among live servers.
    std::string unique = folder_.path();
    unique = unique.substr(unique.find_last_of('/') + 1);
    sourcePassword_ = "source-" + unique;
    adminPassword_ = "admin-" + unique;
}

IcecastServer::~IcecastServer() {
    sources_.clear();
    server_.reset();
}

bool IcecastServer::available() {
    return ::access(kIcecast, X_OK) == 0 && ::access(kFfmpeg, X_OK) == 0;
}

bool IcecastServer::start(std::chrono::milliseconds bound) {
    // Between finding a port free and icecast binding it another test may take
    // it; icecast then fails or someone else answers, and the next port is tried.
    for (int attempt = 0; attempt < 3; ++attempt) {
        server_.reset();
        port_ = freeLoopbackPort();
        if (port_ != 0 && launch(bound)) {
            return true;
        }
    }
    return false;
}

void IcecastServer::stop() {
    sources_.clear();
    server_.reset();
}

bool IcecastServer::restart(std::chrono::milliseconds bound) {
    stop();
    return port_ != 0 && launch(bound);
}

bool IcecastServer::launch(std::chrono::milliseconds bound) {
    const std::string logDir = folder_.file("log");
    ::mkdir(logDir.c_str(), 0777);
    // icecast drops to nobody as root: it must reach and write its log folder.
    ::chmod(folder_.path().c_str(), 0755);
    ::chmod(logDir.c_str(), 0777);
    const bool root = ::geteuid() == 0;
    std::ofstream config(folder_.file("icecast.xml"));
    config << "<icecast>\n"
              "  <location>loopback</location><admin>test@localhost</admin>\n"
              "  <limits><clients>32</clients><sources>8</sources><queue-size>524288</queue-size>\n"
              "    <client-timeout>30</client-timeout><header-timeout>15</header-timeout>\n"
              "    <source-timeout>10</source-timeout><burst-on-connect>1</burst-on-connect>\n"
              "    <burst-size>65535</burst-size></limits>\n"
              "  <authentication><source-password>"
           << sourcePassword_ << "</source-password><relay-password>" << sourcePassword_
           << "</relay-password><admin-user>" << kAdminUser << "</admin-user><admin-password>"
           << adminPassword_
           << "</admin-password></authentication>\n"
              "  <hostname>127.0.0.1</hostname>\n"
              "  <listen-socket><port>"
           << port_
           << "</port><bind-address>127.0.0.1</bind-address></listen-socket>\n"
              "  <fileserve>1</fileserve>\n"
              "  <paths><basedir>/usr/share/icecast2</basedir><logdir>"
           << logDir
           << "</logdir><webroot>/usr/share/icecast2/web</webroot>"
              "<adminroot>/usr/share/icecast2/admin</adminroot></paths>\n"
              "  <logging><accesslog>access.log</accesslog><errorlog>error.log</errorlog>"
              "<loglevel>3</loglevel><logsize>10000</logsize></logging>\n"
              "  <security><chroot>0</chroot>"
           << (root ? "<changeowner><user>nobody</user><group>nogroup</group></changeowner>" : "")
           << "</security>\n"
              "</icecast>\n";
    config.close();
    server_ = std::make_unique<Child>(
        std::vector<std::string>{kIcecast, "-c", folder_.file("icecast.xml")}, folder_.file("icecast.out"));
    const auto deadline = Clock::now() + bound;
    while (Clock::now() < deadline) {
        if (!server_->running()) {
            return false;
        }
        // Only our own icecast knows our admin password.
        if (request("/admin/stats", true).rfind("HTTP/1.0 200", 0) == 0) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

bool IcecastServer::startSource(const Source& source, std::chrono::milliseconds bound) {
    // A source that ends at once (a refused connection in a busy moment) is
    // given one more try; its log stays for errorLog().
    // A server that went away meanwhile is started again on its port, so
    // addresses already handed out stay right.
    const auto deadline = Clock::now() + bound;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            break;
        }
        if (launchSource(source, left)) {
            return true;
        }
        if (sources_.count(source.mount) && sources_[source.mount]->running()) {
            break;  // still running, but the mount never answered in time
        }
        if (server_ && !server_->running()) {
            serverEndings_ += "icecast " + server_->ending();
            const auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (rest.count() <= 0 || !launch(rest)) {
                break;
            }
        }
    }
    return false;
}

bool IcecastServer::launchSource(const Source& source, std::chrono::milliseconds bound) {
    const bool mp3 = source.codec == Codec::Mp3;
    const bool aac = source.codec == Codec::Aac;
    const char* codec = mp3                                ? "libmp3lame"
                        : aac                              ? "aac"
                        : source.codec == Codec::OggOpus ? "libopus"
                        : source.codec == Codec::OggFlac ? "flac"
                                                           : "libvorbis";
    const char* contentType = mp3 ? "audio/mpeg" : aac ? "audio/aac" : "application/ogg";
    const char* container = mp3 ? "mp3" : aac ? "adts" : "ogg";
    std::vector<std::string> arguments = {
        kFfmpeg, "-hide_banner", "-nostdin", "-loglevel", "error", "-re", "-f", "lavfi", "-i",
        "sine=frequency=" + std::to_string(source.frequencyHz) +
            ":sample_rate=" + std::to_string(source.sampleRate),
        "-ac", std::to_string(source.channels), "-c:a", codec, "-b:a",
        std::to_string(source.bitrateKbps) + "k", "-content_type", contentType, "-ice_name", source.stationName,
        "-ice_description", source.description, "-f", container,
        "icecast://source:" + sourcePassword_ + "@127.0.0.1:" + std::to_string(port_) +
            source.mount};
    const std::string logName = sourceLogName(source.mount);
    sources_.erase(source.mount);  // an earlier attempt's log is kept by appending
    auto child = std::make_unique<Child>(arguments, folder_.file(logName));
    Child* started = child.get();
    sources_[source.mount] = std::move(child);
    const auto deadline = Clock::now() + bound;
    while (Clock::now() < deadline) {
        if (!started->running()) {
            return false;
        }
        if (mountAnswers(source.mount)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

bool IcecastServer::startChainedSource(const std::string& mount, const std::string& path, int rate,
                                       std::chrono::milliseconds bound) {
    const std::vector<std::string> arguments = {
        "/usr/bin/python3", std::string(KORVANEL_SOURCE_DIR) + "/tests/support/ogg_chain_source.py",
        std::to_string(port_), mount, sourcePassword_, path, std::to_string(rate), "Korvanel Test Chains"};
    sources_.erase(mount);
    auto child = std::make_unique<Child>(arguments, folder_.file(sourceLogName(mount)));
    Child* started = child.get();
    sources_[mount] = std::move(child);
    const auto deadline = Clock::now() + bound;
    while (Clock::now() < deadline) {
        if (!started->running()) {
            return false;
        }
        if (mountAnswers(mount)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

void IcecastServer::stopSource(const std::string& mount) { sources_.erase(mount); }

bool IcecastServer::setTitle(const std::string& mount, const std::string& title) {
    const std::string answer =
        request("/admin/metadata?mount=" + percentEncode(mount) +
                    "&mode=updinfo&song=" + percentEncode(title),
                true);
    return answer.find(" 200") != std::string::npos &&
           answer.find("<return>1</return>") != std::string::npos;
}

std::string IcecastServer::url(const std::string& mount) const {
    return "http://127.0.0.1:" + std::to_string(port_) + mount;
}

std::string IcecastServer::errorLog() const {
    std::string text =
        readFile(folder_.file("log/error.log")) + readFile(folder_.file("icecast.out")) + serverEndings_;
    for (const auto& [mount, child] : sources_) {
        text += readFile(folder_.file(sourceLogName(mount)));
    }
    return text;
}

bool IcecastServer::mountAnswers(const std::string& mount) const {
    return request(mount, false).rfind("HTTP/1.0 200", 0) == 0;
}

std::string IcecastServer::request(const std::string& target, bool admin) const {
    const int fd = connectLoopback(port_);
    if (fd < 0) {
        return {};
    }
    std::string text = "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n";
    if (admin) {
        text += "Authorization: Basic " + base64(std::string(kAdminUser) + ":" + adminPassword_) + "\r\n";
    }
    text += "\r\n";
    std::string answer;
    if (::send(fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size())) {
        char buffer[4096];
        // A mount streams for ever: the head and a little body are enough.
        while (answer.size() < 65536) {
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got <= 0) {
                break;
            }
            answer.append(buffer, static_cast<std::size_t>(got));
            if (!admin && answer.find("\r\n\r\n") != std::string::npos) {
                break;
            }
        }
    }
    ::close(fd);
    return answer;
}

}  // namespace korvanel::test
