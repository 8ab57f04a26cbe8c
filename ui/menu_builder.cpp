#include "ui/menu_builder.h"

#include <QMenu>
#include <QMenuBar>

#include "frontend/menu_tree.h"

namespace korvanel {

namespace {

QString caption(const MenuEntry& entry) {
    return QString::fromUtf8(entry.caption.data(), static_cast<qsizetype>(entry.caption.size()));
}

// QMenu and QMenuBar share addAction/addSeparator/addMenu but no base.
template <class Target>
void fillEntries(Target& target, const MenuEntry& popup, const MenuCommand& command) {
    for (const MenuEntry& entry : popup.children) {
        switch (entry.kind) {
            case MenuEntry::Kind::Separator:
                target.addSeparator();
                break;
            case MenuEntry::Kind::Popup:
                // The menu is owned by the target (the bar or the parent menu).
                fillEntries(*target.addMenu(caption(entry)), entry, command);
                break;
            case MenuEntry::Kind::Item: {
                QAction* action = target.addAction(caption(entry));
                action->setEnabled(entry.enabled);
                if (entry.checked) {
                    action->setCheckable(true);
                    action->setChecked(true);
                }
                if (entry.id != 0) {
                    const int id = entry.id;
                    QObject::connect(action, &QAction::triggered, action, [command, id] { command(id); });
                }
                break;
            }
        }
    }
}

}  // namespace

void fillMenuBar(QMenuBar& bar, const MenuEntry& tree, const MenuCommand& command) {
    bar.clear();
    fillEntries(bar, tree, command);
}

void fillMenu(QMenu& menu, const MenuEntry& popup, const MenuCommand& command) {
    menu.clear();
    fillEntries(menu, popup, command);
}

}  // namespace korvanel
