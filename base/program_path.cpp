#include "base/program_path.h"

#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace korvanel {
namespace {

std::string withSlashes(std::string path) {
    for (char& c : path) {
        if (c == '\\') {
            c = '/';
        }
    }
    return path;
}

bool isDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string executableFolder() {
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) {
        return "./";
    }
    std::string path(buffer, static_cast<std::size_t>(length));
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

}  // namespace

std::string programFolder() {
    const char* home = std::getenv("KORVANEL_HOME");
    if (home != nullptr && *home != '\0') {
        std::string folder = home;
        if (folder.back() != '/') {
            folder += '/';
        }
        return folder;
    }
    return executableFolder();
}

std::string resolveProgramPath(const std::string& path) {
    std::string result = withSlashes(path);
    if (result.empty() || result.front() != '/') {
        result = programFolder() + result;
    }
    if (isDirectory(result)) {
        while (result.size() > 1 && result.back() == '/') {
            result.pop_back();
        }
        result += '/';
    }
    return result;
}

std::string programRelativePath(const std::string& path) {
    const std::string folder = programFolder();
    if (path.size() <= folder.size() || path.compare(0, folder.size(), folder) != 0) {
        return path;
    }
    const std::string rest = path.substr(folder.size());
    const std::string padded = "/" + rest + "/";
    if (padded.find("/../") != std::string::npos || rest.front() == '/') {
        return path;
    }
    return rest;
}

}  // namespace korvanel
