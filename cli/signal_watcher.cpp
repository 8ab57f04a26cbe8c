#include "cli/signal_watcher.h"

#include <csignal>
#include <ctime>
#include <unistd.h>

namespace korvanel {
namespace {

sigset_t watchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

SignalWatcher::SignalWatcher() {
    const sigset_t set = watchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    thread_ = std::thread([this] {
        const sigset_t watched = watchedSignals();
        const timespec poll{0, 100 * 1000 * 1000};
        while (!stop_.load()) {
            if (sigtimedwait(&watched, nullptr, &poll) > 0) {
                if (interrupted_.exchange(true)) {
                    _exit(130);  // asked twice: the user wants out now
                }
            }
        }
    });
}

SignalWatcher::~SignalWatcher() {
    stop_ = true;
    thread_.join();
}

}  // namespace korvanel
