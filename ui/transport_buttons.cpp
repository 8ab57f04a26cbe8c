#include "ui/transport_buttons.h"

#include <QFrame>
#include <QGroupBox>
#include <QPushButton>

#include <utility>

#include "frontend/display_model.h"
#include "frontend/menu_tree.h"
#include "settings/settings_store.h"
#include "ui/accessible_text.h"
#include "ui/dialog_units.h"
#include "ui/qt_ownership.h"
#include "ui/window_helpers.h"

namespace korvanel {

namespace {

// A screen reader reads the caption without its mnemonic marker.
void nameAfterCaption(QPushButton& button) { updateAccessibleName(button, button.text().remove(QLatin1Char('&'))); }

}  // namespace

TransportButtons::TransportButtons(QWidget& parent, const DialogUnits& units, Command command)
    : box_(makeChild<QGroupBox>(parent)),
      previous_(makeChild<QPushButton>(parent)),
      play_(makeChild<QPushButton>(parent)),
      stop_(makeChild<QPushButton>(parent)),
      next_(makeChild<QPushButton>(parent)),
      emptyFrame_(makeChild<QFrame>(parent)),
      record_(makeChild<QPushButton>(parent)),
      mute_(makeChild<QPushButton>(parent)) {
    units.place(*box_, 23, 61, 222, 29);
    units.place(*previous_, 29, 72, 20, 13);
    units.place(*play_, 51, 72, 40, 13);
    units.place(*stop_, 93, 72, 40, 13);
    units.place(*next_, 135, 72, 20, 13);
    emptyFrame_->setFrameShape(QFrame::Box);
    emptyFrame_->setFrameShadow(QFrame::Sunken);
    units.place(*emptyFrame_, 157, 72, 16, 12);
    units.place(*record_, 175, 72, 22, 13);
    units.place(*mute_, 199, 72, 40, 13);

    play_->setDefault(true);
    play_->setAutoDefault(true);
    for (QPushButton* button : {previous_, stop_, next_, record_, mute_}) {
        button->setAutoDefault(false);
    }

    const std::pair<QPushButton*, int> commands[] = {
        {play_, command::kPlay}, {stop_, command::kStop}, {previous_, command::kPrevious},
        {next_, command::kNext}, {mute_, command::kMute}, {record_, command::kRecord},
    };
    for (const auto& [button, id] : commands) {
        QObject::connect(button, &QPushButton::clicked, button, [command, id = id] { command(id); });
    }
}

void TransportButtons::show(const DisplayState& state, const SettingsStore& language) {
    // Play and Stop hand the keyboard focus to each other as they grey out,
    // so one key press plays and the next one stops.
    const bool playHadFocus = play_->hasFocus();
    const bool stopHadFocus = stop_->hasFocus();
    play_->setEnabled(state.playEnabled);
    stop_->setEnabled(state.stopEnabled);
    if (playHadFocus && !state.playEnabled && state.stopEnabled) {
        stop_->setFocus();
    } else if (stopHadFocus && !state.stopEnabled && state.playEnabled) {
        play_->setFocus();
    }
    mute_->setEnabled(state.muteEnabled);
    previous_->setEnabled(state.previousEnabled);
    next_->setEnabled(state.nextEnabled);
    record_->setEnabled(state.recordEnabled);
    const auto text = [&language](const char* key) { return languageText(language, key); };
    box_->setTitle(text("Main/Text/PlayBox"));
    previous_->setText(text("Main/Buttons/Prev"));
    play_->setText(text("Main/Buttons/Play"));
    stop_->setText(text("Main/Buttons/Stop"));
    next_->setText(text("Main/Buttons/Next"));
    record_->setText(fromUtf8(state.recordCaption));
    mute_->setText(fromUtf8(state.muteCaption));
    for (QPushButton* button : {record_, mute_, play_, stop_}) {
        nameAfterCaption(*button);
    }
    // The arrows show no words of their own.
    updateAccessibleName(*previous_, text("Main/Accessible/Previous"));
    updateAccessibleName(*next_, text("Main/Accessible/Next"));
    const std::pair<QPushButton*, const char*> descriptions[] = {
        {previous_, "Main/Accessible/PreviousInfo"}, {next_, "Main/Accessible/NextInfo"},
        {play_, "Main/Accessible/PlayInfo"},         {stop_, "Main/Accessible/StopInfo"},
        {record_, "Main/Accessible/RecordInfo"},     {mute_, "Main/Accessible/MuteInfo"},
    };
    for (const auto& [button, key] : descriptions) {
        updateAccessibleDescription(*button, text(key));
    }
}

std::optional<int> TransportButtons::spaceCommand() const {
    if (play_->isEnabled()) {
        return command::kPlay;
    }
    if (stop_->isEnabled()) {
        return command::kStop;
    }
    return std::nullopt;
}

}  // namespace korvanel
