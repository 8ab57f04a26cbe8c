#include "ui/volume_control.h"

#include <QSlider>

#include <algorithm>
#include <cmath>

#include "frontend/window_commands.h"
#include "ui/accessible_text.h"
#include "ui/dialog_units.h"
#include "ui/qt_ownership.h"
#include "ui/window_helpers.h"

namespace korvanel {

namespace {
constexpr int kSteps = 20;
}

VolumeControl::VolumeControl(QWidget& parent, const DialogUnits& units, WindowCommands& commands, int storedPercent,
                             Changed changed)
    : commands_(commands), changed_(std::move(changed)), slider_(makeChild<QSlider>(parent, Qt::Vertical)) {
    units.place(*slider_, 222, 10, 19, 47);
    slider_->setRange(0, kSteps);
    slider_->setTickPosition(QSlider::NoTicks);
    // Position 0 is the top, full volume.
    slider_->setInvertedAppearance(true);
    slider_->setInvertedControls(true);
    slider_->setPageStep(2);
    const int percent = std::clamp(storedPercent, 0, 100);
    slider_->setValue(kSteps - static_cast<int>(percent * 0.2));

    // Only what the user does moves the volume; setValue from the settings
    // does not.
    QObject::connect(slider_, &QSlider::actionTriggered, slider_, [this](int) {
        // actionTriggered comes before the value moves.
        QMetaObject::invokeMethod(slider_, [this] { moved(slider_->value()); }, Qt::QueuedConnection);
    });
    QObject::connect(slider_, &QSlider::sliderMoved, slider_, [this](int position) { moved(position); });
}

void VolumeControl::showTexts(const SettingsStore& language) {
    updateAccessibleName(*slider_, languageText(language, "Main/Accessible/Volume"));
    updateAccessibleDescription(*slider_, languageText(language, "Main/Accessible/VolumeInfo"));
}

void VolumeControl::setVolume(double volume) {
    const int position = kSteps - static_cast<int>(std::lround(std::clamp(volume, 0.0, 1.0) * kSteps));
    slider_->setValue(position);
    moved(position);
}

void VolumeControl::moved(int position) {
    commands_.setVolumeSteps(kSteps - std::clamp(position, 0, kSteps));
    if (changed_) {
        changed_();
    }
}

}  // namespace korvanel
