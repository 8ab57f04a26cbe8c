#include "tests/support/pulse_test_server.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "tests/support/process_runner.h"

namespace korvanel::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kPulseaudio = "/usr/bin/pulseaudio";
constexpr const char* kPactl = "/usr/bin/pactl";
constexpr const char* kParec = "/usr/bin/parec";
constexpr const char* kPipeWire = "/usr/bin/pipewire";
constexpr const char* kPipeWirePulse = "/usr/bin/pipewire-pulse";
constexpr const char* kWirePlumber = "/usr/bin/wireplumber";
constexpr const char* kDbusDaemon = "/usr/bin/dbus-daemon";
constexpr int kRate = 44100;
constexpr int kFramesPerMs = kRate / 1000;

}  // namespace

bool PulseTestServer::available(SoundServerKind kind) {
    const bool tools = ::access(kPactl, X_OK) == 0 && ::access(kParec, X_OK) == 0;
    if (kind == SoundServerKind::PipeWire) {
        return tools && ::access(kPipeWire, X_OK) == 0 && ::access(kPipeWirePulse, X_OK) == 0 &&
               ::access(kWirePlumber, X_OK) == 0 && ::access(kDbusDaemon, X_OK) == 0;
    }
    return tools && ::access(kPulseaudio, X_OK) == 0;
}

PulseTestServer::PulseTestServer(const std::vector<std::string>& sinks, SoundServerKind kind) {
    ready_ = kind == SoundServerKind::PipeWire ? startPipeWire(sinks) : startPulseAudio(sinks);
}

PulseTestServer::~PulseTestServer() { kill(); }

