#include "ui/main_window.h"

#include <QAccessible>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QMenu>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMimeData>

#include <algorithm>
#include <cmath>
#include <QMouseEvent>
#include <QScreen>
#include <QWindow>

#include "app/application.h"
#include "frontend/window_commands.h"
#include "stream/http_client.h"
#include "ui/menu_builder.h"
#include "ui/text_drop.h"
#include "ui/window_helpers.h"

namespace korvanel {

namespace {

// Labels show text as it is: "&" is never a mnemonic, and rich text is never
// interpreted, whatever a station sends.
void setPlainLabel(QLabel& label, const QString& text) {
    if (label.text() != text) {
        label.setText(text);
    }
}

}  // namespace

MainWindow::MainWindow(Application& application, WindowCommands& commands, ConnectStart connectStart)
    : QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint),
      application_(application),
      commands_(commands),
      connectStart_(std::move(connectStart)),
      display_(application),
      menuBar_(this),
      content_(this),
      menuLine_(&content_),
      meterFrame_(&content_),
      meter_(&content_),
      info_(&content_),
      stationName_(&content_),
      stationUrl_(&content_),
      state_(&content_),
      description_(&content_),
      volume_(Qt::Vertical, &content_),
      playback_(&content_),
      previous_(&content_),
      play_(&content_),
      stop_(&content_),
      next_(&content_),
      emptyFrame_(&content_),
      record_(&content_),
      mute_(&content_),
      statusBar_(this) {
    setObjectName(QStringLiteral("MainWindow"));
    setAcceptDrops(true);
    buildLayout();
    describeForScreenReaders();
    connectControls();
    addShortcuts();
    meter_.setLevelSource([this] { return application_.player().level(); });
    meter_.setVolumeSource([this] { return application_.player().volume(); });
    const SettingPoint stored = application.settings().getPoint("Session/Position");
    position_ = QPoint(stored.x, stored.y);
}

MainWindow::~MainWindow() = default;

QString MainWindow::text(const char* key) const { return fromUtf8(application_.language().getString(key)); }

QRect MainWindow::dialogRect(int x, int y, int width, int height) const {
    // Dialog units: a quarter of the average character width across, an
    // eighth of the line height down, so the layout grows with the font.
    const QFontMetrics metrics(font());
    const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const double unitX = metrics.horizontalAdvance(alphabet) / 52.0 / 4.0;
    const double unitY = metrics.height() / 8.0;
    const auto px = [](double value) { return static_cast<int>(value + 0.5); };
    return QRect(px(x * unitX), px(y * unitY), px(width * unitX), px(height * unitY));
}

