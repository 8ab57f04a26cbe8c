#include <QApplication>

#include <csignal>

#include "app/application.h"
#include "base/product.h"
#include "base/program_path.h"
#include "frontend/signal_watcher.h"
#include "ui/desktop_window.h"
#include "ui/mpris/media_player_service.h"
#include "ui/single_instance.h"
#include "ui/track_notifier.h"
#include "ui/window_accessibility.h"

namespace {

// The station list file or address the program was started with (what the
// desktop entry's %U hands over), or nothing.
QString sourceArgument() {
    const QStringList arguments = QApplication::arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (!arguments.at(i).startsWith(QLatin1Char('-'))) {
            return korvanel::SingleInstance::sourceOf(arguments.at(i));
        }
    }
    return {};
}

}  // namespace

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
    // A player of this folder already runs: it plays what this start got.
    const QString source = sourceArgument();
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString instanceName = korvanel::SingleInstance::serviceName(korvanel::programFolder());
    if (!korvanel::SingleInstance::claim(bus, instanceName) &&
        korvanel::SingleInstance::handOver(bus, instanceName, source)) {
        return 0;
    }
    signals.setOnInterrupt([&qt] {
        QMetaObject::invokeMethod(&qt, [] { korvanel::DesktopWindow::exitProgram(); }, Qt::QueuedConnection);
    });
    {
        // Before the first window: screen readers then see each as a frame.
        const korvanel::WindowAccessibility accessibility;
        korvanel::DesktopWindow* desktop = nullptr;
        korvanel::Application application([&desktop](korvanel::Application& core) {
            auto window = std::make_unique<korvanel::DesktopWindow>(core);
            desktop = window.get();
            return window;
        });
        if (desktop != nullptr && application.mainWindow() != nullptr) {
            const korvanel::MediaPlayerService mediaPlayer(*desktop, application, bus);
            const korvanel::TrackNotifier notifier(*desktop, application, bus);
            const korvanel::SingleInstance instance(bus, [desktop](const QString& handed) {
                if (!handed.isEmpty()) {
                    desktop->commands().playSource(handed.toStdString());
                }
                desktop->showWindow();
            });
            if (!source.isEmpty()) {
                QMetaObject::invokeMethod(
                    &qt, [desktop, &source] { desktop->commands().playSource(source.toStdString()); },
                    Qt::QueuedConnection);
            }
            desktop->run();
        }
    }
    signals.setOnInterrupt(nullptr);
    return 0;
}
