#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "app/app_window.h"
#include "app/application.h"
#include "tests/support/temp_folder.h"

namespace korvanel::test {

// A main window that only records the events posted to it.
class EventWindow final : public AppWindow {
public:
    void applySettings(SettingsStore&) override {}
    void collectSettings(SettingsStore&) override {}
    void run() override {}
    void post(WindowEvent event) override {
        std::lock_guard<std::mutex> guard(lock_);
        events_.push_back(event.kind);
        texts_.push_back(event.text);
        changed_.notify_all();
    }

    // Waits (bounded) until count events arrived; returns their kinds.
    std::vector<EventKind> waitForEvents(std::size_t count,
                                             std::chrono::milliseconds bound = std::chrono::seconds(10)) {
        std::unique_lock<std::mutex> lock(lock_);
        changed_.wait_for(lock, bound, [&] { return events_.size() >= count; });
        return events_;
    }
    std::vector<std::string> texts() {
        std::lock_guard<std::mutex> guard(lock_);
        return texts_;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<EventKind> events_;
    std::vector<std::string> texts_;
};

enum class WithWindow { Yes, No };

// An Application whose program folder is a fresh temporary folder.
class TestApplication {
public:
    explicit TestApplication(WithWindow withWindow = WithWindow::Yes)
        : home_("KORVANEL_HOME", folder_.path()),
          application_([this, withWindow](Application&) -> std::unique_ptr<AppWindow> {
              if (withWindow == WithWindow::No) {
                  return nullptr;
              }
              auto window = std::make_unique<EventWindow>();
              window_ = window.get();
              return window;
          }) {}

    Application& app() { return application_; }
    EventWindow& window() { return *window_; }
    const TempFolder& folder() const { return folder_; }

private:
    TempFolder folder_;
    ScopedEnv home_;
    EventWindow* window_ = nullptr;
    Application application_;
};

}  // namespace korvanel::test
