#pragma once

#include <memory>
#include <string>
#include <vector>

#include "stations/station_menu.h"

namespace korvanel {

// A station menu as lines of text: "  12  Title" with the station's number,
// groups as "[Title]" with their contents indented below.
class TextMenu final : public StationMenu {
public:
    explicit TextMenu(int baseId, std::vector<std::string>& lines, int depth = 0)
        : baseId_(baseId), lines_(lines), depth_(depth) {}

    void appendItem(int id, const std::string& caption) override;
    void appendSeparator() override;
    StationMenu& appendPopup(const std::string& caption) override;

private:
    std::string indent() const { return std::string(static_cast<std::size_t>(depth_) * 2, ' '); }

    int baseId_;
    std::vector<std::string>& lines_;
    int depth_;
    std::vector<std::unique_ptr<TextMenu>> popups_;
};

}  // namespace korvanel
