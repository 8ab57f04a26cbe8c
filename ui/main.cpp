#include <QApplication>

#include <csignal>

#include "app/application.h"
#include "base/product.h"
#include "frontend/signal_watcher.h"
#include "ui/desktop_window.h"
#include "ui/mpris/media_player_service.h"
#include "ui/track_notifier.h"

// The desktop player: the core with the desktop window for its face.
int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    // Before any thread starts: a termination request (a session logging
    // out, Ctrl-C in a terminal) ends the program the normal way, so the
    // session and settings are saved.
    korvanel::SignalWatcher signals;
    QApplication qt(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(korvanel::product::kName));
    QApplication::setApplicationVersion(QString::fromLatin1(korvanel::product::kVersion));
    QApplication::setDesktopFileName(QStringLiteral("korvanel"));
    // The window decides when the program ends, not the last window closed.
    QApplication::setQuitOnLastWindowClosed(false);
    signals.setOnInterrupt(
        [&qt] { QMetaObject::invokeMethod(&qt, [] { QApplication::quit(); }, Qt::QueuedConnection); });
    {
        korvanel::DesktopWindow* desktop = nullptr;
        korvanel::Application application([&desktop](korvanel::Application& core) {
            auto window = std::make_unique<korvanel::DesktopWindow>(core);
            desktop = window.get();
            return window;
        });
        if (desktop != nullptr && application.mainWindow() != nullptr) {
            const korvanel::MediaPlayerService mediaPlayer(*desktop, application, QDBusConnection::sessionBus());
            const korvanel::TrackNotifier notifier(*desktop, application, QDBusConnection::sessionBus());
            desktop->run();
        }
    }
    signals.setOnInterrupt(nullptr);
    return 0;
}