void MainWindow::buildLayout() {
    layout_.setContentsMargins(0, 0, 0, 0);
    layout_.setSpacing(0);
    layout_.setMenuBar(&menuBar_);
    layout_.addWidget(&content_);
    layout_.addWidget(&statusBar_);
    setLayout(&layout_);

    // Until the menus are built the bar holds one grey item.
    QAction* loading = menuBar_.addAction(QStringLiteral("Loading.."));
    loading->setEnabled(false);

    const auto place = [this](QWidget& widget, int x, int y, int width, int height) {
        widget.setGeometry(dialogRect(x, y, width, height));
    };
    menuLine_.setFrameShape(QFrame::HLine);
    menuLine_.setFrameShadow(QFrame::Sunken);
    place(menuLine_, 0, 0, 257, 1);
    meterFrame_.setFrameShape(QFrame::Panel);
    meterFrame_.setFrameShadow(QFrame::Sunken);
    place(meterFrame_, 3, 4, 16, 87);
    // The meter keeps its pixel size, centred in its frame.
    const QRect frame = meterFrame_.geometry();
    meter_.move(frame.x() + (frame.width() - PeakMeter::kWidthPx) / 2,
                frame.y() + std::max(2, (frame.height() - PeakMeter::kHeightPx) / 2));
    place(info_, 23, 3, 222, 57);
    place(stationName_, 29, 14, 190, 8);
    place(stationUrl_, 29, 23, 190, 8);
    place(state_, 29, 37, 190, 8);
    place(description_, 29, 46, 190, 8);
    place(volume_, 222, 10, 19, 47);
    place(playback_, 23, 61, 222, 29);
    place(previous_, 29, 72, 20, 13);
    place(play_, 51, 72, 40, 13);
    place(stop_, 93, 72, 40, 13);
    place(next_, 135, 72, 20, 13);
    emptyFrame_.setFrameShape(QFrame::Box);
    emptyFrame_.setFrameShadow(QFrame::Sunken);
    place(emptyFrame_, 157, 72, 16, 12);
    place(record_, 175, 72, 22, 13);
    place(mute_, 199, 72, 40, 13);
    const QRect contentRect = dialogRect(0, 0, kDialogWidthDu, kContentHeightDu);
    content_.setFixedSize(contentRect.size());

    for (QLabel* label : {&stationName_, &state_, &description_}) {
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(false);
        // A long text is cut at the label's edge instead of widening the window.
        label->setMinimumWidth(0);
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    }
    stationName_.setText(QStringLiteral("Korvanel Radio"));
    state_.setText(QStringLiteral("Not playing"));
    description_.setText(QStringLiteral("N/A"));
    stationUrl_.setText(QString::fromLatin1(DisplayModel::kHomePage));

    volume_.setRange(0, 20);
    volume_.setTickPosition(QSlider::NoTicks);
    // Position 0 is the top, full volume.
    volume_.setInvertedAppearance(true);
    volume_.setInvertedControls(true);
    volume_.setPageStep(2);
    const int volume = std::clamp(application_.settings().getInt("Session/Volume"), 0, 100);
    volume_.setValue(20 - static_cast<int>(volume * 0.2));

    play_.setDefault(true);
    play_.setAutoDefault(true);
    for (QPushButton* button : {&previous_, &stop_, &next_, &record_, &mute_}) {
        button->setAutoDefault(false);
    }

    statusLayout_.setContentsMargins(2, 2, 2, 2);
    statusLayout_.setSpacing(2);
    // The right edges of the first two parts at 80 and 280 pixels for a font
    // of 6 pixels per average character, growing with the font as the
    // dialog units do, so a state's word fits in every language; the last
    // takes the rest, and a long text never widens any of them.
    const double scale = std::max(1.0, dialogRect(0, 0, 400, 0).width() / 600.0);
    const auto scaled = [scale](int pixels) { return static_cast<int>(pixels * scale + 0.5); };
    statusParts_[0].setFixedWidth(scaled(80) - 2);
    statusParts_[1].setFixedWidth(scaled(280) - scaled(80) - 2);
    statusParts_[2].setMinimumWidth(0);
    statusParts_[2].setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    for (QLabel& part : statusParts_) {
        part.setTextFormat(Qt::PlainText);
        part.setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
        statusLayout_.addWidget(&part);
    }
    statusLayout_.setStretch(2, 1);
    statusBar_.setLayout(&statusLayout_);

    // Reading order for the keyboard: transport, Rec and Mute, then volume.
    setTabOrder(&previous_, &play_);
    setTabOrder(&play_, &stop_);
    setTabOrder(&stop_, &next_);
    setTabOrder(&next_, &record_);
    setTabOrder(&record_, &mute_);
    setTabOrder(&mute_, &volume_);
    setTabOrder(&volume_, &stationUrl_);
    play_.setFocus();

    layout_.activate();
    setFixedSize(sizeHint());
}

void MainWindow::describeForScreenReaders() {
    // Labels that show a value keep it as their accessible name; the
    // description says what the value is.
    const std::pair<QWidget*, const char*> descriptions[] = {
        {&stationName_, "Station"},
        {&stationUrl_, "Station web address"},
        {&state_, "Track or player state"},
        {&description_, "Stream type"},
        {&statusParts_[0], "Player state"},
        {&statusParts_[1], "Current address"},
        {&statusParts_[2], "Track time and play time"},
        {&volume_, "Top is full volume"},
        {&meter_, "Left and right sound levels"},
        {&previous_, "Previous address of the station"},
        {&next_, "Next address of the station"},
        {&play_, "Play the current station"},
        {&stop_, "Stop playing"},
        {&record_, "Record the stream to files"},
        {&mute_, "Silence the sound"},
    };
    for (const auto& [widget, description] : descriptions) {
        widget->setAccessibleDescription(QString::fromLatin1(description));
    }
    // Controls that show no words of their own.
    volume_.setAccessibleName(QStringLiteral("Volume"));
    meter_.setAccessibleName(QStringLiteral("Peak meter"));
    previous_.setAccessibleName(QStringLiteral("Previous"));
    next_.setAccessibleName(QStringLiteral("Next"));
}

