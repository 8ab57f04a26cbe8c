#pragma once

#include <QLabel>
#include <QString>

namespace korvanel {

// Sets a label's text only when it differs, so a refresh that changes
// nothing repaints nothing. The label shows the text as it is: "&" is never
// a mnemonic and rich text is never interpreted, whatever a station sends.
inline void setPlainLabel(QLabel& label, const QString& text) {
    if (label.text() != text) {
        label.setText(text);
    }
}

}  // namespace korvanel
