#include "ui/window_placement.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include "settings/settings_store.h"
#include "ui/window_helpers.h"

namespace korvanel {

WindowPlacement::WindowPlacement(QWidget& window) : window_(window) {}

void WindowPlacement::load(const SettingsStore& store) {
    const SettingPoint stored = store.getPoint("Session/Position");
    position_ = QPoint(stored.x, stored.y);
}

void WindowPlacement::save(SettingsStore& store) const { store.setPoint("Session/Position", position_.x(), position_.y()); }

void WindowPlacement::placeAtStoredPosition() {
    const QRect frame(position_, window_.frameGeometry().size());
    bool onScreen = false;
    for (const QScreen* screen : QGuiApplication::screens()) {
        onScreen = onScreen || screen->availableGeometry().intersects(frame);
    }
    if (position_.x() == kNoPosition || position_.y() == kNoPosition || !onScreen) {
        centreOnScreen(window_);
    } else {
        window_.move(position_);
    }
}

void WindowPlacement::moved() {
    if (window_.isVisible() && !window_.isMinimized()) {
        const QPoint at = window_.frameGeometry().topLeft();
        if (at.x() != kNoPosition && at.y() != kNoPosition) {
            position_ = at;
        }
    }
}

bool WindowPlacement::pressed(const QMouseEvent& event) {
    if (event.button() != Qt::LeftButton) {
        return false;
    }
    // The window system's own move works everywhere, Wayland included.
    if (window_.windowHandle() != nullptr && window_.windowHandle()->startSystemMove()) {
        return true;
    }
    dragging_ = true;
    dragOffset_ = event.globalPosition().toPoint() - window_.frameGeometry().topLeft();
    return true;
}

void WindowPlacement::dragged(const QMouseEvent& event) {
    if (dragging_) {
        window_.move(event.globalPosition().toPoint() - dragOffset_);
    }
}

void WindowPlacement::released() { dragging_ = false; }

}  // namespace korvanel
