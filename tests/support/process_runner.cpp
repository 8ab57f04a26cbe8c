#include "tests/support/process_runner.h"

#include "tests/support/child_process.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace korvanel::test {

std::string cliPath() { return std::string(KORVANEL_BUILD_DIR) + "/korvanel-cli"; }

ProcessResult runProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::vector<std::string>& environment, std::chrono::milliseconds bound) {
    ProcessResult result;
    int outPipe[2], errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) {
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);

    std::vector<std::string> argvStrings{program};
    argvStrings.insert(argvStrings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& text : argvStrings) {
        argv.push_back(text.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> envStrings = mergedEnvironment(environment);
    std::vector<char*> envp;
    for (auto& text : envStrings) {
        envp.push_back(text.data());
    }
    envp.push_back(nullptr);

    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (spawned != 0) {
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        return result;
    }

    const auto deadline = std::chrono::steady_clock::now() + bound;
    pollfd entries[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    char buffer[65536];
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            ::kill(pid, SIGKILL);
            break;
        }
        if (::poll(entries, 2, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            if (entries[i].fd < 0 || entries[i].revents == 0) {
                continue;
            }
            const ssize_t got = ::read(entries[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(got));
            } else {
                ::close(entries[i].fd);
                entries[i].fd = -1;
                --open;
            }
        }
    }
    for (auto& entry : entries) {
        if (entry.fd >= 0) {
            ::close(entry.fd);
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!result.timedOut && WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    }
    return result;
}

}  // namespace korvanel::test
