#include "base/file_util.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvanel {
namespace {

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

}  // namespace

bool writeFileAtomically(const std::string& path, std::string_view bytes) {
    std::string tempPath = path + ".tmp-XXXXXX";
    const int fd = ::mkstemp(tempPath.data());
    if (fd < 0) {
        return false;
    }
    // mkstemp creates the file 0600; a settings file is as readable as any other.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);

    const bool written = writeAll(fd, bytes) && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(tempPath.c_str(), path.c_str()) != 0) {
        ::unlink(tempPath.c_str());
        return false;
    }
    return true;
}

std::optional<std::string> readWholeFile(const std::string& path, std::size_t maxBytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::string data;
    char block[65536];
    bool ok = true;
    for (;;) {
        const ssize_t got = ::read(fd, block, sizeof block);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            ok = false;
            break;
        }
        if (got == 0) {
            break;
        }
        if (data.size() + static_cast<std::size_t>(got) > maxBytes) {
            ok = false;
            break;
        }
        data.append(block, static_cast<std::size_t>(got));
    }
    ::close(fd);
    if (!ok) {
        return std::nullopt;
    }
    return data;
}

}  // namespace korvanel
