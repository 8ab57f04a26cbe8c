#include "recording/output_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvanel {

bool OutputFile::create(const std::string& path) {
    close();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        return false;
    }
    fd_ = fd;
    path_ = path;
    size_ = 0;
    return true;
}

bool OutputFile::write(std::string_view bytes) {
    if (fd_ < 0 || removed()) {
        return false;
    }
    std::string_view rest = bytes;
    while (!rest.empty()) {
        const ssize_t written = ::write(fd_, rest.data(), rest.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            // Best effort: a file that cannot even be cut back is still closed
            // by the caller, which is what matters.
            if (::ftruncate(fd_, static_cast<off_t>(size_)) == 0) {
                ::lseek(fd_, static_cast<off_t>(size_), SEEK_SET);
            }
            return false;
        }
        rest.remove_prefix(static_cast<std::size_t>(written));
    }
    size_ += bytes.size();
    return true;
}

bool OutputFile::removed() const {
    struct stat status {};
    return ::fstat(fd_, &status) == 0 && status.st_nlink == 0;
}

bool OutputFile::writeAt(std::uint64_t offset, std::string_view bytes) {
    if (fd_ < 0 || offset > size_ || bytes.size() > size_ - offset) {
        return false;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::pwrite(fd_, bytes.data() + done, bytes.size() - done,
                                         static_cast<off_t>(offset + done));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

bool OutputFile::close() {
    if (fd_ < 0) {
        return true;
    }
    const int fd = fd_;
    fd_ = -1;
    path_.clear();
    size_ = 0;
    return ::close(fd) == 0;
}

}  // namespace korvanel
