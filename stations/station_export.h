#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "stations/favorites_editor.h"

namespace korvanel {

enum class ExportFormat { M3u, Pls, Xspf };

// "m3u", "pls" or "xspf", in any case.
std::optional<ExportFormat> exportFormatNamed(std::string_view name);

// A list other players open: UTF-8, one entry per station with its title
// and first source; a local path becomes a file: URI in XSPF.
std::string exportText(const std::vector<FavoriteStation>& stations, ExportFormat format);

}  // namespace korvanel
