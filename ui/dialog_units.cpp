#include "ui/dialog_units.h"

#include <QFontMetrics>
#include <QString>
#include <QWidget>

namespace korvanel {

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    unitX_ = metrics.horizontalAdvance(alphabet) / 52.0 / 4.0;
    unitY_ = metrics.height() / 8.0;
}

QRect DialogUnits::rect(int x, int y, int width, int height) const {
    const auto px = [](double value) { return static_cast<int>(value + 0.5); };
    return QRect(px(x * unitX_), px(y * unitY_), px(width * unitX_), px(height * unitY_));
}

void DialogUnits::place(QWidget& widget, int x, int y, int width, int height) const {
    widget.setGeometry(rect(x, y, width, height));
}

}  // namespace korvanel
