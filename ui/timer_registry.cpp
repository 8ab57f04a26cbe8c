#include "ui/timer_registry.h"

#include <QTimer>

namespace korvanel {

TimerRegistry::TimerRegistry(QObject* parent) : QObject(parent) {}

TimerRegistry::~TimerRegistry() = default;

bool TimerRegistry::start(int message, int intervalMs) {
    if (intervalMs <= 0 || timers_.contains(message)) {
        return false;
    }
    auto timer = std::make_unique<QTimer>();
    timer->setInterval(intervalMs);
    connect(timer.get(), &QTimer::timeout, this, [this, message] { deliver(message); });
    timer->start();
    timers_.emplace(message, std::move(timer));
    return true;
}

void TimerRegistry::stop(int message) {
    const auto found = timers_.find(message);
    if (found == timers_.end()) {
        return;
    }
    found->second->stop();
    if (deliveryDepth_ > 0) {
        retired_.push_back(std::move(found->second));
    }
    timers_.erase(found);
}

bool TimerRegistry::isRunning(int message) const { return timers_.contains(message); }

int TimerRegistry::intervalMs(int message) const {
    const auto found = timers_.find(message);
    return found == timers_.end() ? -1 : found->second->interval();
}

void TimerRegistry::deliver(int message) {
    ++deliveryDepth_;
    Q_EMIT fired(message);
    // Still inside the timer's own timeout signal here: free retired timers
    // on the next pass of the event loop.
    if (--deliveryDepth_ == 0 && !retired_.empty()) {
        QMetaObject::invokeMethod(
            this, [this] { retired_.clear(); }, Qt::QueuedConnection);
    }
}

}  // namespace korvanel
