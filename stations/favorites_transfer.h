#pragma once

#include <cstddef>
#include <string>

#include "stations/favorites_editor.h"
#include "stations/station_export.h"
#include "stations/station_import.h"

namespace korvanel {

// What importing a list into the favourites did.
struct FavoritesImportReport {
    FavoriteAddResult result = FavoriteAddResult::NotAList;
    std::string group;  // where the stations went
    std::size_t added = 0;
    std::size_t alreadyThere = 0;
    std::size_t skipped = 0;  // entries that name no station
    std::size_t leftOut = 0;  // past the most one import takes
    // Set when the list could not be read: what failed with it, and the
    // same as an English phrase that follows the file's name.
    ImportProblem problem = ImportProblem::None;
    std::size_t problemLine = 0;
    std::string listError;
};

// Adds the stations of the list at file to the favourites file, as group
// (or, when empty, a group named after the file).
FavoritesImportReport importIntoFavorites(const std::string& favorites, const std::string& file,
                                          std::string group = {});

enum class ExportProblem { None, FavoritesUnreadable, NoSuchGroup, NotWritten };

struct FavoritesExportReport {
    std::size_t written = 0;
    ExportProblem problem = ExportProblem::None;
    // Set on failure: what failed, as an English phrase.
    std::string error;
};

// Writes the favourites (or those of their first group titled group) to
// file, replacing it whole or not at all.
FavoritesExportReport exportFavorites(const std::string& favorites, const std::string& file, ExportFormat format,
                                      const std::string& group = {});

}  // namespace korvanel
