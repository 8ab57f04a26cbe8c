#pragma once

#include <functional>

class QSlider;
class QWidget;

namespace korvanel {

class DialogUnits;
class SettingsStore;
class WindowCommands;

// The vertical volume slider in twenty steps, full volume at the top. What
// the user does with it goes through WindowCommands (the player and the
// session's volume); the owner hears of each change to refresh the display.
// GUI thread only; the slider belongs to the parent.
class VolumeControl {
public:
    using Changed = std::function<void()>;
    VolumeControl(QWidget& parent, const DialogUnits& units, WindowCommands& commands, int storedPercent,
                  Changed changed);

    // As if the user moved the slider there (0..1, in its steps).
    void setVolume(double volume);
    // What a screen reader says of the slider, in the language.
    void showTexts(const SettingsStore& language);
    QSlider& slider() { return *slider_; }

private:
    void moved(int position);

    WindowCommands& commands_;
    Changed changed_;
    QSlider* slider_;
};

}  // namespace korvanel
