#pragma once

#include <QString>

#include <functional>
#include <optional>

class QFrame;
class QGroupBox;
class QPushButton;
class QWidget;

namespace korvanel {

class DialogUnits;
class SettingsStore;
struct DisplayState;

// The "Playback" box: Previous, Play, Stop and Next, then Rec and Mute.
// Each click hands its command id to the owner. GUI thread only; the
// widgets belong to the parent.
class TransportButtons {
public:
    using Command = std::function<void(int id)>;
    TransportButtons(QWidget& parent, const DialogUnits& units, Command command);

    // Which buttons may be pressed, and their captions in the language.
    void show(const DisplayState& state, const SettingsStore& language);
    // What Space does: the command of whichever of Play and Stop is
    // enabled, so a focused Rec or Mute button, or the slider, never takes
    // the key; nothing while both are grey.
    std::optional<int> spaceCommand() const;

    QPushButton& previous() { return *previous_; }
    QPushButton& play() { return *play_; }
    QPushButton& stop() { return *stop_; }
    QPushButton& next() { return *next_; }
    QPushButton& record() { return *record_; }
    QPushButton& mute() { return *mute_; }

private:
    QGroupBox* box_;
    QPushButton* previous_;
    QPushButton* play_;
    QPushButton* stop_;
    QPushButton* next_;
    QFrame* emptyFrame_;
    QPushButton* record_;
    QPushButton* mute_;
};

}  // namespace korvanel
