#pragma once

#include <string>

namespace korvanel {

// The little a station list needs of a menu, so that the desktop window can
// build real menus from it and the console or tests can record them.
class StationMenu {
public:
    virtual ~StationMenu() = default;

    virtual void appendItem(int id, const std::string& caption) = 0;
    virtual void appendSeparator() = 0;
    // Appends a submenu with that caption and returns it for filling.
    virtual StationMenu& appendPopup(const std::string& caption) = 0;
};

}  // namespace korvanel
