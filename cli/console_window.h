#pragma once

#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>

#include "app/app_window.h"
#include "base/job_pool.h"
#include "frontend/window_events.h"
#include "frontend/window_view.h"

namespace korvanel {

class Application;

// The console in place of the desktop window: it handles the same events on
// its own worker and prints the same log lines, time stamp first, to
// standard error. run() waits until quit() is called.
class ConsoleWindow final : public AppWindow, public JobPool, public WindowView {
public:
    ConsoleWindow(Application& application, std::FILE* out);
    ~ConsoleWindow() override;

    // AppWindow
    void applySettings(SettingsStore& store) override;
    void collectSettings(SettingsStore& store) override;
    void run() override;
    void post(Job event) override { JobPool::post(std::move(event)); }

    // Ends run(); callable from any thread.
    void quit();

    // Told of every event after it was handled, on the event worker.
    void setEventObserver(std::function<void(const Job&)> observer);

    // Only the event worker may use these.
    WindowEvents& events() { return *events_; }

    // WindowView
    void addLogLine(LogKind kind, const std::string& text) override;
    void setStatusText(int, const std::string&) override {}
    void refresh(DisplayPart) override {}
    // The log line of every message is written already.
    void showMessage(MessageIcon, const std::string&, const std::string&) override {}

protected:
    void runJob(Job& job) override;

private:
    std::FILE* out_;
    std::unique_ptr<WindowEvents> events_;
    std::mutex observerLock_;
    std::function<void(const Job&)> observer_;
    std::mutex quitLock_;
    std::condition_variable quitChanged_;
    bool quitRequested_ = false;
};

}  // namespace korvanel
