#include "recording/recording_paths.h"

#include <cerrno>
#include <sys/stat.h>

#include "base/program_path.h"
#include "recording/file_name_cleaning.h"
#include "settings/text_encoding.h"

namespace korvanel {
namespace {

// Enough for years of recording one title again and again.
constexpr int kMaxSuffix = 100000;

bool exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

bool isFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

std::string recordingFolderFor(const std::string& setting) {
    std::string folder = resolveProgramPath(setting);
    while (!folder.empty() && (folder.back() == '/' || folder.back() == '\\')) {
        folder.pop_back();
    }
    return folder + '/';
}

std::string uniqueRecordingPath(const std::string& folder, std::string_view name, std::string_view extension) {
    const std::size_t slash = name.rfind('/');
    const std::string_view parents = slash == std::string_view::npos ? std::string_view() : name.substr(0, slash + 1);
    const std::string_view last = slash == std::string_view::npos ? name : name.substr(slash + 1);
    for (int number = 0; number <= kMaxSuffix; ++number) {
        const std::string suffix = (number == 0 ? std::string() : "[" + std::to_string(number) + "]") + std::string(extension);
        const std::size_t room = suffix.size() < kMaxComponentBytes ? kMaxComponentBytes - suffix.size() : 0;
        const std::string candidate = folder + std::string(parents) + std::string(truncateUtf8(last, room)) + suffix;
        if (!exists(candidate)) {
            return candidate;
        }
    }
    return {};
}

bool createFolders(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    if (isFolder(path)) {
        return true;
    }
    const std::string parent = parentFolder(path);
    if (parent.empty() || parent == path || !createFolders(parent)) {
        return false;
    }
    return ::mkdir(path.c_str(), 0777) == 0 || (errno == EEXIST && isFolder(path));
}

std::string parentFolder(const std::string& path) {
    std::size_t end = path.size();
    while (end > 1 && path[end - 1] == '/') {
        --end;  // "a/b/" is the folder "a/b"
    }
    const std::size_t slash = path.rfind('/', end - 1);
    if (slash == std::string::npos) {
        return {};
    }
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace korvanel
