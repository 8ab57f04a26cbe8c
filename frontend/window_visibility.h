#pragma once

#include <cstdint>

namespace korvanel {

class SettingsStore;

// Where the window is (shown, hidden to the tray, minimised to the task
// bar) and what a start, a close, a minimise or a tray click does to it.
// It decides; the window carries the decision out. A window never hides to
// a tray that does not exist, since nothing could bring it back.
// Belongs to the GUI thread.
class WindowVisibility {
public:
    enum class State { Shown = 0, HiddenToTray = 1, Minimised = 2 };
    enum class Action { None, Show, HideToTray, Exit };

    static constexpr std::int64_t kToggleGuardMs = 50;

    struct Rules {
        bool persistentTrayIcon = true;
        bool trayOnMinimize = false;
        bool trayOnClose = false;
        bool startHidden = false;
        bool trayAvailable = false;
        static Rules from(const SettingsStore& settings, bool trayAvailable);
    };

    State state() const { return state_; }

    Action atStart(const Rules& rules) const;
    Action onClose(const Rules& rules) const;
    // The window system minimised the window: hide it to the tray, or
    // remember that it sits in the task bar.
    Action onMinimised(const Rules& rules);
    // Restored by the user; true when it was hidden or minimised before.
    bool onRestored();
    // A click on the tray icon or its menu's first item; ignored within the
    // guard after the last hide or show (one click sends press and release).
    Action toggle(const Rules& rules, std::int64_t nowMs) const;
    bool trayIconWanted(const Rules& rules) const;

    // What the window did.
    void hiddenToTray(std::int64_t nowMs);
    void shown(std::int64_t nowMs);

private:
    State state_ = State::Shown;
    std::int64_t lastToggleMs_ = -kToggleGuardMs - 1;
};

}  // namespace korvanel
