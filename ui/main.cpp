#include <QApplication>

#include "app/application.h"
#include "base/product.h"
#include "ui/desktop_window.h"

// The desktop player: the core with the desktop window for its face.
int main(int argc, char** argv) {
    QApplication qt(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(korvanel::product::kName));
    QApplication::setApplicationVersion(QString::fromLatin1(korvanel::product::kVersion));
    QApplication::setDesktopFileName(QStringLiteral("korvanel"));
    // The window decides when the program ends (close or Exit), not the
    // last window that closes.
    QApplication::setQuitOnLastWindowClosed(false);
    korvanel::Application application(
        [](korvanel::Application& core) { return std::make_unique<korvanel::DesktopWindow>(core); });
    if (korvanel::AppWindow* window = application.mainWindow()) {
        window->run();
    }
    return 0;
}
