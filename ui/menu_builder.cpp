#include "ui/menu_builder.h"

#include <QMenu>
#include <QMenuBar>

#include <memory>
#include <type_traits>

#include "frontend/menu_tree.h"

namespace korvanel {

namespace {

// A popup with more entries than this is filled when it is first shown, so
// a list of thousands of stations costs nothing until someone opens it.
constexpr std::size_t kEagerEntries = 64;

QString caption(const MenuEntry& entry) {
    return QString::fromUtf8(entry.caption.data(), static_cast<qsizetype>(entry.caption.size()));
}

// QMenu and QMenuBar share addAction/addSeparator/addMenu but no base. The
// tree is shared by the menus that fill themselves from it later.
template <class Target>
void fillEntries(Target& target, const MenuEntry& popup, const std::shared_ptr<const MenuEntry>& tree,
                 const MenuCommand& command) {
    for (const MenuEntry& entry : popup.children) {
        switch (entry.kind) {
            case MenuEntry::Kind::Separator:
                target.addSeparator();
                break;
            case MenuEntry::Kind::Popup: {
                // The menu is owned by the target (the bar or the parent menu).
                QMenu* menu = target.addMenu(caption(entry));
                if (entry.children.size() <= kEagerEntries) {
                    fillEntries(*menu, entry, tree, command);
                } else {
                    const MenuEntry* later = &entry;
                    QObject::connect(menu, &QMenu::aboutToShow, menu, [menu, later, tree, command] {
                        if (menu->isEmpty()) {
                            fillEntries(*menu, *later, tree, command);
                        }
                    });
                }
                break;
            }
            case MenuEntry::Kind::Item: {
                QAction* action = target.addAction(caption(entry));
                action->setEnabled(entry.enabled);
                if (entry.checked) {
                    action->setCheckable(true);
                    action->setChecked(true);
                }
                if constexpr (std::is_same_v<Target, QMenu>) {
                    if (entry.isDefault) {
                        target.setDefaultAction(action);
                    }
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

// clear() drops the actions but not the popups made by addMenu(), which
// stay the target's children: each rebuild would keep the old ones alive.
// They go once control is back in the event loop, since a rebuild may be
// asked for from inside one of them.
template <class Target>
void clearEntries(Target& target) {
    const QList<QMenu*> popups = target.template findChildren<QMenu*>(Qt::FindDirectChildrenOnly);
    target.clear();
    for (QMenu* popup : popups) {
        popup->deleteLater();
    }
}

}  // namespace

void fillMenuBar(QMenuBar& bar, MenuEntry tree, const MenuCommand& command) {
    clearEntries(bar);
    const auto shared = std::make_shared<const MenuEntry>(std::move(tree));
    fillEntries(bar, *shared, shared, command);
}

void fillMenu(QMenu& menu, MenuEntry popup, const MenuCommand& command) {
    clearEntries(menu);
    const auto shared = std::make_shared<const MenuEntry>(std::move(popup));
    fillEntries(menu, *shared, shared, command);
}

}  // namespace korvanel
