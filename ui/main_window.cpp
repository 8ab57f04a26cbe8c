#include "ui/main_window.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include "app/application.h"
#include "frontend/window_commands.h"
#include "stream/http_client.h"
#include "ui/hyperlink_label.h"
#include "ui/menu_builder.h"
#include "ui/message_box.h"
#include "ui/qt_ownership.h"
#include "ui/window_helpers.h"

namespace korvanel {

MainWindow::MainWindow(Application& application, WindowCommands& commands, ConnectStart connectStart)
    : QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint),
      application_(application),
      commands_(commands),
      connectStart_(std::move(connectStart)),
      display_(application),
      units_(font()),
      placement_(*this),
      drops_(static_cast<qsizetype>(HttpLimits{}.maxBodyBytes)),
      menuBar_(makeChild<QMenuBar>(*this)),
      content_(makeChild<QWidget>(*this)),
      menuLine_(makeChild<QFrame>(*content_)),
      meterPanel_(*content_, units_),
      station_(*content_, units_),
      volume_(*content_, units_, commands, application.settings().getInt("Session/Volume"),
              [this] { refreshDisplay(DisplayPart::Buttons); }),
      transport_(*content_, units_, [this](int id) { runCommand(id); }),
      statusBar_(*this, units_),
      shortcuts_(
          *this, [this](int id) { runCommand(id); }, [this] { return transport_.spaceCommand(); }),
      timers_(makeChild<TimerRegistry>(*this)) {
    setObjectName(QStringLiteral("MainWindow"));
    setAcceptDrops(true);

    auto* layout = makeLayout<QVBoxLayout>(*this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setMenuBar(menuBar_);
    layout->addWidget(content_);
    layout->addWidget(&statusBar_.widget());
    // Until the menus are built the bar holds one grey item.
    QAction* loading = menuBar_->addAction(text("Main/Text/Loading"));
    loading->setEnabled(false);

    menuLine_->setFrameShape(QFrame::HLine);
    menuLine_->setFrameShadow(QFrame::Sunken);
    units_.place(*menuLine_, 0, 0, 257, 1);
    content_->setFixedSize(units_.rect(0, 0, kDialogWidthDu, kContentHeightDu).size());
    orderForKeyboard();
    layout->activate();
    setFixedSize(sizeHint());

    meterPanel_.setSources([this] { return application_.player().level(); },
                           [this] { return application_.player().volume(); });
    connect(timers_, &TimerRegistry::fired, this, [this](int message) {
        if (message == kStatusTick) {
            refreshDisplay(DisplayPart::StatusBar);
        }
    });
    placement_.load(application.settings());
}

MainWindow::~MainWindow() = default;

QString MainWindow::text(const char* key) const { return fromUtf8(application_.language().getString(key)); }

void MainWindow::orderForKeyboard() {
    // Reading order for the keyboard: transport, Rec and Mute, then volume.
    QWidget* const order[] = {&transport_.previous(), &transport_.play(), &transport_.stop(),
                              &transport_.next(),     &transport_.record(), &transport_.mute(),
                              &volume_.slider(),      &station_.stationUrl()};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
        QWidget::setTabOrder(order[i], order[i + 1]);
    }
    transport_.play().setFocus();
}

void MainWindow::showMessage(MessageIcon icon, const QString& caption, const QString& message) {
    showMessageBox(*this, icon, caption, message);
}

void MainWindow::refreshDisplay(DisplayPart part) {
    Q_EMIT displayRefreshed();
    const bool all = part == DisplayPart::All;
    const DisplayState state = display_.read(connectStart_ ? connectStart_() : 0, DisplayModel::steadyNowMs());
    if (all || part == DisplayPart::StatusBar) {
        statusBar_.show(state);
        if (!all) {
            return;
        }
    }
    if (all || part == DisplayPart::Buttons) {
        const SettingsStore& language = application_.language();
        station_.setCaption(text("Main/Text/InfoBox"));
        station_.showTexts(language);
        transport_.show(state, language);
        meterPanel_.showTexts(language);
        volume_.showTexts(language);
        statusBar_.showTexts(language);
    }
    if (all || part == DisplayPart::Texts) {
        station_.show(state);
        if (state.windowTitle) {
            setWindowTitle(fromUtf8(*state.windowTitle));
        }
    }
    if (all || part == DisplayPart::Tray) {
        Q_EMIT trayRefreshRequested();
    }
    if (all || part == DisplayPart::MenuBar) {
        refreshMenuBar();
    }
    if (all || part == DisplayPart::Timers) {
        refreshMeterTimers();
    }
}

