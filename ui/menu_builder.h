#pragma once

#include <functional>

class QMenu;
class QMenuBar;

namespace korvanel {

struct MenuEntry;

using MenuCommand = std::function<void(int id)>;

// Real menus from the toolkit-free menu tree: each item becomes an action
// whose trigger hands its id to `command`. What was in the menu goes first.
void fillMenuBar(QMenuBar& bar, const MenuEntry& tree, const MenuCommand& command);
void fillMenu(QMenu& menu, const MenuEntry& popup, const MenuCommand& command);

}  // namespace korvanel
