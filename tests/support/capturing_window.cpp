#include "tests/support/capturing_window.h"

namespace korvanel::test {

void CapturingWindow::post(WindowEvent event) {
    std::lock_guard<std::mutex> guard(lock_);
    events_.push_back(std::move(event));
    arrived_.notify_all();
}

std::optional<WindowEvent> CapturingWindow::next(std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> lock(lock_);
    if (!arrived_.wait_for(lock, bound, [this] { return !events_.empty(); })) {
        return std::nullopt;
    }
    WindowEvent event = std::move(events_.front());
    events_.pop_front();
    return event;
}

std::optional<WindowEvent> CapturingWindow::waitFor(EventKind kind, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return std::nullopt;
        }
        std::optional<WindowEvent> event = next(left);
        if (!event || event->kind == kind) {
            return event;
        }
    }
}

std::size_t CapturingWindow::pending() const {
    std::lock_guard<std::mutex> guard(lock_);
    return events_.size();
}

}  // namespace korvanel::test
