#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <string>

namespace korvanel {

class Application;
class DesktopWindow;

// Tells the desktop of every new track title through its notification
// service while the player's window is hidden or not active; each
// notification replaces the one before instead of stacking. Follows the
// window's display refreshes; off with "General/TrackNotifications". The
// body (the station name) is escaped where the service reads markup, which
// it is asked once, before the first notification.
//
// Threads: the GUI thread only.
class TrackNotifier final : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kSettingKey = "General/TrackNotifications";

    TrackNotifier(DesktopWindow& desktop, Application& application, QDBusConnection bus);

public Q_SLOTS:
    void refresh();

private Q_SLOTS:
    // The service's answer: the notification's id, for the next to replace.
    void notified(uint id);
    void notifyFailed();
    void capabilitiesAnswered(const QStringList& capabilities);
    void capabilitiesFailed();

private:
    struct Track {
        std::string title;
        std::string stationName;
    };
    // One call at a time, so each knows the id to replace; a title that
    // comes meanwhile waits, and only the latest.
    void notify(const Track& track);
    void answered();

    DesktopWindow& desktop_;
    Application& application_;
    QDBusConnection bus_;
    std::string lastTitle_;
    std::string lastSource_;
    uint shownId_ = 0;
    bool calling_ = false;  // a call to the service waits for its answer
    bool capabilitiesAsked_ = false;
    // Until the service says otherwise, a body may be read as markup.
    bool bodyMarkup_ = true;
    std::optional<Track> waiting_;
};

}  // namespace korvanel
