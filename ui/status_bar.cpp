#include "ui/status_bar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QWidget>

#include <algorithm>

#include "frontend/display_model.h"
#include "ui/accessible_text.h"
#include "ui/dialog_units.h"
#include "ui/plain_label.h"
#include "ui/qt_ownership.h"
#include "ui/window_helpers.h"

namespace korvanel {

StatusBar::StatusBar(QWidget& window, const DialogUnits& units) : bar_(makeChild<QWidget>(window)) {
    auto* layout = makeLayout<QHBoxLayout>(*bar_);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    for (QLabel*& part : parts_) {
        part = makeChild<QLabel>(*bar_);
        part->setTextFormat(Qt::PlainText);
        part->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
        layout->addWidget(part);
    }
    // The right edges of the first two parts at 80 and 280 pixels for a font
    // of 6 pixels per average character, growing with the font as the
    // dialog units do, so a state's word fits in every language; the last
    // takes the rest, and a long text never widens any of them.
    const double scale = std::max(1.0, units.rect(0, 0, 400, 0).width() / 600.0);
    const auto scaled = [scale](int pixels) { return static_cast<int>(pixels * scale + 0.5); };
    parts_[status_part::kState]->setFixedWidth(scaled(80) - 2);
    parts_[status_part::kAddress]->setFixedWidth(scaled(280) - scaled(80) - 2);
    parts_[status_part::kTimes]->setMinimumWidth(0);
    parts_[status_part::kTimes]->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    layout->setStretch(status_part::kTimes, 1);
}

void StatusBar::showTexts(const SettingsStore& language) {
    updateAccessibleDescription(*parts_[status_part::kState], languageText(language, "Main/Accessible/PlayerState"));
    updateAccessibleDescription(*parts_[status_part::kAddress],
                                languageText(language, "Main/Accessible/CurrentAddress"));
    updateAccessibleDescription(*parts_[status_part::kTimes], languageText(language, "Main/Accessible/Times"));
}

void StatusBar::show(const DisplayState& state) {
    setPlainLabel(*parts_[status_part::kState], fromUtf8(state.statusState));
    if (state.statusTimes) {
        setPlainLabel(*parts_[status_part::kTimes], fromUtf8(*state.statusTimes));
    }
}

void StatusBar::setText(int part, const QString& text) {
    if (part >= 0 && part < status_part::kCount) {
        setPlainLabel(*parts_[static_cast<std::size_t>(part)], text);
    }
}

}  // namespace korvanel
