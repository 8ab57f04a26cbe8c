#include "tests/support/child_process.h"

#include <fcntl.h>
#include <cerrno>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

extern char** environ;

namespace korvanel::test {
namespace {

using Clock = std::chrono::steady_clock;

std::string nameOf(const std::string& entry) { return entry.substr(0, entry.find('=')); }

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (auto& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

std::vector<std::string> mergedEnvironment(const std::vector<std::string>& extra) {
    std::vector<std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        bool replaced = false;
        for (const auto& added : extra) {
            replaced = replaced || nameOf(added) == nameOf(text);
        }
        if (!replaced) {
            merged.push_back(text);
        }
    }
    merged.insert(merged.end(), extra.begin(), extra.end());
    return merged;
}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::vector<std::string>& environment, std::optional<Identity> identity) {
    int outPipe[2], errPipe[2], execPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0) {
        return;
    }
    if (::pipe2(errPipe, O_CLOEXEC) != 0) {
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        return;
    }
    // Closed by a successful exec: until then the child is a copy of the
    // test, whose memory it must not be measured by.
    if (::pipe2(execPipe, O_CLOEXEC) != 0) {
        for (const int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) {
            ::close(fd);
        }
        return;
    }
    // Everything the child needs is made before the fork: between fork and
    // exec only async-signal-safe calls are allowed.
    std::vector<std::string> argvTexts{program};
    argvTexts.insert(argvTexts.end(), arguments.begin(), arguments.end());
    std::vector<std::string> envTexts = mergedEnvironment(environment);
    std::vector<char*> argv = pointersTo(argvTexts);
    std::vector<char*> envp = pointersTo(envTexts);

    pid_ = ::fork();
    if (pid_ == 0) {
        const int input = ::open("/dev/null", O_RDONLY);
        if (input < 0 || ::dup2(input, 0) < 0 || ::dup2(outPipe[1], 1) < 0 || ::dup2(errPipe[1], 2) < 0) {
            ::_exit(126);
        }
        if (identity && (::setgroups(0, nullptr) != 0 || ::setgid(identity->group) != 0 ||
                         ::setuid(identity->user) != 0)) {
            ::_exit(126);
        }
        ::execve(program.c_str(), argv.data(), envp.data());
        const char failed = 1;
        [[maybe_unused]] const ssize_t told = ::write(execPipe[1], &failed, 1);
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    ::close(execPipe[1]);
    if (pid_ < 0) {
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        ::close(execPipe[0]);
        return;
    }
    char failed = 0;
    while (::read(execPipe[0], &failed, 1) < 0 && errno == EINTR) {
    }
    ::close(execPipe[0]);
    reader_ = std::thread([this, outFd = outPipe[0], errFd = errPipe[0]] { readOutput(outFd, errFd); });
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !status_) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    if (reader_.joinable()) {
        reader_.join();
    }
}

void ChildProcess::readOutput(int outFd, int errFd) {
    pollfd entries[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    int open = 2;
    char buffer[65536];
    while (open > 0) {
        if (::poll(entries, 2, -1) < 0) {
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            if (entries[i].fd < 0 || entries[i].revents == 0) {
                continue;
            }
            const ssize_t got = ::read(entries[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                std::lock_guard<std::mutex> guard(lock_);
                (i == 0 ? out_ : err_).append(buffer, static_cast<std::size_t>(got));
                grown_.notify_all();
            } else {
                ::close(entries[i].fd);
                entries[i].fd = -1;
                --open;
            }
        }
    }
    std::lock_guard<std::mutex> guard(lock_);
    outputEnded_ = true;
    grown_.notify_all();
}

std::string ChildProcess::out() const {
    std::lock_guard<std::mutex> guard(lock_);
    return out_;
}

std::string ChildProcess::err() const {
    std::lock_guard<std::mutex> guard(lock_);
    return err_;
}

bool ChildProcess::waitForErr(const std::string& text, std::chrono::milliseconds bound, std::size_t count) {
    return waitFor(&ChildProcess::err_, text, bound, count);
}

bool ChildProcess::waitForOut(const std::string& text, std::chrono::milliseconds bound, std::size_t count) {
    return waitFor(&ChildProcess::out_, text, bound, count);
}

bool ChildProcess::waitFor(const std::string ChildProcess::*stream, const std::string& text,
                           std::chrono::milliseconds bound, std::size_t count) {
    std::unique_lock<std::mutex> lock(lock_);
    const std::string& output = this->*stream;
    return grown_.wait_for(lock, bound, [&] { return countOf(output, text) >= count || outputEnded_; }) &&
           countOf(output, text) >= count;
}

bool ChildProcess::signal(int number) { return pid_ > 0 && !status_ && ::kill(pid_, number) == 0; }

std::optional<int> ChildProcess::waitForExit(std::chrono::milliseconds bound) {
    if (pid_ <= 0) {
        return std::nullopt;
    }
    const auto deadline = Clock::now() + bound;
    while (!status_) {
        // The high-water mark of the program's own memory; the system's
        // count for a child would include the test's, copied by the fork.
        peakResidentKib_ = std::max(peakResidentKib_, statusField("VmHWM:"));
        int status = 0;
        const pid_t ended = ::waitpid(pid_, &status, WNOHANG);
        if (ended == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (Clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (reader_.joinable()) {
        reader_.join();
    }
    return status_;
}

long ChildProcess::residentKib() const { return statusField("VmRSS:"); }

long ChildProcess::statusField(const std::string& name) const {
    if (pid_ <= 0 || status_) {
        return 0;
    }
    std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(name, 0) == 0) {
            return std::atol(line.c_str() + name.size());
        }
    }
    return 0;
}

std::size_t countOf(const std::string& in, const std::string& text) {
    if (text.empty()) {
        return 0;
    }
    std::size_t count = 0;
    for (std::size_t at = in.find(text); at != std::string::npos; at = in.find(text, at + text.size())) {
        ++count;
    }
    return count;
}

}  // namespace korvanel::test
