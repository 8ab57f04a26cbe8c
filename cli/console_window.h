#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>

#include "app/app_window.h"
#include "base/job.h"
#include "base/serial_queue.h"
#include "frontend/window_events.h"
#include "frontend/window_view.h"

namespace korvanel {

class Application;

// The console in place of the desktop window: it handles the same events on
// its own worker and prints the same log lines, time stamp first, to
// standard error. run() waits until quit() is called.
//
// Threads: post() and quit() from any thread; run() on the main thread;
// the events are handled, and the view calls made, on the event worker.
// The destructor drops events not handled yet.
class ConsoleWindow final : public AppWindow, public WindowView {
public:
    ConsoleWindow(Application& application, std::FILE* out);
    ~ConsoleWindow() override;

    // AppWindow
    void applySettings(SettingsStore& store) override;
    void collectSettings(SettingsStore& store) override;
    void run() override;
    void post(WindowEvent event) override { events_.post(std::move(event)); }

    // Ends run(); callable from any thread.
    void quit();
    // Events queued and not taken by the worker yet; any thread.
    std::size_t pendingCount() const { return events_.pendingCount(); }

    // Told of every event after it was handled, on the event worker.
    void setEventObserver(std::function<void(const WindowEvent&)> observer);

    // Only the event worker may use these.
    WindowEvents& events() { return *handler_; }

    // WindowView
    void addLogLine(LogKind kind, const std::string& text) override;
    void setStatusText(int, const std::string&) override {}
    void refresh(DisplayPart) override {}
    // The log line of every message is written already.
    void showMessage(MessageIcon, const std::string&, const std::string&) override {}

private:
    void handle(WindowEvent& event);

    std::FILE* out_;
    std::unique_ptr<WindowEvents> handler_;
    std::mutex observerLock_;
    std::function<void(const WindowEvent&)> observer_;
    std::mutex quitLock_;
    std::condition_variable quitChanged_;
    bool quitRequested_ = false;
    // Last: the worker starts when everything it uses exists.
    SerialQueue<WindowEvent> events_;
};

}  // namespace korvanel
