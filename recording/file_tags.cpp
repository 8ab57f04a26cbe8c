#include "recording/file_tags.h"

namespace korvanel {

FileTags fileTagsFor(const std::string& streamTitle, const std::string& station) {
    FileTags tags;
    tags.organization = station;
    const std::size_t dash = streamTitle.find(" - ");
    if (dash != std::string::npos && dash > 0 && dash + 3 < streamTitle.size()) {
        tags.artist = streamTitle.substr(0, dash);
        tags.title = streamTitle.substr(dash + 3);
    } else {
        tags.title = streamTitle;
    }
    return tags;
}

}  // namespace korvanel
