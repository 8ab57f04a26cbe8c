#include "tests/support/x_display.h"

#include <unistd.h>

#include <csignal>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/child_process.h"
#include "tests/support/process_runner.h"

namespace korvanel::test {

namespace {

using namespace std::chrono_literals;

// The program's path from PATH, as a shell would find it; empty when absent.
std::string onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path != nullptr ? path : "/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        const std::string candidate = (folder.empty() ? std::string(".") : folder) + "/" + program;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return "";
}

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

}  // namespace

XDisplay::XDisplay() = default;

XDisplay::~XDisplay() {
    if (server_) {
        server_->signal(SIGTERM);
        server_->waitForExit(5s);
    }
}

bool XDisplay::available() {
    return !onPath("Xvfb").empty() && !onPath("xdotool").empty() && !onPath("import").empty();
}

bool XDisplay::start(std::chrono::milliseconds bound) {
    // Tests run side by side: two may pick the same free number at once. The
    // server that lost the race exits, and the display is only ours once its
    // lock file names our server; otherwise the next number is tried.
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (number_ = 90; number_ < 200 && std::chrono::steady_clock::now() < deadline; ++number_) {
        const std::string n = std::to_string(number_);
        if (std::filesystem::exists("/tmp/.X11-unix/X" + n) || std::filesystem::exists("/tmp/.X" + n + "-lock")) {
            continue;
        }
        server_ = std::make_unique<ChildProcess>(
            onPath("Xvfb"), std::vector<std::string>{name(), "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"});
        if (waitUntilOurs(deadline)) {
            return true;
        }
        server_.reset();
    }
    return false;
}

bool XDisplay::waitUntilOurs(std::chrono::steady_clock::time_point deadline) {
    const std::string n = std::to_string(number_);
    while (std::chrono::steady_clock::now() < deadline) {
        if (server_->waitForExit(0ms)) {
            return false;  // another server holds the number
        }
        std::ifstream lock("/tmp/.X" + n + "-lock");
        long owner = 0;
        if (lock >> owner && owner == server_->pid() && std::filesystem::exists("/tmp/.X11-unix/X" + n)) {
            bool ok = false;
            run("xdotool", {"getmouselocation"}, &ok);
            if (ok) {
                return true;
            }
        }
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

std::string XDisplay::run(const std::string& program, const std::vector<std::string>& arguments, bool* ok) {
    const ProcessResult result = runProcess(onPath(program), arguments, {"DISPLAY=" + name()}, 20s);
    if (ok != nullptr) {
        *ok = result.exitCode == 0;
    }
    return result.out;
}

std::optional<std::string> XDisplay::findWindow(const std::string& title, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < deadline) {
        bool ok = false;
        std::istringstream ids(run("xdotool", {"search", "--onlyvisible", "--name", "^" + title + "$"}, &ok));
        std::string id;
        if (ok && std::getline(ids, id) && !id.empty()) {
            return id;
        }
        std::this_thread::sleep_for(50ms);
    }
    return std::nullopt;
}

std::string XDisplay::title(const std::string& window) { return trimmed(run("xdotool", {"getwindowname", window})); }

bool XDisplay::waitForTitle(const std::string& window, const std::string& expected, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (title(window) != expected) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

bool XDisplay::focus(const std::string& window) {
    bool ok = false;
    run("xdotool", {"windowfocus", "--sync", window}, &ok);
    return ok;
}

bool XDisplay::shows(const std::string& title) {
    bool ok = false;
    const std::string ids = run("xdotool", {"search", "--onlyvisible", "--name", "^" + title + "$"}, &ok);
    return ok && !trimmed(ids).empty();
}

bool XDisplay::click(const std::string& window, int button) {
    bool ok = false;
    run("xdotool", {"mousemove", "--window", window, "8", "8", "click", std::to_string(button)}, &ok);
    return ok;
}

bool XDisplay::key(const std::string& keys) {
    bool ok = false;
    run("xdotool", {"key", "--clearmodifiers", keys}, &ok);
    return ok;
}

std::optional<XDisplay::Image> XDisplay::grab(const std::string& window) {
    bool ok = false;
    const std::string ppm = run("import", {"-window", window, "-depth", "8", "ppm:-"}, &ok);
    return ok ? parsePpm(ppm) : std::nullopt;
}

bool XDisplay::savePng(const std::string& window, const std::string& path) {
    bool ok = false;
    run("import", {"-window", window, path}, &ok);
    return ok;
}

std::optional<XDisplay::Image> parsePpm(const std::string& bytes) {
    std::istringstream in(bytes);
    std::string magic;
    int width = 0, height = 0, maximum = 0;
    if (!(in >> magic >> width >> height >> maximum) || magic != "P6" || maximum != 255 || width <= 0 ||
        height <= 0 || width > 16384 || height > 16384) {
        return std::nullopt;
    }
    in.get();  // the one white space after the header
    const auto start = static_cast<std::size_t>(in.tellg());
    const std::size_t size = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3;
    if (start > bytes.size() || bytes.size() - start < size) {
        return std::nullopt;
    }
    XDisplay::Image image{width, height, {}};
    image.rgb.assign(bytes.begin() + static_cast<std::ptrdiff_t>(start),
                     bytes.begin() + static_cast<std::ptrdiff_t>(start + size));
    return image;
}

}  // namespace korvanel::test
