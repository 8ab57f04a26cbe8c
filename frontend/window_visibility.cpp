#include "frontend/window_visibility.h"

#include "settings/settings_store.h"

namespace korvanel {

WindowVisibility::Rules WindowVisibility::Rules::from(const SettingsStore& settings, bool trayAvailable) {
    Rules rules;
    rules.persistentTrayIcon = settings.getBool("General/PersistentTrayIcon");
    rules.trayOnMinimize = settings.getBool("General/TrayOnMinimize");
    rules.trayOnClose = settings.getBool("General/TrayOnClose");
    rules.startHidden = settings.getBool("General/StartHidden");
    rules.trayAvailable = trayAvailable;
    return rules;
}

WindowVisibility::Action WindowVisibility::atStart(const Rules& rules) const {
    // Hidden only with a tray icon there to bring it back.
    const bool hide = rules.startHidden && (rules.trayOnMinimize || rules.persistentTrayIcon) && rules.trayAvailable;
    return hide ? Action::HideToTray : Action::Show;
}

WindowVisibility::Action WindowVisibility::onClose(const Rules& rules) const {
    return rules.trayOnClose && rules.trayAvailable ? Action::HideToTray : Action::Exit;
}

WindowVisibility::Action WindowVisibility::onMinimised(const Rules& rules) {
    if (state_ != State::Shown) {
        return Action::None;
    }
    if (rules.trayOnMinimize && rules.trayAvailable) {
        return Action::HideToTray;
    }
    state_ = State::Minimised;
    return Action::None;
}

bool WindowVisibility::onRestored() {
    const bool was = state_ != State::Shown;
    state_ = State::Shown;
    return was;
}

WindowVisibility::Action WindowVisibility::toggle(const Rules& rules, std::int64_t nowMs) const {
    if (nowMs - lastToggleMs_ <= kToggleGuardMs) {
        return Action::None;
    }
    if (state_ != State::Shown) {
        return Action::Show;
    }
    return rules.trayAvailable ? Action::HideToTray : Action::None;
}

bool WindowVisibility::trayIconWanted(const Rules& rules) const {
    return rules.trayAvailable && (rules.persistentTrayIcon || state_ == State::HiddenToTray);
}

void WindowVisibility::hiddenToTray(std::int64_t nowMs) {
    state_ = State::HiddenToTray;
    lastToggleMs_ = nowMs;
}

void WindowVisibility::shown(std::int64_t nowMs) {
    state_ = State::Shown;
    lastToggleMs_ = nowMs;
}

}  // namespace korvanel
