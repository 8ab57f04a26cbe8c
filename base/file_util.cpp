#include "base/file_util.h"

#include <cerrno>
#include <utility>
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

AtomicFileWriter::AtomicFileWriter(std::string path) : path_(std::move(path)), tempPath_(path_ + ".tmp-XXXXXX") {
    fd_ = ::mkstemp(tempPath_.data());
    if (fd_ < 0) {
        failed_ = true;
        return;
    }
    // mkstemp creates the file 0600; a settings file is as readable as any other.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd_, 0666 & ~mask);
}

AtomicFileWriter::~AtomicFileWriter() {
    if (fd_ >= 0) {
        ::close(fd_);
        ::unlink(tempPath_.c_str());
    }
}

bool AtomicFileWriter::append(std::string_view bytes) {
    failed_ = failed_ || !writeAll(fd_, bytes);
    return !failed_;
}

bool AtomicFileWriter::commit() {
    if (fd_ < 0) {
        return false;
    }
    const bool written = !failed_ && ::fsync(fd_) == 0;
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    if (!written || !closed || ::rename(tempPath_.c_str(), path_.c_str()) != 0) {
        ::unlink(tempPath_.c_str());
        return false;
    }
    return true;
}

bool writeFileAtomically(const std::string& path, std::string_view bytes) {
    AtomicFileWriter file(path);
    return file.append(bytes) && file.commit();
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
