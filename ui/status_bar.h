#pragma once

#include <QString>

#include <array>

#include "frontend/window_view.h"

class QLabel;
class QWidget;

namespace korvanel {

class DialogUnits;
class SettingsStore;
struct DisplayState;

// The strip under the window: the player's state, the address in use, and
// the track and play times. GUI thread only; its widgets belong to the
// window.
class StatusBar {
public:
    StatusBar(QWidget& window, const DialogUnits& units);

    // The state and, while something plays, the times.
    void show(const DisplayState& state);
    // What a screen reader says each part shows, in the language.
    void showTexts(const SettingsStore& language);
    // A part's text (status_part::...) as it is; a part that is not there is
    // ignored.
    void setText(int part, const QString& text);

    QWidget& widget() { return *bar_; }
    QLabel& part(int part) { return *parts_.at(static_cast<std::size_t>(part)); }

private:
    QWidget* bar_;
    std::array<QLabel*, status_part::kCount> parts_{};
};

}  // namespace korvanel
