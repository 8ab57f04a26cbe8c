#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QVariantMap>

#include "frontend/media_player_model.h"
#include "ui/mpris/mpris_player_adaptor.h"
#include "ui/mpris/mpris_root_adaptor.h"

namespace korvanel {

class Application;
class DesktopWindow;

// The player on the session bus as an MPRIS2 media player, so media keys,
// sound applets and playerctl reach it. Follows the window's every display
// refresh and announces what changed; commands go through the window's own.
//
// Threads: the GUI thread only (Qt delivers bus calls there).
class MediaPlayerService final : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kObjectPath = "/org/mpris/MediaPlayer2";
    static constexpr const char* kServiceName = "org.mpris.MediaPlayer2.korvanel";
    // Longer addresses handed to OpenUri are refused.
    static constexpr int kMaxUriLength = 4096;

    // Registers at once; without a bus the player simply has no such face.
    MediaPlayerService(DesktopWindow& desktop, Application& application, QDBusConnection bus);
    ~MediaPlayerService() override;
    MediaPlayerService(const MediaPlayerService&) = delete;
    MediaPlayerService& operator=(const MediaPlayerService&) = delete;

    bool isRegistered() const { return registered_; }
    // The bus name taken: kServiceName, or an instance name beside another player.
    const QString& serviceName() const { return serviceName_; }
    const MediaPlayerState& state() const { return state_; }
    // xesam metadata of the current track.
    QVariantMap metadata() const;

    void raise();
    void quit();
    void play();
    void stop();
    void playPause();
    void next();
    void previous();
    void openUri(const QString& uri);
    void setVolume(double volume);

public Q_SLOTS:
    // Reads the player again and announces what changed.
    void refresh();

private:
    DesktopWindow& desktop_;
    Application& application_;
    QDBusConnection bus_;
    MediaPlayerModel model_;
    MediaPlayerState state_;
    QString serviceName_;
    bool registered_ = false;
    // Children of this object, as Qt's adaptors must be.
    MprisRootAdaptor root_{*this};
    MprisPlayerAdaptor player_{*this};
};

}  // namespace korvanel
