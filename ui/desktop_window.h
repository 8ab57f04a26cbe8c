#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "app/app_window.h"
#include "base/serial_queue.h"
#include "base/window_event.h"
#include "frontend/window_commands.h"
#include "frontend/window_events.h"
#include "frontend/window_view.h"
#include "frontend/window_visibility.h"
#include "stations/station_directory.h"
#include "ui/log_window.h"
#include "ui/main_window.h"
#include "ui/tray_icon.h"

namespace korvanel {

class Application;

// The desktop face of the player: the process's AppWindow. Events from the
// components run on its one worker through the shared WindowEvents, and
// reach the widgets only as queued calls onto the GUI thread (this class is
// that one bridge). It owns the main window and the log window.
//
// Threads: made, run and destroyed on the GUI thread, which owns every
// widget. post() comes from any thread; handle() and the WindowView calls
// come from the event worker, and the GUI thread logs through addLogLine()
// too (the log window queues lines from any thread). The worker's calls
// reach the widgets only as queued calls.
// Locks: messageLock_ guards closing_ and the answer of a waiting message
// box; observerLock_ the event observer, called on the worker with it held.
class DesktopWindow final : public AppWindow, public WindowView {
public:
    explicit DesktopWindow(Application& application);
    ~DesktopWindow() override;

    // AppWindow, on the GUI thread.
    void applySettings(SettingsStore& store) override;
    void collectSettings(SettingsStore& store) override;
    // The event loop; when it ends the session is written into the settings.
    void run() override;
    void post(WindowEvent event) override { queue_.post(std::move(event)); }
    // Events queued and not taken by the worker yet; any thread.
    std::size_t pendingCount() const { return queue_.pendingCount(); }

    // WindowView, on the event worker (addLogLine from any thread).
    void addLogLine(LogKind kind, const std::string& text) override;
    void setStatusText(int part, const std::string& text) override;
    void refresh(DisplayPart part) override;
    // Waits until the user closed the box, or the program is closing.
    void showMessage(MessageIcon icon, const std::string& caption, const std::string& text) override;

    MainWindow& mainWindow() { return main_; }
    TrayIcon& trayIcon() { return tray_; }
    const WindowVisibility& visibility() const { return visibility_; }
    // The window to the tray, and back; a tray click or its menu's first item.
    void hideToTray();
    void showWindow();
    void toggleWindow();
    // Back on screen, centred, wherever it was.
    void recoverWindow();
    // Ends the event loop with every window as it is, so run() records the
    // session as the user left it. On the GUI thread.
    static void exitProgram();
    LogWindow& logWindow() { return log_; }
    WindowCommands& commands() { return commands_; }
    // Shared by the event worker and the GUI thread as its header says.
    WindowEvents& events() { return *events_; }

    // Told of every event after it was handled, on the event worker (tests).
    void setEventObserver(std::function<void(const WindowEvent&)> observer);

private:
    void handle(WindowEvent& event);
    // Ends every wait for a message box; nothing is shown afterwards.
    void beginClosing();
    // Exit, the log window, opening files and folders.
    void runWindowCommand(int id);
    void openInEditor(const std::string& path);
    // File > Import Stations and Export Favorites: the file dialog, then
    // the outcome in the log and, unless popups are off, a message.
    void importStations();
    void exportFavorites();
    void tellTransfer(const char* captionKey, const std::vector<TransferLine>& lines);
    // Modal; what the user applies reaches every component and the file.
    void showPreferences();
    void applyChangedSettings();
    void refreshTray();
    WindowVisibility::Rules visibilityRules() const;
    WindowMenuState menuState() const;
    void act(WindowVisibility::Action action);
    void restoreLogWindow(const SettingsStore& store);

    Application& application_;
    std::unique_ptr<WindowEvents> events_;
    WindowCommands commands_;
    LogWindow log_;
    MainWindow main_;
    TrayIcon tray_;
    WindowVisibility visibility_;
    std::minstd_rand quotationDraws_;  // the About box's quotations
    StationDirectory directory_;

    std::mutex observerLock_;
    std::function<void(const WindowEvent&)> observer_;  // guarded by observerLock_

    std::mutex messageLock_;
    std::condition_variable messageClosed_;
    bool closing_ = false;  // guarded by messageLock_

    // Last: the event worker uses everything above, and goes first.
    SerialQueue<WindowEvent> queue_{[this](WindowEvent& event) { handle(event); }};
};

}  // namespace korvanel
