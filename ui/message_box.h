#pragma once

#include <QString>

#include "frontend/window_view.h"

class QWidget;

namespace korvanel {

// Shows a message for the user over the parent, as plain text whatever it
// holds, and returns once it was closed.
void showMessageBox(QWidget& parent, MessageIcon icon, const QString& caption, const QString& text);

}  // namespace korvanel
