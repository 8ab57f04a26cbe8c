#pragma once

#include <QColor>
#include <QPushButton>

namespace korvanel {

// A push button that shows a colour and lets the user choose another.
// GUI thread only.
class ColourButton : public QPushButton {
    Q_OBJECT

public:
    explicit ColourButton(const QString& text, QWidget* parent = nullptr);

    QColor colour() const { return colour_; }
    // Shows the colour; says nothing (no colourChosen).
    void setColour(QColor colour);

Q_SIGNALS:
    // The user chose a colour in the colour dialog.
    void colourChosen(QColor colour);

private:
    void choose();

    QColor colour_;
};

}  // namespace korvanel
