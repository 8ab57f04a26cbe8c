#pragma once

#include <QString>

class QWidget;

namespace korvanel {

// Small window and clipboard functions of the desktop window. GUI thread only.

// Centres the window, frame included, in the available area of the screen it
// is on; a window larger than that area keeps its title bar on the screen.
void centreOnScreen(QWidget& window);

// Puts plain text on the clipboard; false when there is no clipboard.
bool copyTextToClipboard(const QString& text);

// The clipboard's plain text up to its first NUL; empty when the clipboard
// holds no text or more than limitBytes of it in UTF-8.
QString readClipboardText(qsizetype limitBytes);

}  // namespace korvanel