void MainWindow::connectControls() {
    const std::pair<QPushButton*, int> buttons[] = {
        {&play_, command::kPlay}, {&stop_, command::kStop}, {&previous_, command::kPrevious},
        {&next_, command::kNext}, {&mute_, command::kMute}, {&record_, command::kRecord},
    };
    for (const auto& [button, id] : buttons) {
        connect(button, &QPushButton::clicked, this, [this, id = id] { runCommand(id); });
    }
    // Only what the user does moves the volume; setValue from the settings
    // does not.
    connect(&volume_, &QSlider::actionTriggered, this, [this](int) {
        // actionTriggered comes before the value moves.
        QMetaObject::invokeMethod(this, [this] { onVolumeMoved(volume_.value()); }, Qt::QueuedConnection);
    });
    connect(&volume_, &QSlider::sliderMoved, this, [this](int position) { onVolumeMoved(position); });
    connect(&timers_, &TimerRegistry::fired, this, [this](int message) {
        if (message == kStatusTick) {
            refreshDisplay(DisplayPart::StatusBar);
        }
    });
}

void MainWindow::addShortcuts() {
    const std::pair<QKeySequence, int> keys[] = {
        {QKeySequence::Quit, command::kExit},
        {QKeySequence::Paste, command::kPlayFromClipboard},
        {QKeySequence(Qt::CTRL | Qt::Key_L), command::kLogWindow},
    };
    for (std::size_t i = 0; i < shortcuts_.size(); ++i) {
        QAction& action = shortcuts_[i];
        action.setShortcut(keys[i].first);
        action.setShortcutContext(Qt::WindowShortcut);
        connect(&action, &QAction::triggered, this, [this, id = keys[i].second] { runCommand(id); });
        addAction(&action);
    }
    // Space does what the one enabled button of the two would: a focused
    // Record or Mute button, or the slider, does not take it.
    playOrStop_.setShortcut(QKeySequence(Qt::Key_Space));
    playOrStop_.setShortcutContext(Qt::WindowShortcut);
    connect(&playOrStop_, &QAction::triggered, this, [this] {
        if (play_.isEnabled()) {
            runCommand(command::kPlay);
        } else if (stop_.isEnabled()) {
            runCommand(command::kStop);
        }
    });
    addAction(&playOrStop_);
}

void MainWindow::onVolumeMoved(int position) {
    position = std::clamp(position, 0, 20);
    application_.player().setVolume((20 - position) * 0.05);
    application_.settings().setInt("Session/Volume", (20 - position) * 5);
    refreshDisplay(1);
}

void MainWindow::setVolume(double volume) {
    const int position = 20 - static_cast<int>(std::lround(std::clamp(volume, 0.0, 1.0) * 20));
    volume_.setValue(position);
    onVolumeMoved(position);
}

