#include "ui/station_display.h"

#include <QGroupBox>
#include <QLabel>

#include "frontend/display_model.h"
#include "ui/accessible_text.h"
#include "ui/dialog_units.h"
#include "ui/hyperlink_label.h"
#include "ui/plain_label.h"
#include "ui/qt_ownership.h"
#include "ui/window_helpers.h"

namespace korvanel {

StationDisplay::StationDisplay(QWidget& parent, const DialogUnits& units)
    : box_(makeChild<QGroupBox>(parent)),
      stationName_(makeChild<QLabel>(parent)),
      stationUrl_(makeChild<HyperlinkLabel>(parent)),
      state_(makeChild<QLabel>(parent)),
      description_(makeChild<QLabel>(parent)) {
    units.place(*box_, 23, 3, 222, 57);
    units.place(*stationName_, 29, 14, 190, 8);
    units.place(*stationUrl_, 29, 23, 190, 8);
    units.place(*state_, 29, 37, 190, 8);
    units.place(*description_, 29, 46, 190, 8);
    for (QLabel* label : {stationName_, state_, description_}) {
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(false);
        // A long text is cut at the label's edge instead of widening the window.
        label->setMinimumWidth(0);
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    }
    // What shows until the first refresh reads the player.
    stationName_->setText(QStringLiteral("Korvanel Radio"));
    state_->setText(QStringLiteral("Not playing"));
    description_->setText(QStringLiteral("N/A"));
    stationUrl_->setText(QString::fromLatin1(DisplayModel::kHomePage));
}

void StationDisplay::showTexts(const SettingsStore& language) {
    // Labels that show a value keep it as their accessible name; the
    // description says what the value is.
    updateAccessibleDescription(*stationName_, languageText(language, "Main/Accessible/Station"));
    updateAccessibleDescription(*stationUrl_, languageText(language, "Main/Accessible/StationAddress"));
    updateAccessibleDescription(*state_, languageText(language, "Main/Accessible/TrackOrState"));
    updateAccessibleDescription(*description_, languageText(language, "Main/Accessible/StreamType"));
}

void StationDisplay::show(const DisplayState& state) {
    setPlainLabel(*description_, fromUtf8(state.description));
    setPlainLabel(*stationName_, fromUtf8(state.stationName));
    const QString url = fromUtf8(state.stationUrl);
    if (stationUrl_->text() != url) {
        stationUrl_->setText(url);
        stationUrl_->setAccessibleName(url);
    }
    setPlainLabel(*state_, fromUtf8(state.stateLine));
}

void StationDisplay::setCaption(const QString& caption) { box_->setTitle(caption); }

}  // namespace korvanel
