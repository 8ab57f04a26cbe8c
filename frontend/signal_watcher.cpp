#include "frontend/signal_watcher.h"

#include <csignal>
#include <pthread.h>
#include <unistd.h>

namespace korvanel {
namespace {

// SIGUSR2 is the watcher's own: the destructor sends it to end the wait at once.
constexpr int kStopSignal = SIGUSR2;

sigset_t watchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, kStopSignal);
    return set;
}

}  // namespace

SignalWatcher::SignalWatcher() {
    const sigset_t set = watchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    thread_ = std::thread([this] {
        const sigset_t watched = watchedSignals();
        while (!stop_.load()) {
            // The destructor's signal ends the wait; it stays pending if sent
            // before the wait begins.
            const int signal = sigwaitinfo(&watched, nullptr);
            if (signal == SIGINT || signal == SIGTERM) {
                if (interrupted_.exchange(true)) {
                    _exit(130);  // asked twice: the user wants out now
                }
                std::lock_guard<std::mutex> guard(callbackLock_);
                if (onInterrupt_) {
                    onInterrupt_();
                }
            }
        }
    });
}

void SignalWatcher::setOnInterrupt(std::function<void()> callback) {
    std::lock_guard<std::mutex> guard(callbackLock_);
    onInterrupt_ = std::move(callback);
}

SignalWatcher::~SignalWatcher() {
    stop_ = true;
    pthread_kill(thread_.native_handle(), kStopSignal);
    thread_.join();
}

}  // namespace korvanel
