#pragma once

#include <string>
#include <vector>

#include "frontend/window_view.h"
#include "stations/favorites_transfer.h"

namespace korvanel {

class SettingsStore;

// One line of what an import or export did, for the log and the user.
struct TransferLine {
    LogKind kind = LogKind::Normal;
    std::string text;
};

// How an import of file went, in the user's language: the outcome first,
// then what was left out and why.
std::vector<TransferLine> importLines(const FavoritesImportReport& report, const std::string& file,
                                      const SettingsStore& language);

// How an export to file went, in one line.
TransferLine exportLine(const FavoritesExportReport& report, const std::string& file, const SettingsStore& language);

}  // namespace korvanel