void MainWindow::showMessage(MessageIcon icon, const QString& caption, const QString& message) {
    QMessageBox box(icon == MessageIcon::Error         ? QMessageBox::Critical
                    : icon == MessageIcon::Warning     ? QMessageBox::Warning
                                                       : QMessageBox::Information,
                    caption, message, QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void MainWindow::refreshDisplay(DisplayPart part) { refreshDisplay(static_cast<int>(part)); }

void MainWindow::refreshDisplay(int part) {
    Q_EMIT displayRefreshed();
    const bool all = part == 0;
    const DisplayState state = display_.read(connectStart_ ? connectStart_() : 0, DisplayModel::steadyNowMs());
    if (all || part == 3) {
        refreshStatusBar(state);
        if (part == 3) {
            return;
        }
    }
    // Part 4, the tray icon, arrives with the tray.
    if (all || part == 1) {
        refreshButtons(state);
    }
    if (all || part == 2) {
        refreshTexts(state);
    }
    if (all || part == 4) {
        Q_EMIT trayRefreshRequested();
    }
    if (all || part == 5) {
        refreshMenuBar();
    }
    if (all || part == 6) {
        refreshMeterTimers();
    }
}

void MainWindow::setMenuSource(MenuSource source) {
    menuSource_ = std::move(source);
    refreshMenuBar();
}

void MainWindow::refreshMenuBar() {
    if (!menuSource_) {
        return;  // the grey "Loading.." item stays
    }
    // A command runs once its menu has closed: it may rebuild the menus.
    fillMenuBar(menuBar_, menuSource_(), [this](int id) {
        QMetaObject::invokeMethod(this, [this, id] { runCommand(id); }, Qt::QueuedConnection);
    });
}

void MainWindow::runCommand(int id) {
    switch (commands_.run(id)) {
        case WindowCommands::Outcome::NoSources:
            if (!application_.settings().getBool("General/DisablePopups")) {
                showMessage(MessageIcon::Error, text("Main/Message/KorvanelError"), text("Main/Message/NoSources"));
            }
            return;
        case WindowCommands::Outcome::ForWindow:
            Q_EMIT windowCommand(id);
            return;
        case WindowCommands::Outcome::Ignored:
            return;
        case WindowCommands::Outcome::Handled:
            break;
    }
    if (id == command::kAlwaysOnTop) {
        applySettings(application_.settings());  // above the other windows, or not; then everything
    } else if (id == command::kMute) {
        refreshDisplay(1);
    } else if (id == command::kRecord) {
        refreshDisplay(DisplayPart::StatusBar);
        refreshDisplay(DisplayPart::MenuBar);
        refreshDisplay(1);
    } else if (id != command::kPlay && id != command::kStop && id != command::kPrevious && id != command::kNext) {
        refreshDisplay(DisplayPart::MenuBar);  // effects, lists and the history's order
    }
}

void MainWindow::refreshStatusBar(const DisplayState& state) {
    setPlainLabel(statusParts_[0], fromUtf8(state.statusState));
    if (state.statusTimes) {
        setPlainLabel(statusParts_[2], fromUtf8(*state.statusTimes));
    }
}

void MainWindow::refreshButtons(const DisplayState& state) {
    // Play and Stop hand the keyboard focus to each other as they grey out,
    // so one key press plays and the next one stops.
    const bool playHadFocus = play_.hasFocus();
    const bool stopHadFocus = stop_.hasFocus();
    play_.setEnabled(state.playEnabled);
    stop_.setEnabled(state.stopEnabled);
    if (playHadFocus && !state.playEnabled && state.stopEnabled) {
        stop_.setFocus();
    } else if (stopHadFocus && !state.stopEnabled && state.playEnabled) {
        play_.setFocus();
    }
    mute_.setEnabled(state.muteEnabled);
    previous_.setEnabled(state.previousEnabled);
    next_.setEnabled(state.nextEnabled);
    record_.setEnabled(state.recordEnabled);
    info_.setTitle(text("Main/Text/InfoBox"));
    playback_.setTitle(text("Main/Text/PlayBox"));
    previous_.setText(text("Main/Buttons/Prev"));
    play_.setText(text("Main/Buttons/Play"));
    stop_.setText(text("Main/Buttons/Stop"));
    next_.setText(text("Main/Buttons/Next"));
    record_.setText(fromUtf8(state.recordCaption));
    mute_.setText(fromUtf8(state.muteCaption));
    // A screen reader reads the caption without its mnemonic marker.
    record_.setAccessibleName(record_.text().remove(QLatin1Char('&')));
    mute_.setAccessibleName(mute_.text().remove(QLatin1Char('&')));
    play_.setAccessibleName(play_.text().remove(QLatin1Char('&')));
    stop_.setAccessibleName(stop_.text().remove(QLatin1Char('&')));
}

void MainWindow::refreshTexts(const DisplayState& state) {
    setPlainLabel(description_, fromUtf8(state.description));
    setPlainLabel(stationName_, fromUtf8(state.stationName));
    const QString url = fromUtf8(state.stationUrl);
    if (stationUrl_.text() != url) {
        stationUrl_.setText(url);
        stationUrl_.setAccessibleName(url);
    }
    setPlainLabel(state_, fromUtf8(state.stateLine));
    if (state.windowTitle) {
        setWindowTitle(fromUtf8(*state.windowTitle));
    }
}

bool MainWindow::isHiddenOrMinimised() const { return !isVisible() || isMinimized(); }

void MainWindow::refreshMeterTimers() {
    if (application_.player().state() == Player::State::Idle || isHiddenOrMinimised()) {
        meter_.setActive(false);
        timers_.stop(kMeterTick);
        timers_.stop(kStatusTick);
        return;
    }
    timers_.start(kStatusTick, kStatusTickMs);
    // The meter ticks on its own timer, only while it is active and shown.
    meter_.setActive(meterEnabled_);
}

void MainWindow::setStatusText(int part, const QString& statusText) {
    if (part >= 0 && part < static_cast<int>(statusParts_.size())) {
        setPlainLabel(statusParts_[static_cast<std::size_t>(part)], statusText);
    }
}

void MainWindow::applySettings(const SettingsStore& store) {
    meter_.setColours(toQColor(store.getColor("PeakMeter/ColorA")), toQColor(store.getColor("PeakMeter/ColorB")),
                      toQColor(store.getColor("PeakMeter/ColorC")));
    meterEnabled_ = store.getBool("PeakMeter/Enabled");
    meter_.setAdjustByVolume(store.getBool("PeakMeter/AdjustByVolume"));
    const bool onTop = store.getBool("General/AlwaysOnTop");
    if (onTop != windowFlags().testFlag(Qt::WindowStaysOnTopHint)) {
        const bool shown = isVisible();
        setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
        if (shown) {
            show();  // changing a flag hides a shown window
        }
    }
    const SettingPoint stored = store.getPoint("Session/Position");
    position_ = QPoint(stored.x, stored.y);
    refreshDisplay(0);
}

void MainWindow::collectSettings(SettingsStore& store) const {
    store.setPoint("Session/Position", position_.x(), position_.y());
    // Written back through the colour setter, so the file holds "#rrggbb".
    for (const char* key : {"PeakMeter/ColorA", "PeakMeter/ColorB", "PeakMeter/ColorC"}) {
        store.setColor(key, store.getColor(key));
    }
}

void MainWindow::placeAtStoredPosition() {
    const QRect frame(position_, frameGeometry().size());
    bool onScreen = false;
    for (const QScreen* screen : QGuiApplication::screens()) {
        onScreen = onScreen || screen->availableGeometry().intersects(frame);
    }
    if (position_.x() == kNoPosition || position_.y() == kNoPosition || !onScreen) {
        centreOnScreen(*this);
    } else {
        move(position_);
    }
}

void MainWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    if (isVisible() && !isMinimized()) {
        const QPoint at = frameGeometry().topLeft();
        if (at.x() != kNoPosition && at.y() != kNoPosition) {
            position_ = at;
        }
    }
}

void MainWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    // The window system's own move works everywhere, Wayland included.
    if (windowHandle() != nullptr && windowHandle()->startSystemMove()) {
        return;
    }
    dragging_ = true;
    dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void MainWindow::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    fillMenu(menu, buildContextMenu(application_), [this](int id) {
        QMetaObject::invokeMethod(this, [this, id] { runCommand(id); }, Qt::QueuedConnection);
    });
    menu.exec(event->globalPos());
}