void MainWindow::setMenuSource(MenuSource source) {
    menuSource_ = std::move(source);
    refreshMenuBar();
}

void MainWindow::runAfterMenu(int id) {
    QMetaObject::invokeMethod(this, [this, id] { runCommand(id); }, Qt::QueuedConnection);
}

void MainWindow::refreshMenuBar() {
    if (!menuSource_) {
        return;  // the grey item that says the menus are loading stays
    }
    fillMenuBar(*menuBar_, menuSource_(), [this](int id) { runAfterMenu(id); });
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
    // What each command changed; the player's own events refresh the rest.
    if (id == command::kAlwaysOnTop) {
        applySettings(application_.settings());  // above the other windows, or not; then everything
    } else if (id == command::kMute) {
        refreshDisplay(DisplayPart::Buttons);
    } else if (id == command::kRecord) {
        refreshDisplay(DisplayPart::StatusBar);
        refreshDisplay(DisplayPart::MenuBar);
        refreshDisplay(DisplayPart::Buttons);
    } else if (id != command::kPlay && id != command::kStop && id != command::kPrevious && id != command::kNext) {
        refreshDisplay(DisplayPart::MenuBar);  // effects, lists and the history's order
    }
}

void MainWindow::refreshMeterTimers() {
    // No meter and no status times while nothing plays or nobody sees them.
    if (application_.player().state() == Player::State::Idle || !isVisible() || isMinimized()) {
        meterPanel_.setRunning(false);
        timers_->stop(kStatusTick);
        return;
    }
    timers_->start(kStatusTick, kStatusTickMs);
    meterPanel_.setRunning(true);  // the meter ticks on a timer of its own
}

void MainWindow::setStatusText(int part, const QString& statusText) { statusBar_.setText(part, statusText); }

void MainWindow::applySettings(const SettingsStore& store) {
    meterPanel_.applySettings(store);
    const bool onTop = store.getBool("General/AlwaysOnTop");
    if (onTop != windowFlags().testFlag(Qt::WindowStaysOnTopHint)) {
        const bool shown = isVisible();
        setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
        if (shown) {
            show();  // changing a flag hides a shown window
        }
    }
    placement_.load(store);
    refreshDisplay(DisplayPart::All);
}

void MainWindow::collectSettings(SettingsStore& store) const {
    placement_.save(store);
    // Written back through the colour setter, so the file holds "#rrggbb".
    for (const char* key : {"PeakMeter/ColorA", "PeakMeter/ColorB", "PeakMeter/ColorC"}) {
        store.setColor(key, store.getColor(key));
    }
}

void MainWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    placement_.moved();
}

void MainWindow::mousePressEvent(QMouseEvent* event) {
    if (!placement_.pressed(*event)) {
        QWidget::mousePressEvent(event);
    }
}

void MainWindow::mouseMoveEvent(QMouseEvent* event) { placement_.dragged(*event); }

void MainWindow::mouseReleaseEvent(QMouseEvent* event) {
    placement_.released();
    QWidget::mouseReleaseEvent(event);
}

void MainWindow::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    fillMenu(menu, buildContextMenu(application_), [this](int id) { runAfterMenu(id); });
    menu.exec(event->globalPos());
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) { drops_.enter(*event); }

void MainWindow::dropEvent(QDropEvent* event) {
    if (const std::optional<QString> text = drops_.take(*event)) {
        Q_EMIT textDropped(*text);
    }
}

void MainWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) {
        if (isMinimized()) {
            Q_EMIT minimised();
        } else {
            Q_EMIT restored();
        }
        refreshDisplay(DisplayPart::Timers);
    }
}

void MainWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refreshDisplay(DisplayPart::Timers);
}

void MainWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    refreshDisplay(DisplayPart::Timers);
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

}  // namespace korvanel
