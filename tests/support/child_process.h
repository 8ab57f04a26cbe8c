#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace korvanel::test {

// The test's environment with the extra entries ("NAME=value") put over it:
// an entry replaces the variable of its name, never shadowed by it.
std::vector<std::string> mergedEnvironment(const std::vector<std::string>& extra);

// A program running beside the test, for cases that act on it while it runs:
// signal it, watch its standard error grow, time its exit. Output is read on
// a thread of its own, so the child never blocks on a full pipe. The
// destructor kills a child still running and reaps it.
//
//     ChildProcess cli(cliPath(), {"play", url}, {"KORVANEL_HOME=" + home});
//     ASSERT_TRUE(cli.waitForErr(" :: Connecting to ", 5s));
//     cli.signal(SIGINT);
//     EXPECT_TRUE(cli.waitForExit(1s));
class ChildProcess {
public:
    // Started with setgid/setuid to these ids before exec (only as root).
    struct Identity {
        uid_t user = 0;
        gid_t group = 0;
    };

    // Runs the program (no shell) with extra environment variables
    // ("NAME=value", which win over the test's own); standard input is
    // /dev/null.
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const std::vector<std::string>& environment = {},
                 std::optional<Identity> identity = std::nullopt);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    std::string out() const;
    std::string err() const;
    // Waits until standard error holds `text` at least `count` times; false
    // when the bound passed or the output ended first.
    bool waitForErr(const std::string& text, std::chrono::milliseconds bound, std::size_t count = 1);
    // The same for standard output.
    bool waitForOut(const std::string& text, std::chrono::milliseconds bound, std::size_t count = 1);

    bool signal(int number);
    // Waits for the child to end and for all its output; the exit status
    // (128 + the signal for a killed child), or nothing when it still runs.
    std::optional<int> waitForExit(std::chrono::milliseconds bound);
    // After the exit: the largest resident set the program had, in KiB, as
    // last seen while waitForExit() waited (its memory's high-water mark).
    long peakResidentKib() const { return peakResidentKib_; }
    // While it runs: its resident set now, in KiB (0 when unknown).
    long residentKib() const;

private:
    void readOutput(int outFd, int errFd);
    // A "Name:  value kB" line of /proc/<pid>/status; 0 once it has ended.
    long statusField(const std::string& name) const;
    bool waitFor(const std::string ChildProcess::*stream, const std::string& text, std::chrono::milliseconds bound,
                 std::size_t count);

    pid_t pid_ = -1;
    std::optional<int> status_;
    long peakResidentKib_ = 0;
    mutable std::mutex lock_;
    std::condition_variable grown_;
    std::string out_;
    std::string err_;
    bool outputEnded_ = false;
    std::thread reader_;
};

// The number of times `text` occurs in `in`.
std::size_t countOf(const std::string& in, const std::string& text);

}  // namespace korvanel::test
