#pragma once

#include <QString>

class QGroupBox;
class QLabel;
class QWidget;

namespace korvanel {

class DialogUnits;
class HyperlinkLabel;
class SettingsStore;
struct DisplayState;

// The "Information" box: the station's name and web address, the track or
// the player's state, and the stream's type. GUI thread only; its widgets
// belong to the parent.
class StationDisplay {
public:
    StationDisplay(QWidget& parent, const DialogUnits& units);

    void show(const DisplayState& state);
    // What a screen reader says each label shows, in the language.
    void showTexts(const SettingsStore& language);
    void setCaption(const QString& caption);

    QLabel& stationName() { return *stationName_; }
    HyperlinkLabel& stationUrl() { return *stationUrl_; }
    QLabel& state() { return *state_; }
    QLabel& description() { return *description_; }

private:
    QGroupBox* box_;
    QLabel* stationName_;
    HyperlinkLabel* stationUrl_;
    QLabel* state_;
    QLabel* description_;
};

}  // namespace korvanel
