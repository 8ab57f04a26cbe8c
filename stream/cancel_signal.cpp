#include "stream/cancel_signal.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace korvanel {

namespace {

void setFlags(int fd) {
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

}  // namespace

CancelSignal::CancelSignal() {
    int ends[2];
    if (::pipe(ends) == 0) {
        readEnd_.reset(ends[0]);
        writeEnd_.reset(ends[1]);
        setFlags(ends[0]);
        setFlags(ends[1]);
    }
}

void CancelSignal::raise() {
    if (writeEnd_.valid()) {
        const char byte = 1;
        // Nothing ever reads it, so one byte keeps the pipe readable for good.
        [[maybe_unused]] ssize_t written = ::write(writeEnd_.get(), &byte, 1);
    }
}

bool CancelSignal::raised() const {
    if (!readEnd_.valid()) {
        return false;
    }
    pollfd entry{readEnd_.get(), POLLIN, 0};
    return ::poll(&entry, 1, 0) > 0;
}

}  // namespace korvanel
