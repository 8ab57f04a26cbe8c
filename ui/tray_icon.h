#pragma once

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

#include <functional>
#include <string>

#include "ui/menu_builder.h"

namespace korvanel {

struct MenuEntry;

// The player's icon in the desktop's tray: its picture, its tooltip, a
// click, and a menu built afresh each time it opens.
// GUI thread only.
class TrayIcon final : public QObject {
    Q_OBJECT

public:
    static constexpr int kTooltipChars = 63;

    explicit TrayIcon(QObject* parent = nullptr);

    // Whether the desktop has a tray to put an icon in.
    static bool available();

    // A readable picture file, or the program's own icon.
    void setIconPath(const std::string& path);
    QIcon icon() const { return tray_.icon(); }
    // The first 63 characters of the text.
    void setTooltip(const QString& text);
    QString tooltip() const { return tray_.toolTip(); }
    void setShown(bool shown);
    bool isShown() const { return tray_.isVisible(); }

    using MenuSource = std::function<MenuEntry()>;
    void setMenu(MenuSource source, MenuCommand command);

    static QIcon programIcon();

Q_SIGNALS:
    // A left click or a double click on the icon.
    void clicked();

private:
    QSystemTrayIcon tray_;
    QMenu menu_;
    MenuSource menuSource_;
    MenuCommand command_;
    std::string iconPath_;
    bool iconSet_ = false;
};

}  // namespace korvanel
