#include "ui/dialogs/colour_button.h"

#include <QColorDialog>
#include <QPainter>
#include <QPixmap>

namespace korvanel {

ColourButton::ColourButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    connect(this, &QPushButton::clicked, this, &ColourButton::choose);
}

void ColourButton::setColour(QColor colour) {
    colour_ = colour;
    // A swatch as the button's icon, at the size of a line of its text.
    const int side = fontMetrics().height();
    QPixmap swatch(side, side);
    swatch.fill(colour);
    QPainter frame(&swatch);
    frame.setPen(palette().color(QPalette::ButtonText));
    frame.drawRect(0, 0, side - 1, side - 1);
    frame.end();
    setIcon(QIcon(swatch));
    setIconSize(swatch.size());
    setAccessibleDescription(colour.name());
}

void ColourButton::choose() {
    const QColor chosen = QColorDialog::getColor(colour_, this, text().remove(QLatin1Char('&')));
    if (chosen.isValid() && chosen != colour_) {
        setColour(chosen);
        Q_EMIT colourChosen(chosen);
    }
}

}  // namespace korvanel
