#pragma once

#include <QAction>
#include <QFrame>
#include <QLabel>
#include <QMenuBar>
#include <QPoint>
#include <QPushButton>
#include <QSlider>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <vector>

#include "frontend/display_model.h"
#include "frontend/menu_tree.h"
#include "frontend/window_view.h"
#include "ui/dialog_units.h"
#include "ui/drop_handler.h"
#include "ui/hyperlink_label.h"
#include "ui/meter_panel.h"
#include "ui/station_display.h"
#include "ui/status_bar.h"
#include "ui/timer_registry.h"
#include "ui/transport_buttons.h"
#include "ui/volume_control.h"
#include "ui/window_placement.h"
#include "ui/window_shortcuts.h"

namespace korvanel {

class Application;
class SettingsStore;
class WindowCommands;

// The player's window, put together from its panels: the meter, the
// station display, the volume, the transport buttons and the status bar
// under the menu bar. It reads what the core holds (through DisplayModel),
// hands each panel its part of it, and hands the user's commands to
// WindowCommands.
//
// Threads: the GUI thread only. Workers reach it through DesktopWindow's
// queued calls.
//
// Everything inside the window belongs to its Qt parent and is made with
// makeChild (ui/qt_ownership.h); the panels are members that only point at
// their widgets.
class MainWindow final : public QWidget {
    Q_OBJECT

public:
    // The registry's name for the timer that moves the status bar's play
    // times on.
    static constexpr int kStatusTick = 1;
    static constexpr int kStatusTickMs = 500;

    // What the window reads besides the core: when the current stream
    // started playing (steady milliseconds).
    using ConnectStart = std::function<std::int64_t()>;

    MainWindow(Application& application, WindowCommands& commands, ConnectStart connectStart);
    ~MainWindow() override;

    // Redraws one part of the display, or all of it.
    void refreshDisplay(DisplayPart part);
    void setStatusText(int part, const QString& text);

    // Colours, always on top and the stored position (the window is not
    // moved); then a full refresh.
    void applySettings(const SettingsStore& store);
    // The stored position and the meter colours (written with "#").
    void collectSettings(SettingsStore& store) const;

    // Moves to the stored position, or centres when it is unknown or on no
    // screen.
    void placeAtStoredPosition() { placement_.placeAtStoredPosition(); }
    QPoint storedPosition() const { return placement_.storedPosition(); }

    // The menu bar's contents, read anew on each refresh of the menus.
    using MenuSource = std::function<MenuEntry()>;
    void setMenuSource(MenuSource source);
    // A command of the menus or buttons, as its id says.
    void runCommand(int id);

    // Shows a message for the user and waits for it to be closed.
    void showMessage(MessageIcon icon, const QString& caption, const QString& text);
    // As if the user moved the volume slider there (0..1, in its steps).
    void setVolume(double volume) { volume_.setVolume(volume); }

    // For tests and the accessibility tree: the widgets by role.
    PeakMeter& meter() { return meterPanel_.meter(); }
    QSlider& volumeSlider() { return volume_.slider(); }
    QPushButton& playButton() { return transport_.play(); }
    QPushButton& stopButton() { return transport_.stop(); }
    QPushButton& previousButton() { return transport_.previous(); }
    QPushButton& nextButton() { return transport_.next(); }
    QPushButton& recordButton() { return transport_.record(); }
    QPushButton& muteButton() { return transport_.mute(); }
    QLabel& stationNameLabel() { return station_.stationName(); }
    HyperlinkLabel& stationUrlLabel() { return station_.stationUrl(); }
    QLabel& stateLabel() { return station_.state(); }
    QLabel& descriptionLabel() { return station_.description(); }
    QLabel& statusPart(int part) { return statusBar_.part(part); }
    TimerRegistry& timers() { return *timers_; }
    QMenuBar& menus() { return *menuBar_; }

    // The keys of the window, for the player's other windows to take too.
    std::vector<QAction*> windowShortcuts() { return shortcuts_.actions(); }

Q_SIGNALS:
    // The user closed the window (its close box, or Escape).
    void closeRequested();
    // A command only the owner of the window can carry out (exit, the log
    // window, files and folders, dialogs).
    void windowCommand(int id);
    // Text was dropped on the window.
    void textDropped(const QString& text);
    // The window system minimised the window, or brought it back.
    void minimised();
    void restored();
    // The tray icon's part of the display wants refreshing.
    void trayRefreshRequested();
    // The display was read again from the player: others showing it follow.
    void displayRefreshed();

protected:
    void moveEvent(QMoveEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The content's size in dialog units, drawn as one dialog.
    static constexpr int kDialogWidthDu = 247;
    static constexpr int kContentHeightDu = 93;

    // A command of a menu runs once the menu has closed: it may rebuild it.
    void runAfterMenu(int id);
    void orderForKeyboard();
    void refreshMenuBar();
    void refreshMeterTimers();
    QString text(const char* key) const;

    Application& application_;
    WindowCommands& commands_;
    ConnectStart connectStart_;
    MenuSource menuSource_;
    DisplayModel display_;
    DialogUnits units_;
    WindowPlacement placement_;
    DropHandler drops_;

    // Made in this order, which is also the order the widgets stack in and
    // screen readers walk them.
    QMenuBar* menuBar_;
    QWidget* content_;
    QFrame* menuLine_;
    MeterPanel meterPanel_;
    StationDisplay station_;
    VolumeControl volume_;
    TransportButtons transport_;
    StatusBar statusBar_;
    WindowShortcuts shortcuts_;
    TimerRegistry* timers_;
};

}  // namespace korvanel
