#include "frontend/station_transfer_text.h"

#include "settings/language_texts.h"
#include "settings/settings_store.h"
#include "stations/station_import.h"

namespace korvanel {

namespace {

const char* problemKey(ImportProblem problem) {
    switch (problem) {
        case ImportProblem::Unreadable:
        case ImportProblem::NoSuchGroup: return "Log/Message/ImportUnreadable";
        case ImportProblem::Malformed: return "Log/Message/ImportMalformed";
        case ImportProblem::UnknownForm: return "Log/Message/ImportUnknownForm";
        case ImportProblem::NoStations: return "Log/Message/ImportNoStations";
        case ImportProblem::None: break;
    }
    return nullptr;
}

const char* resultKey(FavoriteAddResult result) {
    switch (result) {
        case FavoriteAddResult::Added: return "Log/Message/StationsImported";
        case FavoriteAddResult::AlreadyThere: return "Log/Message/ImportNothingNew";
        case FavoriteAddResult::TooLarge: return "Log/Message/ImportTooLarge";
        case FavoriteAddResult::NoSuchGroup:
        case FavoriteAddResult::NotAList:
        case FavoriteAddResult::WriteFailed: break;
    }
    return "Log/Message/ImportNotWritten";
}

std::int64_t count(std::size_t n) { return static_cast<std::int64_t>(n); }

}  // namespace

std::vector<TransferLine> importLines(const FavoritesImportReport& report, const std::string& file,
                                      const SettingsStore& language) {
    const auto text = [&language](const char* key) { return language.getString(key); };
    std::vector<TransferLine> lines;
    if (const char* problem = problemKey(report.problem)) {
        const std::string reason = formatText(text(problem), {count(report.problemLine)});
        lines.push_back({LogKind::Error, formatText(text("Log/Message/ImportFailed"), {file, reason})});
        return lines;
    }
    const char* key = resultKey(report.result);
    const bool failed = report.result != FavoriteAddResult::Added && report.result != FavoriteAddResult::AlreadyThere;
    if (report.result == FavoriteAddResult::Added) {
        lines.push_back({LogKind::Normal, formatText(text(key), {count(report.added), file, report.group})});
    } else {
        lines.push_back({failed ? LogKind::Error : LogKind::Normal, formatText(text(key), {file})});
    }
    if (failed) {
        return lines;
    }
    if (report.alreadyThere > 0 && report.result == FavoriteAddResult::Added) {
        lines.push_back({LogKind::Normal, formatText(text("Log/Message/ImportKnown"), {count(report.alreadyThere)})});
    }
    if (report.skipped > 0) {
        lines.push_back({LogKind::Error, formatText(text("Log/Message/ImportSkipped"), {count(report.skipped)})});
    }
    if (report.leftOut > 0) {
        lines.push_back({LogKind::Error, formatText(text("Log/Message/ImportLeftOut"),
                                                    {count(report.leftOut), count(kMaxImportStations)})});
    }
    return lines;
}

TransferLine exportLine(const FavoritesExportReport& report, const std::string& file, const SettingsStore& language) {
    switch (report.problem) {
        case ExportProblem::None:
            return {LogKind::Normal,
                    formatText(language.getString("Log/Message/StationsExported"), {count(report.written), file})};
        case ExportProblem::FavoritesUnreadable:
        case ExportProblem::NoSuchGroup:
            return {LogKind::Error, formatText(language.getString("Log/Message/ExportUnreadable"), {file})};
        case ExportProblem::NotWritten:
            return {LogKind::Error, formatText(language.getString("Log/Message/ExportNotWritten"), {file})};
    }
    return {};
}

}  // namespace korvanel
