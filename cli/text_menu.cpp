#include "cli/text_menu.h"

#include <cstdio>

namespace korvanel {

void TextMenu::appendItem(int id, const std::string& caption) {
    char number[16];
    std::snprintf(number, sizeof number, "%4d  ", id - baseId_);
    lines_.push_back(indent() + number + caption);
}

void TextMenu::appendSeparator() { lines_.push_back(indent() + "------"); }

StationMenu& TextMenu::appendPopup(const std::string& caption) {
    lines_.push_back(indent() + "[" + caption + "]");
    popups_.push_back(std::make_unique<TextMenu>(baseId_, lines_, depth_ + 1));
    return *popups_.back();
}

}  // namespace korvanel
