#pragma once

#include <QString>
#include <QWidget>

namespace korvanel {

// What a screen reader says of a widget. Every change is an event to the
// screen reader, so a refresh that changes nothing sets nothing.
inline void updateAccessibleName(QWidget& widget, const QString& name) {
    if (widget.accessibleName() != name) {
        widget.setAccessibleName(name);
    }
}

inline void updateAccessibleDescription(QWidget& widget, const QString& description) {
    if (widget.accessibleDescription() != description) {
        widget.setAccessibleDescription(description);
    }
}

}  // namespace korvanel
