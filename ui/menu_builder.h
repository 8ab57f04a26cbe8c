#pragma once

#include <functional>

class QMenu;
class QMenuBar;

namespace korvanel {

struct MenuEntry;

using MenuCommand = std::function<void(int id)>;

// Real menus from the toolkit-free menu tree: each item becomes an action
// whose trigger hands its id to `command`. What was in the menu goes first.
// A large popup is filled when it is first shown, from the tree the menus
// keep for that.
void fillMenuBar(QMenuBar& bar, MenuEntry tree, const MenuCommand& command);
void fillMenu(QMenu& menu, MenuEntry popup, const MenuCommand& command);

}  // namespace korvanel
