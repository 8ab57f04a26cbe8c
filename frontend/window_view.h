#pragma once

#include <string>

namespace korvanel {

// Kinds of log lines; each has its own colours in the log.
enum class LogKind { Normal = 0, Error = 1, TrackTitle = 2, PlaybackStart = 3 };

// What a refresh of the window reads again: everything, the buttons (and the
// boxes' captions), the station's texts and the title, the status bar, the
// tray icon, the menus, or whether the meter and the status timer run.
enum class DisplayPart { All, Buttons, Texts, StatusBar, Tray, MenuBar, Timers };

// The status bar's parts, left to right, as setStatusText numbers them.
namespace status_part {
inline constexpr int kState = 0;
inline constexpr int kAddress = 1;
inline constexpr int kTimes = 2;
inline constexpr int kCount = 3;
}  // namespace status_part

enum class MessageIcon { Information, Warning, Error };

// What a front end (the desktop window or the console) does for the event
// handling it shares with the other one. Called on the window's event worker.
class WindowView {
public:
    virtual ~WindowView() = default;

    // The text is shown as it is (it is never a format).
    virtual void addLogLine(LogKind kind, const std::string& text) = 0;
    virtual void setStatusText(int part, const std::string& text) = 0;
    virtual void refresh(DisplayPart part) = 0;
    // A message for the user; a front end without dialogs may log it instead.
    virtual void showMessage(MessageIcon icon, const std::string& caption, const std::string& text) = 0;
};

// "%H:%M:%S :: " for the current local time, the start of every log line.
std::string logTimeStamp();

}  // namespace korvanel
