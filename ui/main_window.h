#pragma once

#include <QAction>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QPoint>
#include <QPushButton>
#include <QSlider>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <QString>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "frontend/display_model.h"
#include "frontend/menu_tree.h"
#include "frontend/window_view.h"
#include "ui/hyperlink_label.h"
#include "ui/peak_meter.h"
#include "ui/timer_registry.h"

namespace korvanel {

class Application;
class SettingsStore;
class WindowCommands;

// The player's window: station and track display, transport buttons, Rec
// and Mute, the volume slider, the peak meter and a three-part status bar.
// It only shows what the core holds (through DisplayModel) and hands the
// user's commands to WindowCommands.
//
// Threads: the GUI thread only. Workers reach it through DesktopWindow's
// queued calls.
class MainWindow final : public QWidget {
    Q_OBJECT

public:
    // Timer messages of the window, as the registry knows them.
    static constexpr int kMeterTick = 2031;
    static constexpr int kStatusTick = 2032;
    static constexpr int kStatusTickMs = 500;
    // A stored coordinate that means "never placed": centre instead.
    static constexpr int kNoPosition = -32000;
    // The dialog the layout is drawn in, in dialog units.
    static constexpr int kDialogWidthDu = 247;
    static constexpr int kContentHeightDu = 93;

    // What the window reads besides the core: when the current stream
    // started playing (steady milliseconds).
    using ConnectStart = std::function<std::int64_t()>;

    MainWindow(Application& application, WindowCommands& commands, ConnectStart connectStart);
    ~MainWindow() override;

    // Redraws one part of the display, or all of it.
    void refreshDisplay(DisplayPart part);
    void refreshDisplay(int part);
    void setStatusText(int part, const QString& text);

    // Colours, always on top and the stored position (the window is not
    // moved); then a full refresh.
    void applySettings(const SettingsStore& store);
    // The stored position and the meter colours (written with "#").
    void collectSettings(SettingsStore& store) const;

    // Moves to the stored position, or centres when it is unknown or on no
    // screen.
    void placeAtStoredPosition();
    QPoint storedPosition() const { return position_; }

    // The menu bar's contents, read anew on each refresh of the menus.
    using MenuSource = std::function<MenuEntry()>;
    void setMenuSource(MenuSource source);
    // A command of the menus or buttons, as its id says.
    void runCommand(int id);

    // Shows a message for the user and waits for it to be closed.
    void showMessage(MessageIcon icon, const QString& caption, const QString& text);
    // As if the user moved the volume slider there (0..1, in its steps).
    void setVolume(double volume);

    // For tests and the accessibility tree: the widgets by role.
    PeakMeter& meter() { return meter_; }
    QSlider& volumeSlider() { return volume_; }
    QPushButton& playButton() { return play_; }
    QPushButton& stopButton() { return stop_; }
    QPushButton& previousButton() { return previous_; }
    QPushButton& nextButton() { return next_; }
    QPushButton& recordButton() { return record_; }
    QPushButton& muteButton() { return mute_; }
    QLabel& stationNameLabel() { return stationName_; }
    HyperlinkLabel& stationUrlLabel() { return stationUrl_; }
    QLabel& stateLabel() { return state_; }
    QLabel& descriptionLabel() { return description_; }
    QLabel& statusPart(int part) { return statusParts_.at(static_cast<std::size_t>(part)); }
    TimerRegistry& timers() { return timers_; }
    QMenuBar& menus() { return menuBar_; }

    // The keys of the window (Ctrl+Q, Ctrl+V, Ctrl+L, Space), for other
    // windows of the player to take as well: one action in several windows
    // is one shortcut, where an action of each would make the key ambiguous.
    std::vector<QAction*> windowShortcuts();

    // Pixels of a rectangle given in dialog units, by the font's metrics.
    QRect dialogRect(int x, int y, int width, int height) const;

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
    void buildLayout();
    void describeForScreenReaders();
    void connectControls();
    void addShortcuts();
    void onVolumeMoved(int position);
    void refreshStatusBar(const DisplayState& state);
    void refreshButtons(const DisplayState& state);
    void refreshTexts(const DisplayState& state);
    void refreshMeterTimers();
    bool isHiddenOrMinimised() const;
    void refreshMenuBar();
    QString text(const char* key) const;

    Application& application_;
    WindowCommands& commands_;
    ConnectStart connectStart_;
    MenuSource menuSource_;
    DisplayModel display_;
    TimerRegistry timers_;
    QPoint position_{kNoPosition, kNoPosition};
    bool meterEnabled_ = true;
    // A drag by hand where the window system cannot move the window itself.
    bool dragging_ = false;
    QPoint dragOffset_;

    // Parents are declared before their children, so each child is gone
    // before its parent deletes what is left.
    QVBoxLayout layout_;
    QMenuBar menuBar_;
    QWidget content_;
    QFrame menuLine_;
    QFrame meterFrame_;
    PeakMeter meter_;
    QGroupBox info_;
    QLabel stationName_;
    HyperlinkLabel stationUrl_;
    QLabel state_;
    QLabel description_;
    QSlider volume_;
    QGroupBox playback_;
    QPushButton previous_;
    QPushButton play_;
    QPushButton stop_;
    QPushButton next_;
    QFrame emptyFrame_;
    QPushButton record_;
    QPushButton mute_;
    // Keys of the whole window: Ctrl+Q exits, Ctrl+V plays the clipboard,
    // Ctrl+L shows or hides the log.
    std::array<QAction, 3> shortcuts_;
    QAction playOrStop_;  // Space, whichever widget has the focus
    // The status bar: state, address, play times.
    QWidget statusBar_;
    QHBoxLayout statusLayout_;
    std::array<QLabel, 3> statusParts_;
};

}  // namespace korvanel
