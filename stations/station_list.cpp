#include "stations/station_list.h"

#include <cstring>

#include "base/file_util.h"
#include "settings/xml_parser.h"

namespace korvanel {
namespace {

// Root, 15 levels of Groups, the Station and its source elements.
constexpr int kParserDepth = StationList::kMaxGroupDepth + 3;

const std::string* titleOf(const XmlElement& element) { return element.findAttribute("title"); }

bool isTitledStation(const XmlElement& element) {
    return element.name() == "Station" && titleOf(element) != nullptr;
}

bool isGroup(const XmlElement& element) { return element.name() == "Group"; }

// Calls visit(station, number) for every titled station in menu order, until
// it returns false. Groups deeper than the limit are left out entirely, so
// numbers stay the same for the menu and for lookup.
template <class Visit>
bool forEachStation(const XmlElement& parent, int depth, int& count, const Visit& visit) {
    for (const auto& child : parent.children()) {
        if (isGroup(*child)) {
            if (depth < StationList::kMaxGroupDepth &&
                !forEachStation(*child, depth + 1, count, visit)) {
                return false;
            }
        } else if (isTitledStation(*child)) {
            if (!visit(*child, ++count)) {
                return false;
            }
        }
    }
    return true;
}

struct MenuBuilder {
    int baseId;
    int maxItems;
    int count = 0;
    int skipped = 0;

    void fill(const XmlElement& parent, StationMenu& menu, int depth) {
        for (const auto& child : parent.children()) {
            if (isGroup(*child)) {
                if (depth >= StationList::kMaxGroupDepth) {
                    continue;
                }
                // A Group without a title lends its items to the menu around it.
                const std::string* title = titleOf(*child);
                fill(*child, title ? menu.appendPopup(*title) : menu, depth + 1);
            } else if (isTitledStation(*child)) {
                ++count;
                if (count <= maxItems) {
                    menu.appendItem(baseId + count, *titleOf(*child));
                } else {
                    ++skipped;
                }
            } else if (child->name() == "Separator") {
                menu.appendSeparator();
            }
        }
    }
};

}  // namespace

StationList::StationList() = default;
StationList::~StationList() = default;

void StationList::load() {
    document_.reset();
    toldAboutOverflow_ = false;
    const std::optional<std::string> content = readWholeFile(path_, kMaxFileBytes);
    if (!content) {
        return;
    }
    // The text ends at its first zero byte.
    const std::string_view text(content->data(), strnlen(content->data(), content->size()));
    XmlParser parser;
    parser.setMaxDepth(kParserDepth);
    if (!parser.parseText(text)) {
        return;
    }
    std::unique_ptr<XmlDocument> document = parser.takeDocument();
    if (document && document->root()) {
        document_ = std::move(document);
    }
}

int StationList::buildMenu(StationMenu& menu, int baseId) {
    if (!document_) {
        return 0;
    }
    // Favourites stop where the presets' ids begin; presets at the largest id.
    const int limit = baseId < kPresetsBaseId ? kPresetsBaseId : kMaxMenuId;
    MenuBuilder builder{baseId, limit - baseId};
    builder.fill(*document_->root(), menu, 0);
    if (builder.skipped > 0 && logger_ && !toldAboutOverflow_) {
        toldAboutOverflow_ = true;
        logger_("Only the first " + std::to_string(builder.maxItems) + " of " +
                std::to_string(builder.count) + " stations in " + path_ +
                " fit into the menu; the others are left out.");
    }
    return builder.count - builder.skipped;
}

int StationList::stationCount() const {
    int count = 0;
    if (document_) {
        forEachStation(*document_->root(), 0, count, [](const XmlElement&, int) { return true; });
    }
    return count;
}

std::vector<std::string> StationList::lookup(int n) {
    std::vector<std::string> sources;
    if (!document_ || n < 1) {
        return sources;
    }
    int count = 0;
    forEachStation(*document_->root(), 0, count, [&](const XmlElement& station, int number) {
        if (number != n) {
            return true;
        }
        title_ = *titleOf(station);
        const std::string* url = station.findAttribute("url");
        url_ = url ? *url : std::string();
        for (const auto& source : station.children()) {
            sources.push_back(source->contents().value_or(std::string()));
        }
        return false;
    });
    return sources;
}

}  // namespace korvanel
