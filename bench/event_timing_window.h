#pragma once

// A main window for benchmarks that drive the player: it keeps no events,
// only how many of each kind came and when the last "stopped" came, so the
// benchmark's own bookkeeping does not grow with the work it measures.
// Any thread may post; the figures are read on another.

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include "app/app_window.h"
#include "base/window_event.h"

namespace korvanel::bench {

class EventTimingWindow : public AppWindow {
public:
    using Clock = std::chrono::steady_clock;

    struct Counts {
        long connected = 0;
        long stopped = 0;
        long errors = 0;    // error lines and messages (failures, verdicts)
        Clock::time_point lastStopped{};
        std::string lastProblem;
    };

    void applySettings(SettingsStore&) override {}
    void collectSettings(SettingsStore&) override {}
    void run() override {}

    void post(WindowEvent event) override {
        const Clock::time_point now = Clock::now();
        std::lock_guard<std::mutex> guard(lock_);
        switch (event.kind) {
            case EventKind::Connected:
                ++counts_.connected;
                break;
            case EventKind::Stopped:
                ++counts_.stopped;
                counts_.lastStopped = now;
                break;
            case EventKind::Error:
            case EventKind::Message:
                ++counts_.errors;
                counts_.lastProblem = std::move(event.text);
                break;
            default:
                break;
        }
    }

    Counts counts() const {
        std::lock_guard<std::mutex> guard(lock_);
        return counts_;
    }

private:
    mutable std::mutex lock_;
    Counts counts_;
};

}  // namespace korvanel::bench
