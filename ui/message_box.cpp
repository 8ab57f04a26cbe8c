#include "ui/message_box.h"

#include <QMessageBox>

namespace korvanel {

void showMessageBox(QWidget& parent, MessageIcon icon, const QString& caption, const QString& text) {
    QMessageBox box(icon == MessageIcon::Error     ? QMessageBox::Critical
                    : icon == MessageIcon::Warning ? QMessageBox::Warning
                                                   : QMessageBox::Information,
                    caption, text, QMessageBox::Ok, &parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

}  // namespace korvanel
