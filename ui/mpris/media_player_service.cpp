#include "ui/mpris/media_player_service.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QUrl>

#include <algorithm>

#include "app/application.h"
#include "frontend/menu_tree.h"
#include "ui/desktop_window.h"
#include "ui/window_helpers.h"

namespace korvanel {
namespace {

constexpr const char* kPlayerInterface = "org.mpris.MediaPlayer2.Player";

}  // namespace

MediaPlayerService::MediaPlayerService(DesktopWindow& desktop, Application& application, QDBusConnection bus)
    : desktop_(desktop), application_(application), bus_(std::move(bus)), model_(application) {
    state_ = model_.read();
    if (!bus_.isConnected()) {
        return;
    }
    serviceName_ = QString::fromLatin1(kServiceName);
    if (!bus_.registerService(serviceName_)) {
        // Another player has the name: MPRIS asks for an instance suffix.
        serviceName_ += QStringLiteral(".instance%1").arg(QCoreApplication::applicationPid());
        if (!bus_.registerService(serviceName_)) {
            return;
        }
    }
    registered_ = bus_.registerObject(QString::fromLatin1(kObjectPath), this, QDBusConnection::ExportAdaptors);
    connect(&desktop_.mainWindow(), &MainWindow::displayRefreshed, this, &MediaPlayerService::refresh);
}

MediaPlayerService::~MediaPlayerService() {
    if (registered_) {
        bus_.unregisterObject(QString::fromLatin1(kObjectPath));
    }
    if (!serviceName_.isEmpty()) {
        bus_.unregisterService(serviceName_);
    }
}

QVariantMap MediaPlayerService::metadata() const {
    QVariantMap metadata;
    metadata.insert(QStringLiteral("mpris:trackid"),
                    QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/korvanel/Korvanel/track/%1")
                                                            .arg(static_cast<qulonglong>(state_.track)))));
    if (!state_.title.empty()) {
        metadata.insert(QStringLiteral("xesam:title"), fromUtf8(state_.title));
    }
    if (!state_.artists.empty()) {
        QStringList artists;
        for (const std::string& artist : state_.artists) {
            artists << fromUtf8(artist);
        }
        metadata.insert(QStringLiteral("xesam:artist"), artists);
    }
    if (!state_.stationName.empty()) {
        metadata.insert(QStringLiteral("xesam:album"), fromUtf8(state_.stationName));
    }
    if (!state_.source.empty()) {
        metadata.insert(QStringLiteral("xesam:url"), fromUtf8(state_.source));
    }
    return metadata;
}

void MediaPlayerService::refresh() {
    const MediaPlayerState before = state_;
    state_ = model_.read();
    if (!registered_ || state_ == before) {
        return;
    }
    QVariantMap changed;
    if (state_.status != before.status) {
        changed.insert(QStringLiteral("PlaybackStatus"), QString::fromLatin1(MediaPlayerModel::statusName(state_.status)));
    }
    if (state_.title != before.title || state_.artists != before.artists || state_.stationName != before.stationName ||
        state_.source != before.source || state_.track != before.track) {
        changed.insert(QStringLiteral("Metadata"), metadata());
    }
    if (state_.volume != before.volume) {
        changed.insert(QStringLiteral("Volume"), state_.volume);
    }
    if (state_.canGoNext != before.canGoNext) {
        changed.insert(QStringLiteral("CanGoNext"), state_.canGoNext);
    }
    if (state_.canGoPrevious != before.canGoPrevious) {
        changed.insert(QStringLiteral("CanGoPrevious"), state_.canGoPrevious);
    }
    if (state_.canStop != before.canStop) {
        changed.insert(QStringLiteral("CanPause"), state_.canStop);
    }
    if (changed.isEmpty()) {
        return;
    }
    QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(kObjectPath),
                                                     QStringLiteral("org.freedesktop.DBus.Properties"),
                                                     QStringLiteral("PropertiesChanged"));
    signal << QString::fromLatin1(kPlayerInterface) << changed << QStringList();
    bus_.send(signal);
}

void MediaPlayerService::raise() { desktop_.showWindow(); }

void MediaPlayerService::quit() { desktop_.mainWindow().runCommand(command::kExit); }

void MediaPlayerService::play() {
    if (state_.status != MediaPlayerState::Status::Playing) {
        desktop_.mainWindow().runCommand(command::kPlay);
    }
}

void MediaPlayerService::stop() {
    if (state_.canStop) {
        desktop_.mainWindow().runCommand(command::kStop);
    }
}

void MediaPlayerService::playPause() {
    if (state_.status == MediaPlayerState::Status::Playing) {
        stop();
    } else {
        play();
    }
}

void MediaPlayerService::next() {
    if (state_.canGoNext) {
        desktop_.mainWindow().runCommand(command::kNext);
    }
}

void MediaPlayerService::previous() {
    if (state_.canGoPrevious) {
        desktop_.mainWindow().runCommand(command::kPrevious);
    }
}

void MediaPlayerService::openUri(const QString& uri) {
    // From another program: only an address of a scheme we announce.
    if (uri.size() > kMaxUriLength) {
        return;
    }
    const QString scheme = QUrl(uri).scheme().toLower();
    if (scheme != QStringLiteral("http") && scheme != QStringLiteral("https") && scheme != QStringLiteral("mms")) {
        return;
    }
    desktop_.commands().playSource(uri.toStdString());
}

void MediaPlayerService::setVolume(double volume) {
    desktop_.mainWindow().setVolume(std::clamp(volume, 0.0, 1.0));
}

}  // namespace korvanel
