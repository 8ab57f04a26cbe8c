// The main window's panels on their own, without a player behind them.
#include <QAction>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFont>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QWidget>

#include <optional>
#include <vector>

#include <gtest/gtest.h>

#include "frontend/display_model.h"
#include "frontend/menu_tree.h"
#include "settings/language_texts.h"
#include "settings/settings_store.h"
#include "ui/dialog_units.h"
#include "ui/drop_handler.h"
#include "ui/status_bar.h"
#include "ui/transport_buttons.h"
#include "ui/window_placement.h"
#include "ui/window_shortcuts.h"

namespace korvanel {
namespace {

TEST(DialogUnits, GrowWithTheFontAndRoundToWholePixels) {
    QFont small;
    small.setPixelSize(10);
    QFont large;
    large.setPixelSize(20);
    const QRect a = DialogUnits(small).rect(4, 8, 40, 16);
    const QRect b = DialogUnits(large).rect(4, 8, 40, 16);
    EXPECT_GT(b.width(), a.width() * 3 / 2);
    EXPECT_GT(b.height(), a.height() * 3 / 2);
    // Eight units down are one line of the font, four across one average character.
    EXPECT_EQ(DialogUnits(large).rect(0, 0, 0, 8).height(), QFontMetrics(large).height());
    QWidget widget;
    DialogUnits(small).place(widget, 4, 8, 40, 16);
    EXPECT_EQ(widget.geometry(), a);
}

class TransportButtonsTest : public ::testing::Test {
protected:
    TransportButtonsTest() : buttons_(parent_, DialogUnits(parent_.font()), [this](int id) { run_.push_back(id); }) {
        registerDefaultTexts(language_);
    }

