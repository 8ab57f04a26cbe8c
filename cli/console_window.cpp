#include "cli/console_window.h"

#include "app/application.h"

namespace korvanel {

ConsoleWindow::ConsoleWindow(Application& application, std::FILE* out)
    : out_(out),
      handler_(std::make_unique<WindowEvents>(application, *this)),
      events_([this](WindowEvent& event) { handle(event); }) {}

ConsoleWindow::~ConsoleWindow() { events_.stop(SerialQueue<WindowEvent>::Pending::Drop); }

void ConsoleWindow::applySettings(SettingsStore&) {}

void ConsoleWindow::collectSettings(SettingsStore& store) { handler_->saveHistory(store); }

void ConsoleWindow::run() {
    std::unique_lock<std::mutex> lock(quitLock_);
    quitChanged_.wait(lock, [this] { return quitRequested_; });
}

void ConsoleWindow::quit() {
    std::lock_guard<std::mutex> guard(quitLock_);
    quitRequested_ = true;
    quitChanged_.notify_all();
}

void ConsoleWindow::addLogLine(LogKind, const std::string& text) {
    const std::string line = logTimeStamp() + text + "\n";
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fflush(out_);
}

void ConsoleWindow::setEventObserver(std::function<void(const WindowEvent&)> observer) {
    std::lock_guard<std::mutex> guard(observerLock_);
    observer_ = std::move(observer);
}

void ConsoleWindow::handle(WindowEvent& event) {
    handler_->handle(event);
    std::lock_guard<std::mutex> guard(observerLock_);
    if (observer_) {
        observer_(event);
    }
}

}  // namespace korvanel
