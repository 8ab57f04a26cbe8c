#include "cli/play_session.h"

#include <algorithm>

#include "app/application.h"
#include "base/window_event.h"

namespace korvanel {
namespace {

using Clock = std::chrono::steady_clock;
// After a finite stream ended and the player stopped, a move to the next
// entry shows within this time as a new connect run.
constexpr auto kNextEntryGrace = std::chrono::milliseconds(500);
// How often a playing run looks whether the levelling gain has settled.
constexpr auto kLevellingLook = std::chrono::milliseconds(250);

}  // namespace

PlaySession::PlaySession(Application& application) : application_(application) {}

bool PlaySession::gaveUp(const std::string& message) const {
    const SettingsStore& language = application_.language();
    for (const char* key : {"Player/Error/AllFailed", "Player/Error/NoSource", "Player/Error/InitError"}) {
        if (message == language.getString(key)) {
            return true;
        }
    }
    // The critical error carries the library's text after its own.
    const std::string critical = language.getString("Player/Error/Critical");
    const std::size_t placeholder = critical.find("%s");
    return placeholder != std::string::npos && placeholder > 0 &&
           message.compare(0, placeholder, critical, 0, placeholder) == 0;
}

void PlaySession::onEvent(const WindowEvent& event) {
    std::lock_guard<std::mutex> guard(lock_);
    switch (event.kind) {
        case EventKind::Connected:
            if (!firstSound_) {
                firstSound_ = Clock::now();
            }
            break;
        case EventKind::Connecting:
            stoppedAfterEnd_.reset();
            finiteEnded_ = false;
            break;
        case EventKind::StreamEnded:
            finiteEnded_ = true;
            break;
        case EventKind::Stopped:
            if (finiteEnded_) {
                stoppedAfterEnd_ = Clock::now();
            }
            break;
        case EventKind::StreamLost: {
            const SettingsStore& settings = application_.settings();
            if (settings.getInt("General/ReconnectRetries") + settings.getInt("General/RestartRetries") <= 0) {
                gaveUp_ = true;  // no reconnect will come
            }
            break;
        }
        case EventKind::Message:
            gaveUp_ = gaveUp_ || gaveUp(event.text);
            break;
        default:
            break;
    }
    changed_.notify_all();
}

void PlaySession::interruptSet() {
    std::lock_guard<std::mutex> guard(lock_);
    changed_.notify_all();
}

PlaySession::Outcome PlaySession::wait(std::optional<int> seconds, const std::atomic<bool>& interrupted) {
    std::unique_lock<std::mutex> lock(lock_);
    for (;;) {
        if (interrupted.load()) {
            return Outcome::Interrupted;
        }
        if (gaveUp_) {
            return Outcome::GaveUp;
        }
        const auto now = Clock::now();
        std::optional<Clock::time_point> wakeAt;
        if (stoppedAfterEnd_) {
            if (now - *stoppedAfterEnd_ >= kNextEntryGrace) {
                return Outcome::Finished;
            }
            wakeAt = *stoppedAfterEnd_ + kNextEntryGrace;
        }
        if (seconds && firstSound_) {
            const auto end = *firstSound_ + std::chrono::seconds(*seconds);
            if (now >= end) {
                return Outcome::TimeUp;
            }
            wakeAt = std::min(wakeAt.value_or(end), end);
        }
        if (firstSound_) {
            if (const std::optional<double> gain = application_.leveller().takeSettledGainDb()) {
                application_.events().post(makeEvent(EventKind::Levelled, Leveller::gainText(*gain)));
            }
            wakeAt = std::min(wakeAt.value_or(now + kLevellingLook), now + kLevellingLook);
        }
        // Events, interruptSet() and the levelling look wake it.
        if (wakeAt) {
            changed_.wait_until(lock, *wakeAt);
        } else {
            changed_.wait(lock);
        }
    }
}

}  // namespace korvanel
