#include "ui/tray_icon.h"

#include <QApplication>
#include <QFileInfo>
#include <QPainter>
#include <QPixmap>

#include "frontend/menu_tree.h"

namespace korvanel {

TrayIcon::TrayIcon(QObject* parent) : QObject(parent) {
    tray_.setContextMenu(&menu_);
    connect(&tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
            Q_EMIT clicked();
        }
    });
    // Built afresh each time, so its checks and captions are current.
    connect(&menu_, &QMenu::aboutToShow, this, [this] {
        if (menuSource_) {
            fillMenu(menu_, menuSource_(), command_);
        }
    });
}

bool TrayIcon::available() { return QSystemTrayIcon::isSystemTrayAvailable(); }

QIcon TrayIcon::programIcon() {
    if (!QApplication::windowIcon().isNull()) {
        return QApplication::windowIcon();
    }
    // Until the program ships a picture of its own: a small drawn radio.
    QPixmap picture(32, 32);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xee, 0xaa, 0x19));
    painter.drawRoundedRect(QRectF(2, 10, 28, 18), 4, 4);
    painter.setBrush(QColor(0x30, 0x30, 0x30));
    painter.drawEllipse(QRectF(17, 13, 11, 11));
    painter.drawRect(QRectF(5, 14, 9, 2));
    painter.drawRect(QRectF(5, 19, 9, 2));
    painter.setPen(QPen(QColor(0x30, 0x30, 0x30), 2));
    painter.drawLine(QPointF(8, 10), QPointF(20, 3));
    return QIcon(picture);
}

void TrayIcon::setIconPath(const std::string& path) {
    if (iconSet_ && path == iconPath_) {
        return;
    }
    iconPath_ = path;
    iconSet_ = true;
    QIcon icon;
    const QString file = QString::fromStdString(path);
    if (!file.isEmpty() && QFileInfo(file).isReadable()) {
        icon = QIcon(file);
    }
    // An unreadable or broken file falls back without a word.
    if (icon.isNull() || icon.availableSizes().isEmpty()) {
        icon = programIcon();
    }
    tray_.setIcon(icon);
}

void TrayIcon::setTooltip(const QString& text) { tray_.setToolTip(text.left(kTooltipChars)); }

void TrayIcon::setShown(bool shown) { tray_.setVisible(shown && available()); }

void TrayIcon::setMenu(MenuSource source, MenuCommand command) {
    menuSource_ = std::move(source);
    command_ = std::move(command);
}

}  // namespace korvanel
