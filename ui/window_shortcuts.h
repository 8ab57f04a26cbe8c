#pragma once

#include <functional>
#include <optional>
#include <vector>

class QAction;
class QWidget;

namespace korvanel {

// The keys of the main window: Ctrl+Q exits, Ctrl+V plays the clipboard,
// Ctrl+L shows or hides the log, and Space plays or stops whichever widget
// has the focus. Other windows of the player take the same actions: one
// action in several windows is one shortcut, where an action of each would
// make the key ambiguous. GUI thread only; the actions belong to the window.
class WindowShortcuts {
public:
    using Command = std::function<void(int id)>;
    // What Space runs now, if anything.
    using SpaceCommand = std::function<std::optional<int>()>;

    WindowShortcuts(QWidget& window, Command command, SpaceCommand space);

    std::vector<QAction*> actions() const { return actions_; }

private:
    std::vector<QAction*> actions_;
};

}  // namespace korvanel
