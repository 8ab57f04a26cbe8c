#pragma once

#include <QPoint>

class QMouseEvent;
class QWidget;

namespace korvanel {

class SettingsStore;

// Where the main window stands: the position the session stores, where the
// window goes at start, and moving it by a drag on its empty parts. GUI
// thread only; the window forwards its move and mouse events here.
class WindowPlacement {
public:
    // A stored coordinate that means "never placed": centre instead.
    static constexpr int kNoPosition = -32000;

    explicit WindowPlacement(QWidget& window);

    // "Session/Position"; the window is not moved.
    void load(const SettingsStore& store);
    void save(SettingsStore& store) const;
    QPoint storedPosition() const { return position_; }
    // Moves to the stored position, or centres when it is unknown or on no
    // screen.
    void placeAtStoredPosition();

    // A shown, normal window records where it went.
    void moved();
    // A left press starts a drag; false for the events the window keeps.
    bool pressed(const QMouseEvent& event);
    void dragged(const QMouseEvent& event);
    void released();

private:
    QWidget& window_;
    QPoint position_{kNoPosition, kNoPosition};
    // A drag by hand where the window system cannot move the window itself.
    bool dragging_ = false;
    QPoint dragOffset_;
};

}  // namespace korvanel
