#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace korvanel {

// A station to keep, as the favourites file lists one.
struct FavoriteStation {
    std::string title;
    std::string url;                   // the station's web page, may be empty
    std::vector<std::string> sources;  // stream or playlist addresses, in order
};

enum class FavoriteAddResult {
    Added,
    AlreadyThere,  // a station with one of these sources is in the file
    NoSuchGroup,
    NotAList,      // missing, unreadable, too large, not well-formed, or UTF-16
    WriteFailed,
    TooLarge,      // the list would grow past what the program reads
};

// Adds a station to the end of the favourites file, or to the end of the
// first group of that title. The file is the user's: every byte of it
// (comments, spacing, line ends, encoding) stays as it was and the new
// station is written in the file's own encoding and line ends, indented
// like the sample file; the file is replaced only once all of it is
// written. Texts are UTF-8 and are escaped for XML here.
FavoriteAddResult addFavorite(const std::string& path, const FavoriteStation& station,
                              const std::string& group = {});

// What adding many stations did: Added when some went in (added of them),
// AlreadyThere when every one was in the file.
struct FavoritesImport {
    FavoriteAddResult result = FavoriteAddResult::NotAList;
    std::size_t added = 0;
    std::size_t alreadyThere = 0;  // a source in the file or earlier in the list
};

// Adds stations, in order, to the end of the favourites file in one write,
// leaving out each whose source the file (or an earlier one of them)
// already has. A group that is not there yet is made at the end of the
// file; nothing is written when no station is new.
FavoritesImport addFavorites(const std::string& path, const std::vector<FavoriteStation>& stations,
                             const std::string& group = {});

}  // namespace korvanel
