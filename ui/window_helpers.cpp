#include "ui/window_helpers.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace korvanel {

void centreOnScreen(QWidget& window) {
    const QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    if (!screen) {
        return;
    }
    const QRect area = screen->availableGeometry();
    const QSize frame = window.frameGeometry().size();
    const int x = area.x() + std::max(0, (area.width() - frame.width()) / 2);
    const int y = area.y() + std::max(0, (area.height() - frame.height()) / 2);
    window.move(x, y);
}

bool copyTextToClipboard(const QString& text) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard) {
        return false;
    }
    clipboard->setText(text, QClipboard::Clipboard);
    return true;
}

QString readClipboardText(qsizetype limitBytes) {
    const QClipboard* clipboard = QGuiApplication::clipboard();
    const QMimeData* data = clipboard ? clipboard->mimeData(QClipboard::Clipboard) : nullptr;
    if (!data || !data->hasText()) {
        return {};
    }
    QString text = data->text();
    if (const qsizetype nul = text.indexOf(QChar(u'\0')); nul >= 0) {
        text.truncate(nul);
    }
    // Each character is at least one byte, so the size alone can refuse early.
    if (text.size() > limitBytes || text.toUtf8().size() > limitBytes) {
        return {};
    }
    return text;
}

}  // namespace korvanel
