#include "ui/window_shortcuts.h"

#include <QAction>
#include <QKeySequence>
#include <QWidget>

#include <utility>

#include "frontend/menu_tree.h"
#include "ui/qt_ownership.h"

namespace korvanel {

WindowShortcuts::WindowShortcuts(QWidget& window, Command command, SpaceCommand space) {
    const std::pair<QKeySequence, int> keys[] = {
        {QKeySequence::Quit, command::kExit},
        {QKeySequence::Paste, command::kPlayFromClipboard},
        {QKeySequence(Qt::CTRL | Qt::Key_L), command::kLogWindow},
    };
    for (const auto& [key, id] : keys) {
        auto* action = makeChild<QAction>(window);
        action->setShortcut(key);
        action->setShortcutContext(Qt::WindowShortcut);
        QObject::connect(action, &QAction::triggered, action, [command, id = id] { command(id); });
        window.addAction(action);
        actions_.push_back(action);
    }
    // Space is an action of the window rather than a key of the buttons, so
    // a focused Rec or Mute button, or the slider, does not take it.
    auto* playOrStop = makeChild<QAction>(window);
    playOrStop->setShortcut(QKeySequence(Qt::Key_Space));
    playOrStop->setShortcutContext(Qt::WindowShortcut);
    QObject::connect(playOrStop, &QAction::triggered, playOrStop, [command, space = std::move(space)] {
        if (const std::optional<int> id = space()) {
            command(*id);
        }
    });
    window.addAction(playOrStop);
    actions_.push_back(playOrStop);
}

}  // namespace korvanel
