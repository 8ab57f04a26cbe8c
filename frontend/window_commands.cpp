#include "frontend/window_commands.h"

#include <algorithm>

#include "app/application.h"
#include "base/window_event.h"
#include "base/program_path.h"
#include "frontend/display_model.h"
#include "frontend/menu_tree.h"
#include "frontend/play_history.h"
#include "frontend/window_events.h"
#include "stations/favorites_editor.h"
#include "stations/favorites_transfer.h"

namespace korvanel {

WindowCommands::WindowCommands(Application& application, WindowEvents& events)
    : application_(application), events_(events) {}

WindowCommands::PlayResult WindowCommands::play() {
    if (application_.playlistResolver().isEmpty()) {
        return PlayResult::NoSources;
    }
    application_.player().play();
    return PlayResult::Started;
}

void WindowCommands::stop() { application_.player().stop(); }

void WindowCommands::previous() { application_.player().previous(); }

void WindowCommands::next() { application_.player().next(); }

void WindowCommands::toggleMute() {
    Player& player = application_.player();
    player.isMuted() ? player.unmute() : player.mute();
}

void WindowCommands::setVolumeSteps(int steps) {
    steps = std::clamp(steps, 0, 20);
    application_.player().setVolume(steps * 0.05);
    application_.settings().setInt("Session/Volume", steps * 5);
}

void WindowCommands::toggleRecording() {
    Recorder& recorder = application_.recorder();
    recorder.setRecording(!recorder.isRecording());
}

void WindowCommands::playSource(const std::string& source) {
    application_.streamInfo()->reset();
    events_.setPlaylistAddress("");
    application_.playlistResolver().setSource(source);
    application_.player().play();
}

void WindowCommands::selectStation(const HistoryEntry& entry) {
    StreamInfo& info = *application_.streamInfo();
    info.reset();
    info.setStationName(entry.stationName);
    info.setStationUrl(entry.stationUrl);
    events_.setPlaylistAddress("");
    application_.playlistResolver().setSource(entry.source);
}

void WindowCommands::playStation(const HistoryEntry& entry) {
    selectStation(entry);
    application_.player().play();
}

WindowCommands::Outcome WindowCommands::run(int id) {
    if (id >= command::kHistoryBase) {
        return chooseStation(id);
    }
    SoundEffects* effects = application_.soundEffects();
    switch (id) {
        case command::kPlay:
            return play() == PlayResult::NoSources ? Outcome::NoSources : Outcome::Handled;
        case command::kStop: stop(); return Outcome::Handled;
        case command::kPrevious: previous(); return Outcome::Handled;
        case command::kNext: next(); return Outcome::Handled;
        case command::kMute: toggleMute(); return Outcome::Handled;
        case command::kRecord: toggleRecording(); return Outcome::Handled;
        case command::kReloadFavorites: events_.reloadStations(StationListKind::Favorites); return Outcome::Handled;
        case command::kAddToFavorites: addCurrentToFavorites(); return Outcome::Handled;
        case command::kReloadPresets: events_.reloadStations(StationListKind::Presets); return Outcome::Handled;
        case command::kReloadConfig:
            // Every listener hears the reloaded file.
            application_.settings().load(resolveProgramPath(Application::kSettingsFileName));
            return Outcome::Handled;
        case command::kAlwaysOnTop: {
            SettingsStore& settings = application_.settings();
            settings.setBool("General/AlwaysOnTop", !settings.getBool("General/AlwaysOnTop"));
            return Outcome::Handled;
        }
        case command::kLevelStations: {
            Leveller& leveller = application_.leveller();
            leveller.setEnabled(!leveller.enabled());
            application_.settings().setBool(Leveller::kLevellingKey, leveller.enabled());
            return Outcome::Handled;
        }
        case command::kCompressor:
        case command::kReverseStereo:
        case command::kSeparation100:
        case command::kSeparation75:
        case command::kSeparation50:
        case command::kSeparation25:
        case command::kSeparation0:
            if (effects == nullptr) {
                return Outcome::Ignored;
            }
            if (id == command::kCompressor) {
                effects->setCompressor(!effects->compressorOn());
            } else if (id == command::kReverseStereo) {
                effects->setSwapChannels(!effects->swapChannels());
            } else {
                effects->setSeparation(id == command::kSeparation100  ? 1.0
                                       : id == command::kSeparation75 ? 0.75
                                       : id == command::kSeparation50 ? 0.5
                                       : id == command::kSeparation25 ? 0.25
                                                                      : 0.0);
            }
            return Outcome::Handled;
        case command::kOpenUrl:
        case command::kFindStation:
        case command::kUpdatePresets:
        case command::kEditConfig:
        case command::kEditFavorites:
        case command::kImportStations:
        case command::kExportFavorites:
        case command::kExit:
        case command::kPreferences:
        case command::kOpenRecordingFolder:
        case command::kLogWindow:
        case command::kAbout:
        case command::kRestoreTrayIcon:
        case command::kRecoverWindow:
        case command::kHideOrShowWindow:
        case command::kPlayFromClipboard:
        case command::kCopySource:
        case command::kCopyStationUrl:
        case command::kCopyStationName:
        case command::kCopyTrack:
        case command::kCopyMessenger:
            return Outcome::ForWindow;
        default:
            return Outcome::Ignored;
    }
}

std::optional<std::string> WindowCommands::clipboardText(int id, std::int64_t connectStartMs,
                                                         std::int64_t nowMs) const {
    const DisplayModel display(application_);
    switch (id) {
        case command::kCopySource: return application_.playlistResolver().currentAddress();
        case command::kCopyStationUrl: return display.stationUrlText();
        case command::kCopyStationName: return display.stationNameText();
        case command::kCopyTrack: return display.trackText();
        case command::kCopyMessenger: return display.messengerText(connectStartMs, nowMs);
        default: return std::nullopt;
    }
}

WindowCommands::Outcome WindowCommands::chooseStation(int id) {
    StreamInfo& info = *application_.streamInfo();
    info.reset();
    if (id <= command::kHistoryLast) {
        const std::optional<HistoryEntry> entry =
            events_.takeHistoryEntryToFront(static_cast<std::size_t>(id - command::kHistoryBase));
        if (!entry) {
            return Outcome::Ignored;
        }
        playStation(*entry);
        return Outcome::Handled;
    }
    const bool favorite = id <= command::kPresetsBase;
    const int number = id - (favorite ? command::kFavoritesBase : command::kPresetsBase);
    std::optional<StationChoice> station =
        events_.lookUpStation(favorite ? StationListKind::Favorites : StationListKind::Presets, number);
    if (!station) {
        return Outcome::Ignored;
    }
    info.setStationName(station->title);
    info.setStationUrl(station->url);
    events_.setPlaylistAddress("");
    application_.playlistResolver().setSources(station->sources);
    application_.player().play();
    return Outcome::Handled;
}

std::vector<TransferLine> WindowCommands::importStations(const std::string& file) {
    const FavoritesImportReport report = importIntoFavorites(resolveProgramPath("favorites.xml"), file);
    if (report.result == FavoriteAddResult::Added) {
        events_.reloadStations(StationListKind::Favorites);
    }
    return importLines(report, file, application_.language());
}

TransferLine WindowCommands::exportFavorites(const std::string& file, ExportFormat format) {
    const FavoritesExportReport report = korvanel::exportFavorites(resolveProgramPath("favorites.xml"), file, format);
    return exportLine(report, file, application_.language());
}

void WindowCommands::addCurrentToFavorites() {
    const StreamInfo::Snapshot info = application_.streamInfo()->snapshot();
    // The playlist a stream came from outlives the stream's own address.
    const std::string playlist = events_.playlistAddress();
    const std::string source = playlist.empty() ? info.source : playlist;
    if (source.empty()) {
        return;
    }
    const std::string title = info.stationName.empty() ? source : info.stationName;
    EventKind outcome = EventKind::FavoriteFailed;
    switch (addFavorite(resolveProgramPath("favorites.xml"), {title, info.stationUrl, {source}})) {
        case FavoriteAddResult::Added:
            outcome = EventKind::FavoriteAdded;
            events_.reloadStations(StationListKind::Favorites);
            break;
        case FavoriteAddResult::AlreadyThere: outcome = EventKind::FavoriteExists; break;
        default: break;
    }
    application_.events().post(makeEvent(outcome, title));
}

}  // namespace korvanel