    QWidget parent_;
    SettingsStore language_;
    std::vector<int> run_;
    TransportButtons buttons_;
};

TEST_F(TransportButtonsTest, SpaceDoesWhatTheEnabledOneOfPlayAndStopWould) {
    DisplayState state;
    state.playEnabled = true;
    state.stopEnabled = false;
    buttons_.show(state, language_);
    EXPECT_EQ(buttons_.spaceCommand(), std::optional<int>(command::kPlay));
    state.playEnabled = false;
    state.stopEnabled = true;
    buttons_.show(state, language_);
    EXPECT_EQ(buttons_.spaceCommand(), std::optional<int>(command::kStop));
    state.stopEnabled = false;
    buttons_.show(state, language_);
    EXPECT_EQ(buttons_.spaceCommand(), std::nullopt);
}

TEST_F(TransportButtonsTest, EachClickHandsOnItsCommandAndCaptionsNameTheButtons) {
    DisplayState state;
    state.previousEnabled = state.nextEnabled = state.stopEnabled = true;
    state.recordCaption = "&Rec";
    state.muteCaption = "Un&mute";
    buttons_.show(state, language_);
    for (QPushButton* button : {&buttons_.previous(), &buttons_.play(), &buttons_.stop(), &buttons_.next(),
                                &buttons_.record(), &buttons_.mute()}) {
        button->click();
    }
    EXPECT_EQ(run_, (std::vector<int>{command::kPrevious, command::kPlay, command::kStop, command::kNext,
                                      command::kRecord, command::kMute}));
    EXPECT_EQ(buttons_.mute().accessibleName(), QStringLiteral("Unmute"));
    EXPECT_EQ(buttons_.record().accessibleName(), QStringLiteral("Rec"));
    EXPECT_EQ(buttons_.previous().accessibleName(), QStringLiteral("Previous"));
}

TEST(WindowShortcuts, SpaceRunsOnlyWhatTheRuleGives) {
    QWidget window;
    std::vector<int> run;
    std::optional<int> space;
    const WindowShortcuts shortcuts(
        window, [&run](int id) { run.push_back(id); }, [&space] { return space; });
    ASSERT_EQ(shortcuts.actions().size(), 4u);
    QAction* spaceAction = shortcuts.actions().back();
    EXPECT_EQ(spaceAction->shortcut(), QKeySequence(Qt::Key_Space));
    spaceAction->trigger();
    EXPECT_TRUE(run.empty());
    space = command::kStop;
    spaceAction->trigger();
    shortcuts.actions().front()->trigger();
    EXPECT_EQ(run, (std::vector<int>{command::kStop, command::kExit}));
    // Every action is the window's, so each key works wherever the focus is in it.
    for (QAction* action : shortcuts.actions()) {
        EXPECT_TRUE(window.actions().contains(action));
        EXPECT_EQ(action->parent(), &window);
    }
}

TEST(StatusBar, TextsGoToTheirPartAndNoOtherIndexReachesOne) {
    QWidget window;
    StatusBar bar(window, DialogUnits(window.font()));
    bar.setText(status_part::kAddress, QStringLiteral("http://a/<b>"));
    bar.setText(-1, QStringLiteral("x"));
    bar.setText(status_part::kCount, QStringLiteral("x"));
    EXPECT_EQ(bar.part(status_part::kAddress).text(), QStringLiteral("http://a/<b>"));
    EXPECT_EQ(bar.part(status_part::kAddress).textFormat(), Qt::PlainText);
    EXPECT_TRUE(bar.part(status_part::kState).text().isEmpty());
    EXPECT_TRUE(bar.part(status_part::kTimes).text().isEmpty());

    DisplayState state;
    state.statusState = " Playing..";
    state.statusTimes = " 00:01 / 00:02";
    bar.show(state);
    // Without times (nothing plays) the last ones stay.
    state.statusTimes.reset();
    state.statusState = " Idling..";
    bar.show(state);
    EXPECT_EQ(bar.part(status_part::kState).text(), QStringLiteral(" Idling.."));
    EXPECT_EQ(bar.part(status_part::kTimes).text(), QStringLiteral(" 00:01 / 00:02"));
}

TEST(WindowPlacement, KeepsWhatItReadAndLeavesOtherButtonsToTheWindow) {
    QWidget window;
    WindowPlacement placement(window);
    EXPECT_EQ(placement.storedPosition(), QPoint(WindowPlacement::kNoPosition, WindowPlacement::kNoPosition));
    SettingsStore store;
    store.setPoint("Session/Position", 12, 34);
    placement.load(store);
    SettingsStore saved;
    placement.save(saved);
    EXPECT_EQ(saved.getPoint("Session/Position").x, 12);
    EXPECT_EQ(saved.getPoint("Session/Position").y, 34);
    // A hidden window's moves are not its place.
    window.move(200, 100);
    placement.moved();
    EXPECT_EQ(placement.storedPosition(), QPoint(12, 34));

    const QMouseEvent right(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::RightButton,
                            Qt::RightButton, Qt::NoModifier);
    EXPECT_FALSE(placement.pressed(right));
}

TEST(DropHandler, TakesTextUpToItsLimitAndRefusesMore) {
    const DropHandler drops(64);
    QMimeData data;
    data.setText(QStringLiteral("http://a/b\nsecond line"));
    QDropEvent drop(QPointF(1, 1), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    EXPECT_EQ(drops.take(drop), std::optional<QString>(QStringLiteral("http://a/b")));
    EXPECT_TRUE(drop.isAccepted());

    data.setText(QString(65, QLatin1Char('a')));
    QDropEvent tooLarge(QPointF(1, 1), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    tooLarge.ignore();
    EXPECT_EQ(drops.take(tooLarge), std::nullopt);
    EXPECT_FALSE(tooLarge.isAccepted());

    QMimeData image;
    image.setImageData(QColor(Qt::red));
    QDragEnterEvent enter(QPoint(1, 1), Qt::CopyAction, &image, Qt::LeftButton, Qt::NoModifier);
    enter.ignore();
    drops.enter(enter);
    EXPECT_FALSE(enter.isAccepted());
}

}  // namespace
}  // namespace korvanel