void MainWindow::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_) {
        move(event->globalPosition().toPoint() - dragOffset_);
    }
}

void MainWindow::mouseReleaseEvent(QMouseEvent* event) {
    dragging_ = false;
    QWidget::mouseReleaseEvent(event);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData() != nullptr && acceptsDrop(*event->mimeData())) {
        event->acceptProposedAction();
    }
}

void MainWindow::dropEvent(QDropEvent* event) {
    if (event->mimeData() == nullptr) {
        return;
    }
    const auto text = droppedText(*event->mimeData(), static_cast<qsizetype>(HttpLimits{}.maxBodyBytes));
    if (!text) {
        return;
    }
    event->acceptProposedAction();
    Q_EMIT textDropped(*text);
}

void MainWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) {
        if (isMinimized()) {
            Q_EMIT minimised();
        } else {
            Q_EMIT restored();
        }
        refreshDisplay(6);
    }
}

void MainWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refreshDisplay(6);
}

void MainWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    refreshDisplay(6);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    Q_EMIT closeRequested();
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    // Escape is the close box, as in a dialog; it reaches the window only
    // when no focused control or open menu took it.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        Q_EMIT closeRequested();
        return;
    }
    QWidget::keyPressEvent(event);
}

std::vector<QAction*> MainWindow::windowShortcuts() {
    std::vector<QAction*> actions;
    for (QAction& action : shortcuts_) {
        actions.push_back(&action);
    }
    actions.push_back(&playOrStop_);
    return actions;
}

}  // namespace korvanel
