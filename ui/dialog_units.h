#pragma once

#include <QFont>
#include <QRect>

class QWidget;

namespace korvanel {

// Lengths in dialog units: a quarter of the average character width across,
// an eighth of the line height down, so a layout drawn in them grows with
// the font.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    // Pixels of a rectangle given in dialog units.
    QRect rect(int x, int y, int width, int height) const;
    // Gives the widget the pixels of that rectangle.
    void place(QWidget& widget, int x, int y, int width, int height) const;

private:
    double unitX_;
    double unitY_;
};

}  // namespace korvanel
