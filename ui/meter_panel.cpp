#include "ui/meter_panel.h"

#include <QFrame>

#include <algorithm>

#include "settings/settings_store.h"
#include "ui/accessible_text.h"
#include "ui/dialog_units.h"
#include "ui/qt_ownership.h"
#include "ui/window_helpers.h"

namespace korvanel {

MeterPanel::MeterPanel(QWidget& parent, const DialogUnits& units)
    : frame_(makeChild<QFrame>(parent)), meter_(makeChild<PeakMeter>(parent)) {
    frame_->setFrameShape(QFrame::Panel);
    frame_->setFrameShadow(QFrame::Sunken);
    units.place(*frame_, 3, 4, 16, 87);
    // The meter keeps its pixel size, centred in its frame.
    const QRect frame = frame_->geometry();
    meter_->move(frame.x() + (frame.width() - PeakMeter::kWidthPx) / 2,
                 frame.y() + std::max(2, (frame.height() - PeakMeter::kHeightPx) / 2));
}

void MeterPanel::showTexts(const SettingsStore& language) {
    updateAccessibleName(*meter_, languageText(language, "Main/Accessible/PeakMeter"));
    updateAccessibleDescription(*meter_, languageText(language, "Main/Accessible/PeakMeterInfo"));
}

void MeterPanel::setSources(PeakMeter::LevelSource level, PeakMeter::VolumeSource volume) {
    meter_->setLevelSource(std::move(level));
    meter_->setVolumeSource(std::move(volume));
}

void MeterPanel::applySettings(const SettingsStore& store) {
    meter_->setColours(toQColor(store.getColor("PeakMeter/ColorA")), toQColor(store.getColor("PeakMeter/ColorB")),
                       toQColor(store.getColor("PeakMeter/ColorC")));
    enabled_ = store.getBool("PeakMeter/Enabled");
    meter_->setAdjustByVolume(store.getBool("PeakMeter/AdjustByVolume"));
}

// The meter ticks on its own timer, only while it is active.
void MeterPanel::setRunning(bool running) { meter_->setActive(running && enabled_); }

}  // namespace korvanel
