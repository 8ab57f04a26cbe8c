#pragma once

#include <QString>

#include <optional>

class QDragEnterEvent;
class QDropEvent;

namespace korvanel {

// What a drop on the main window plays: a link, a station-list file or a
// line of text (ui/text_drop.h says which). The dropped data comes from any
// program and is read only up to a limit.
class DropHandler {
public:
    explicit DropHandler(qsizetype limitBytes) : limitBytes_(limitBytes) {}

    // Takes the drag when it carries something to play.
    void enter(QDragEnterEvent& event) const;
    // The source the drop gives, its action accepted; nothing otherwise.
    std::optional<QString> take(QDropEvent& event) const;

private:
    qsizetype limitBytes_;
};

}  // namespace korvanel
