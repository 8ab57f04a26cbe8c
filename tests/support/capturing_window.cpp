#include "tests/support/capturing_window.h"

namespace korvanel::test {

void CapturingWindow::post(Job event) {
    std::lock_guard<std::mutex> guard(lock_);
    events_.push_back(std::move(event));
    arrived_.notify_all();
}

std::optional<Job> CapturingWindow::next(std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> lock(lock_);
    if (!arrived_.wait_for(lock, bound, [this] { return !events_.empty(); })) {
        return std::nullopt;
    }
    Job event = std::move(events_.front());
    events_.pop_front();
    return event;
}

std::optional<Job> CapturingWindow::waitFor(std::uint32_t code, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return std::nullopt;
        }
        std::optional<Job> event = next(left);
        if (!event || event->code == code) {
            return event;
        }
    }
}

std::size_t CapturingWindow::pending() const {
    std::lock_guard<std::mutex> guard(lock_);
    return events_.size();
}

}  // namespace korvanel::test
