#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

#include "app/app_window.h"

namespace korvanel::test {

// A main window that keeps every event posted to it, so tests can wait for
// what the components report.
class CapturingWindow : public AppWindow {
public:
    void applySettings(SettingsStore&) override {}
    void collectSettings(SettingsStore&) override {}
    void run() override {}
    void post(WindowEvent event) override;

    // The oldest event not yet taken, waiting up to the bound for one.
    std::optional<WindowEvent> next(std::chrono::milliseconds bound = std::chrono::seconds(10));
    // Skips events until one of this kind arrives within the bound.
    std::optional<WindowEvent> waitFor(EventKind kind, std::chrono::milliseconds bound = std::chrono::seconds(10));
    std::size_t pending() const;

private:
    mutable std::mutex lock_;
    std::condition_variable arrived_;
    std::deque<WindowEvent> events_;
};

}  // namespace korvanel::test
