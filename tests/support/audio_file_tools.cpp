#include "tests/support/audio_file_tools.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace korvanel::test {

ToolResult runTool(const std::vector<std::string>& arguments, int timeoutSeconds) {
    ToolResult result;
    if (arguments.empty()) {
        return result;
    }
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        return result;
    }
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], 1);
        ::dup2(pipeFds[1], 2);
        const int devNull = ::open("/dev/null", O_RDONLY);
        ::dup2(devNull, 0);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    if (pid < 0) {
        ::close(pipeFds[0]);
        return result;
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    bool timedOut = false;
    char block[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd entry{pipeFds[0], POLLIN, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
        if (ready < 0) {
            continue;
        }
        if (ready == 0) {
            continue;
        }
        const ssize_t got = ::read(pipeFds[0], block, sizeof block);
        if (got <= 0) {
            break;
        }
        result.output.append(block, static_cast<std::size_t>(got));
    }
    ::close(pipeFds[0]);
    if (timedOut) {
        ::kill(pid, SIGKILL);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.exitCode = !timedOut && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

bool haveTool(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        const std::size_t end = folders.find(':', start);
        const std::string folder = folders.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!folder.empty() && ::access((folder + "/" + name).c_str(), X_OK) == 0) {
            return true;
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return false;
}

namespace {

bool succeeded(const ToolResult& result, std::string* log) {
    if (log != nullptr) {
        *log = result.output;
    }
    return result.exitCode == 0;
}

}  // namespace

bool makeSineWav(const std::string& path, double seconds, int sampleRate, int channels, std::string* log) {
    const std::string duration = std::to_string(seconds);
    const std::string rate = std::to_string(sampleRate);
    std::vector<std::string> arguments{"ffmpeg", "-hide_banner", "-nostdin", "-y", "-v", "error",
                                       "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=" + rate + ":duration=" + duration};
    if (channels == 2) {
        arguments.insert(arguments.end(), {"-f", "lavfi", "-i",
                                           "sine=frequency=660:sample_rate=" + rate + ":duration=" + duration,
                                           "-filter_complex", "[0:a][1:a]amerge=inputs=2"});
    }
    arguments.insert(arguments.end(), {"-c:a", "pcm_s16le", path});
    return succeeded(runTool(arguments), log);
}

bool encodeWithFfmpeg(const std::string& input, const std::string& output, const std::string& codec,
                      const std::vector<std::string>& extraArguments, std::string* log) {
    std::vector<std::string> arguments{"ffmpeg", "-hide_banner", "-nostdin", "-y", "-v", "error", "-i", input, "-c:a", codec};
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    arguments.push_back(output);
    return succeeded(runTool(arguments), log);
}

std::map<std::string, std::string> probeStream(const std::string& path) {
    std::map<std::string, std::string> fields;
    const ToolResult result = runTool({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                                       "stream", "-of", "default=noprint_wrappers=1", path});
    if (result.exitCode != 0) {
        return fields;
    }
    std::size_t start = 0;
    while (start < result.output.size()) {
        std::size_t end = result.output.find('\n', start);
        end = end == std::string::npos ? result.output.size() : end;
        const std::string line = result.output.substr(start, end - start);
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos) {
            fields[line.substr(0, equals)] = line.substr(equals + 1);
        }
        start = end + 1;
    }
    return fields;
}

namespace {

std::string linesWithAny(const std::string& text, const std::vector<std::string>& markers,
                         const std::string& harmless) {
    std::string found;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end;
        const std::string line = text.substr(start, end - start);
        for (const std::string& marker : markers) {
            if (line.find(marker) != std::string::npos && (harmless.empty() || line.find(harmless) == std::string::npos)) {
                found += line + "\n";
                break;
            }
        }
        start = end + 1;
    }
    return found;
}

}  // namespace

std::string mp3valProblems(const std::string& path) {
    const ToolResult result = runTool({"mp3val", path});
    if (result.exitCode != 0) {
        return "mp3val failed: " + result.output;
    }
    return linesWithAny(result.output, {"WARNING", "ERROR"}, "No supported tags in the file");
}

std::string ogginfoProblems(const std::string& path) {
    const ToolResult result = runTool({"ogginfo", path});
    const std::string found = linesWithAny(result.output, {"WARNING", "Warning", "ERROR", "Error"}, "");
    if (result.exitCode != 0 && found.empty()) {
        return "ogginfo failed: " + result.output;
    }
    return found;
}

long countPackets(const std::string& path) {
    const std::string value = [&] {
        const ToolResult result = runTool({"ffprobe", "-v", "error", "-select_streams", "a:0", "-count_packets",
                                           "-show_entries", "stream=nb_read_packets", "-of",
                                           "default=noprint_wrappers=1:nokey=1", path});
        return result.exitCode == 0 ? result.output : std::string();
    }();
    return value.empty() ? -1 : std::strtol(value.c_str(), nullptr, 10);
}

double decodedSeconds(const std::string& path) {
    // -xerror turns any decoding error into a failure.
    const ToolResult result = runTool({"ffmpeg", "-hide_banner", "-nostdin", "-v", "error", "-xerror", "-i", path,
                                       "-f", "s16le", "-ac", "1", "-ar", "8000", "-c:a", "pcm_s16le", "pipe:1"});
    // At this log level anything on the shared output besides the samples is an error.
    if (result.exitCode != 0) {
        return -1;
    }
    return static_cast<double>(result.output.size()) / (8000.0 * 2);
}

}  // namespace korvanel::test
