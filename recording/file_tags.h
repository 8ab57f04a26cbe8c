#pragma once

#include <string>

namespace korvanel {

// The tags a recorded file carries in its own header, where its format
// has one.
struct FileTags {
    std::string title;
    std::string artist;        // where the station writes "artist - title"
    std::string organization;  // the station
};

// The tags for a file of the stream text (split at its first " - ") and
// the station's name.
FileTags fileTagsFor(const std::string& streamTitle, const std::string& station);

}  // namespace korvanel
