#pragma once

#include <QColor>
#include <QString>

#include <cstdint>
#include <string>

#include "settings/settings_store.h"

class QWidget;

namespace korvanel {

// Small window and clipboard functions of the desktop window. GUI thread only.

// The core's UTF-8 texts as Qt's, embedded NULs and all.
inline QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A text of the language, by its key.
inline QString languageText(const SettingsStore& language, const char* key) {
    return fromUtf8(language.getString(key));
}

// A stored colour (red in the low byte, then green, then blue) as Qt's, and back.
inline QColor toQColor(std::uint32_t colour) {
    return QColor(static_cast<int>(colour & 0xFFu), static_cast<int>((colour >> 8) & 0xFFu),
                  static_cast<int>((colour >> 16) & 0xFFu));
}
inline std::uint32_t fromQColor(QColor colour) {
    return static_cast<std::uint32_t>(colour.red()) | (static_cast<std::uint32_t>(colour.green()) << 8) |
           (static_cast<std::uint32_t>(colour.blue()) << 16);
}

// Centres the window, frame included, in the available area of the screen it
// is on; a window larger than that area keeps its title bar on the screen.
void centreOnScreen(QWidget& window);

// Puts plain text on the clipboard; false when there is no clipboard.
bool copyTextToClipboard(const QString& text);

// The clipboard's plain text up to its first NUL; empty when the clipboard
// holds no text or more than limitBytes of it in UTF-8.
QString readClipboardText(qsizetype limitBytes);

}  // namespace korvanel
