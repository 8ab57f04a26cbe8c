#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "stations/favorites_editor.h"

namespace korvanel {

enum class ImportProblem {
    None,
    Unreadable,   // missing, or failed while being read
    Malformed,    // XML that is not well-formed, at problemLine
    UnknownForm,  // none of the forms below
    NoStations,   // read, but naming no station (set by the importer's callers)
    NoSuchGroup,  // readStationList was asked for a group the file lacks
};

// The stations a list file holds, read without trusting it: an M3U (with
// #EXTINF titles), a PLS (with TitleN), an XSPF, an ASX or a station-list
// file of ours (groups flattened). The file is read in blocks, so memory
// stays bounded whatever its size.
struct StationImport {
    std::vector<FavoriteStation> stations;
    // Entries whose address is neither a network address the player opens
    // nor a local file.
    std::size_t skipped = 0;
    // Stations past kMaxImportStations.
    std::size_t leftOut = 0;
    // What failed, if anything, with the line for Malformed; error says it
    // as an English phrase that follows the file's name.
    ImportProblem problem = ImportProblem::None;
    std::size_t problemLine = 0;
    std::string error;
};

inline constexpr std::size_t kMaxImportStations = 100000;

StationImport importStations(const std::string& path);

// The stations of a station-list file of ours, in menu order, or those of
// its first group titled group (with its groups). Empty with error set when
// the file cannot be read or has no such group.
StationImport readStationList(const std::string& path, const std::string& group = {});

// What an entry of a list in folder becomes: a network address with its
// scheme in lower case, or an absolute local path (file: URIs and relative
// entries made so); nothing for anything else.
std::optional<std::string> importedAddress(std::string_view entry, const std::string& folder);

}  // namespace korvanel