bool PulseTestServer::startPulseAudio(const std::vector<std::string>& sinks) {
    socket_ = folder_.file("native");
    std::vector<std::string> arguments = {"-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                                          "--disallow-exit", "--log-target=stderr"};
    for (const std::string& sink : sinks) {
        arguments.push_back("-L");
        arguments.push_back("module-null-sink sink_name=" + sink + " sink_properties=device.description=Sink_" + sink);
    }
    arguments.push_back("-L");
    arguments.push_back("module-native-protocol-unix auth-anonymous=1 socket=" + socket_);
    processes_.push_back(std::make_unique<ChildProcess>(
        kPulseaudio, arguments,
        std::vector<std::string>{"HOME=" + folder_.path(), "XDG_RUNTIME_DIR=" + folder_.path(),
                                 "XDG_CONFIG_HOME=" + folder_.path(), "PULSE_SERVER="}));
    return waitUntilAnswering();
}

bool PulseTestServer::startPipeWire(const std::vector<std::string>& sinks) {
    socket_ = folder_.file("pulse/native");
    const std::string bus = "unix:path=" + folder_.file("bus");
    const std::vector<std::string> environment = {
        "HOME=" + folder_.path(), "XDG_RUNTIME_DIR=" + folder_.path(), "XDG_CONFIG_HOME=" + folder_.file("config"),
        "XDG_STATE_HOME=" + folder_.file("state"), "DBUS_SESSION_BUS_ADDRESS=" + bus, "PULSE_SERVER=",
        "PIPEWIRE_RUNTIME_DIR=" + folder_.path()};
    processes_.push_back(std::make_unique<ChildProcess>(
        kDbusDaemon, std::vector<std::string>{"--session", "--nofork", "--address=" + bus}, environment));
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (::access(folder_.file("bus").c_str(), F_OK) != 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    processes_.push_back(std::make_unique<ChildProcess>(kPipeWire, std::vector<std::string>{}, environment));
    const auto core = std::chrono::steady_clock::now() + 5s;
    while (::access(folder_.file("pipewire-0").c_str(), F_OK) != 0 && std::chrono::steady_clock::now() < core) {
        std::this_thread::sleep_for(10ms);
    }
    processes_.push_back(std::make_unique<ChildProcess>(kWirePlumber, std::vector<std::string>{}, environment));
    processes_.push_back(std::make_unique<ChildProcess>(kPipeWirePulse, std::vector<std::string>{}, environment));
    if (!waitUntilAnswering()) {
        return false;
    }
    for (const std::string& sink : sinks) {
        pactl({"load-module", "module-null-sink", "sink_name=" + sink,
               "sink_properties=device.description=Sink_" + sink});
    }
    // The first sink is the default, as it is for PulseAudio.
    if (!sinks.empty()) {
        pactl({"set-default-sink", sinks.front()});
    }
    const auto listed = std::chrono::steady_clock::now() + 5s;
    while (linesOf(pactl({"list", "short", "sinks"})).size() < sinks.size() &&
           std::chrono::steady_clock::now() < listed) {
        std::this_thread::sleep_for(20ms);
    }
    return linesOf(pactl({"list", "short", "sinks"})).size() >= sinks.size();
}

bool PulseTestServer::waitUntilAnswering() {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
        if (::access(socket_.c_str(), F_OK) == 0 && pactl({"info"}).find("Server Name") != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

std::string PulseTestServer::pactl(const std::vector<std::string>& arguments) const {
    return runProcess(kPactl, arguments, {"PULSE_SERVER=" + address()}, 10s).out;
}

void PulseTestServer::kill() {
    for (auto process = processes_.rbegin(); process != processes_.rend(); ++process) {
        (*process)->signal(SIGKILL);
        (*process)->waitForExit(5s);
    }
    processes_.clear();
}

SinkMonitor::SinkMonitor(const PulseTestServer& server, const std::string& sink) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        return;
    }
    const std::string device = "--device=" + sink + ".monitor";
    std::vector<std::string> texts = {kParec, device, "--format=s16le", "--rate=44100", "--channels=2",
                                      "--latency-msec=5", "--raw"};
    std::vector<char*> argv;
    for (std::string& text : texts) {
        argv.push_back(text.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> environment = mergedEnvironment({"PULSE_SERVER=" + server.address()});
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::execve(kParec, argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    fd_ = pipeFds[0];
    reader_ = std::thread([this] { read(); });
    // Sound is heard once parec's stream has started.
    waitForSilence(Clock::now(), 1 << 15, 50ms, 5s);
}

SinkMonitor::~SinkMonitor() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
    }
    if (reader_.joinable()) {
        reader_.join();
    }
    if (fd_ >= 0) {
        ::close(fd_);
    }
    if (pid_ > 0) {
        ::waitpid(pid_, nullptr, 0);
    }
}

void SinkMonitor::read() {
    std::vector<std::int16_t> carry;
    std::vector<std::uint8_t> buffer(64 * 1024);
    for (;;) {
        const ssize_t count = ::read(fd_, buffer.data(), buffer.size());
        const Clock::time_point arrived = Clock::now();
        if (count <= 0) {
            break;
        }
        const std::size_t old = carry.size();
        carry.resize(old + static_cast<std::size_t>(count) / 2);
        std::memcpy(carry.data() + old, buffer.data(), static_cast<std::size_t>(count) / 2 * 2);
        // Whole milliseconds of stereo frames; the last frame arrived now.
        const std::size_t blockSamples = kFramesPerMs * 2;
        const std::size_t blocks = carry.size() / blockSamples;
        std::lock_guard<std::mutex> guard(lock_);
        std::vector<std::int16_t> left;
        for (std::size_t b = 0; b < blocks; ++b) {
            int peak = 0;
            for (std::size_t i = b * blockSamples; i < (b + 1) * blockSamples; ++i) {
                peak = std::max(peak, std::abs(static_cast<int>(carry[i])));
                if (i % 2 == 0) {
                    left.push_back(carry[i]);
                }
            }
            levels_.push_back({arrived - std::chrono::milliseconds(static_cast<long>(blocks - 1 - b)), peak});
        }
        left_.emplace_back(arrived - std::chrono::milliseconds(static_cast<long>(blocks)), std::move(left));
        carry.erase(carry.begin(), carry.begin() + static_cast<std::ptrdiff_t>(blocks * blockSamples));
        grown_.notify_all();
    }
    std::lock_guard<std::mutex> guard(lock_);
    ended_ = true;
    grown_.notify_all();
}

std::optional<SinkMonitor::Clock::time_point> SinkMonitor::waitForSound(Clock::time_point since, int threshold,
                                                                       std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> lock(lock_);
    std::optional<Clock::time_point> found;
    grown_.wait_for(lock, bound, [&] {
        for (const Millisecond& ms : levels_) {
            if (ms.end > since && ms.peak > threshold) {
                found = ms.end;
                return true;
            }
        }
        return ended_;
    });
    return found;
}

std::optional<SinkMonitor::Clock::time_point> SinkMonitor::waitForSilence(Clock::time_point since, int threshold,
                                                                         std::chrono::milliseconds quiet,
                                                                         std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> lock(lock_);
    std::optional<Clock::time_point> found;
    grown_.wait_for(lock, bound, [&] {
        std::optional<Clock::time_point> silentFrom;
        for (const Millisecond& ms : levels_) {
            if (ms.end <= since) {
                continue;
            }
            if (ms.peak > threshold) {
                silentFrom.reset();
            } else if (!silentFrom) {
                silentFrom = ms.end - 1ms;
            }
        }
        if (silentFrom && !levels_.empty() && levels_.back().end - *silentFrom >= quiet) {
            found = silentFrom;
            return true;
        }
        return ended_;
    });
    return found;
}

std::vector<std::int16_t> SinkMonitor::leftSince(Clock::time_point since) const {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<std::int16_t> all;
    for (const auto& [start, samples] : left_) {
        if (start >= since) {
            all.insert(all.end(), samples.begin(), samples.end());
        }
    }
    return all;
}

}  // namespace korvanel::test
