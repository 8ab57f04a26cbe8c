#include "stations/favorites_transfer.h"

#include <filesystem>

#include "base/file_util.h"

namespace korvanel {

FavoritesImportReport importIntoFavorites(const std::string& favorites, const std::string& file, std::string group) {
    FavoritesImportReport report;
    const StationImport imported = importStations(file);
    report.skipped = imported.skipped;
    report.leftOut = imported.leftOut;
    if (!imported.error.empty()) {
        report.problem = imported.problem;
        report.problemLine = imported.problemLine;
        report.listError = imported.error;
        return report;
    }
    if (imported.stations.empty()) {
        report.problem = ImportProblem::NoStations;
        report.listError = "holds no station address";
        return report;
    }
    if (group.empty()) {
        group = std::filesystem::path(file).stem().string();
    }
    if (group.empty()) {
        group = "Imported";
    }
    report.group = group;
    const FavoritesImport added = addFavorites(favorites, imported.stations, group);
    report.result = added.result;
    report.added = added.added;
    report.alreadyThere = added.alreadyThere;
    return report;
}

FavoritesExportReport exportFavorites(const std::string& favorites, const std::string& file, ExportFormat format,
                                      const std::string& group) {
    FavoritesExportReport report;
    const StationImport stations = readStationList(favorites, group);
    if (!stations.error.empty()) {
        report.problem = stations.problem == ImportProblem::NoSuchGroup ? ExportProblem::NoSuchGroup
                                                                        : ExportProblem::FavoritesUnreadable;
        report.error = favorites + " " + stations.error;
        return report;
    }
    if (!writeFileAtomically(file, exportText(stations.stations, format))) {
        report.problem = ExportProblem::NotWritten;
        report.error = "could not write " + file;
        return report;
    }
    report.written = stations.stations.size();
    return report;
}

}  // namespace korvanel
