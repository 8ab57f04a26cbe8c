#include "ui/track_notifier.h"

#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

#include <utility>

#include "app/application.h"
#include "audio/stream_info.h"
#include "base/product.h"
#include "settings/settings_store.h"
#include "ui/desktop_window.h"
#include "ui/window_helpers.h"

namespace korvanel {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

// A station's name as text, never as markup: "Rock & Roll" stays whole and a
// name holding tags shows them.
QString escapedForMarkup(const QString& text) {
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'&') {
            escaped += QStringLiteral("&amp;");
        } else if (c == u'<') {
            escaped += QStringLiteral("&lt;");
        } else if (c == u'>') {
            escaped += QStringLiteral("&gt;");
        } else {
            escaped += c;
        }
    }
    return escaped;
}

}  // namespace

TrackNotifier::TrackNotifier(DesktopWindow& desktop, Application& application, QDBusConnection bus)
    : desktop_(desktop), application_(application), bus_(std::move(bus)) {
    const StreamInfo::Snapshot info = application_.streamInfo()->snapshot();
    lastTitle_ = info.title;
    lastSource_ = info.source;
    connect(&desktop_.mainWindow(), &MainWindow::displayRefreshed, this, &TrackNotifier::refresh);
}

void TrackNotifier::capabilitiesAnswered(const QStringList& capabilities) {
    bodyMarkup_ = capabilities.contains(QStringLiteral("body-markup"));
    answered();
}

void TrackNotifier::capabilitiesFailed() { answered(); }

void TrackNotifier::refresh() {
    const StreamInfo::Snapshot info = application_.streamInfo()->snapshot();
    if (info.title == lastTitle_ && info.source == lastSource_) {
        return;
    }
    lastTitle_ = info.title;
    lastSource_ = info.source;
    const MainWindow& window = desktop_.mainWindow();
    const bool seen = window.isVisible() && window.isActiveWindow();
    if (info.title.empty() || seen || !application_.settings().getBool(kSettingKey) || !bus_.isConnected()) {
        return;
    }
    notify({info.title, info.stationName});
}

void TrackNotifier::notify(const Track& track) {
    if (calling_) {
        waiting_ = track;
        return;
    }
    // Asked once, when there is something to show (asking may start the
    // service); the notification waits for the answer.
    if (!capabilitiesAsked_) {
        capabilitiesAsked_ = true;
        const QDBusMessage ask =
            QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("GetCapabilities"));
        calling_ =
            bus_.callWithCallback(ask, this, SLOT(capabilitiesAnswered(QStringList)), SLOT(capabilitiesFailed()));
        if (calling_) {
            waiting_ = track;
            return;
        }
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("korvanel"));
    hints.insert(QStringLiteral("category"), QStringLiteral("x-korvanel.track"));
    const QString body = fromUtf8(track.stationName);
    // The summary is plain text to every service; the body only to some.
    call << QString::fromUtf8(product::kName) << shownId_ << QStringLiteral("korvanel") << fromUtf8(track.title)
         << (bodyMarkup_ ? escapedForMarkup(body) : body) << QStringList() << hints << -1;
    // Without a notification service the call just fails; nothing waits.
    calling_ = bus_.callWithCallback(call, this, SLOT(notified(uint)), SLOT(notifyFailed()));
}

void TrackNotifier::notified(uint id) {
    shownId_ = id;
    answered();
}

void TrackNotifier::notifyFailed() { answered(); }

void TrackNotifier::answered() {
    calling_ = false;
    if (waiting_) {
        const Track next = *std::exchange(waiting_, std::nullopt);
        notify(next);
    }
}

}  // namespace korvanel
