#pragma once

#include "ui/peak_meter.h"

class QFrame;
class QWidget;

namespace korvanel {

class DialogUnits;
class SettingsStore;

// The peak meter in its sunken frame at the window's left edge, with the
// colours and switches the settings give it. GUI thread only; its widgets
// belong to the parent.
class MeterPanel {
public:
    MeterPanel(QWidget& parent, const DialogUnits& units);

    void setSources(PeakMeter::LevelSource level, PeakMeter::VolumeSource volume);
    // The colours, "PeakMeter/Enabled" and whether the bars follow the volume.
    void applySettings(const SettingsStore& store);
    // What a screen reader says of the meter, in the language.
    void showTexts(const SettingsStore& language);
    // Runs while something plays in a shown window, if the settings let it.
    void setRunning(bool running);

    PeakMeter& meter() { return *meter_; }

private:
    QFrame* frame_;
    PeakMeter* meter_;
    bool enabled_ = true;
};

}  // namespace korvanel
