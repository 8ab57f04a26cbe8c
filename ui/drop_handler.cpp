#include "ui/drop_handler.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>

#include "ui/text_drop.h"

namespace korvanel {

void DropHandler::enter(QDragEnterEvent& event) const {
    if (event.mimeData() != nullptr && acceptsDrop(*event.mimeData())) {
        event.acceptProposedAction();
    }
}

std::optional<QString> DropHandler::take(QDropEvent& event) const {
    if (event.mimeData() == nullptr) {
        return std::nullopt;
    }
    auto text = droppedText(*event.mimeData(), limitBytes_);
    if (text) {
        event.acceptProposedAction();
    }
    return text;
}

}  // namespace korvanel
