#include "base/program_path.h"

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <system_error>
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

std::string withTrailingSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') {
        folder += '/';
    }
    return folder;
}

// A set, non-empty environment variable.
const char* environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

std::string homeFolder() {
    const char* home = environment("HOME");
    return withTrailingSlash(home != nullptr ? home : "/tmp");
}

bool isPortable(const std::string& executable) {
    if (::access((executable + "korvanel.xml").c_str(), W_OK) == 0) {
        return true;
    }
    return installedDataFolder().empty() && ::access(executable.c_str(), W_OK) == 0;
}

}  // namespace

std::string programFolder() {
    if (const char* home = environment("KORVANEL_HOME")) {
        return withTrailingSlash(home);
    }
    const std::string executable = executableFolder();
    if (isPortable(executable)) {
        return executable;
    }
    const char* config = environment("XDG_CONFIG_HOME");
    return (config != nullptr ? withTrailingSlash(config) : homeFolder() + ".config/") + "korvanel/";
}

bool programFolderIsPersonal() { return environment("KORVANEL_HOME") == nullptr && !isPortable(executableFolder()); }

std::string installedDataFolder() {
    const std::string executable = executableFolder();
    const std::string bin = "/bin/";
    if (executable.size() <= bin.size() || executable.compare(executable.size() - bin.size(), bin.size(), bin) != 0) {
        return {};
    }
    const std::string data = executable.substr(0, executable.size() - bin.size()) + "/share/korvanel/";
    return isDirectory(data) ? data : std::string();
}

bool preparePersonalFolder() {
    if (!programFolderIsPersonal()) {
        return true;
    }
    namespace fs = std::filesystem;
    const fs::path folder = programFolder();
    std::error_code error;
    fs::create_directories(folder / "languages", error);
    if (!isDirectory(folder.string())) {
        return false;
    }
    std::string shipped = installedDataFolder();
    if (shipped.empty()) {
        shipped = executableFolder();  // a read-only copy ships beside itself
    }
    const auto seed = [&](const fs::path& relative) {
        std::error_code ignored;
        fs::copy_file(fs::path(shipped) / relative, folder / relative, fs::copy_options::skip_existing, ignored);
    };
    seed("favorites.xml");
    seed("presets.xml");
    for (const auto& entry : fs::directory_iterator(fs::path(shipped) / "languages", error)) {
        if (entry.path().extension() == ".xml") {
            seed(fs::path("languages") / entry.path().filename());
        }
    }
    return true;
}

std::string musicFolder() {
    if (const char* music = environment("XDG_MUSIC_DIR")) {
        return withTrailingSlash(music);
    }
    return homeFolder() + "Music/";
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
