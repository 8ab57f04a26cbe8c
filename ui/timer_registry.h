#pragma once

#include <QObject>

#include <map>
#include <memory>
#include <vector>

class QTimer;

namespace korvanel {

// Repeating timers keyed by the message they announce: at most one timer per
// message, so a second start cannot double the tick rate. GUI thread only; the
// timers belong to the registry and end with it.
class TimerRegistry : public QObject {
    Q_OBJECT

public:
    explicit TimerRegistry(QObject* parent = nullptr);
    ~TimerRegistry() override;

    // False when the message already has a timer (which keeps its interval)
    // or the interval is not positive (a zero interval would spin).
    bool start(int message, int intervalMs);
    // Safe from a handler of fired(), also for the message being delivered.
    void stop(int message);
    bool isRunning(int message) const;
    // The running timer's interval, or -1 without one.
    int intervalMs(int message) const;

Q_SIGNALS:
    void fired(int message);

private:
    void deliver(int message);

    std::map<int, std::unique_ptr<QTimer>> timers_;
    // Timers stopped while one of them is delivering; destroyed after the
    // delivery has returned, never from inside their own signal.
    std::vector<std::unique_ptr<QTimer>> retired_;
    int deliveryDepth_ = 0;
};

}  // namespace korvanel
