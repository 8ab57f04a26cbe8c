#include "frontend/window_events.h"

#include <chrono>

#include "app/application.h"
#include "base/window_event.h"
#include "base/product.h"
#include "base/program_path.h"
#include "audio/stream_info.h"
#include "settings/language_texts.h"
#include "stream/http_client.h"
#include "stream/tls_failure.h"

namespace korvanel {

WindowEvents::WindowEvents(Application& application, WindowView& view)
    : application_(application),
      view_(view),
      presetUpdater_(application.settings(), application.httpClient(),
                     resolveProgramPath("presets.xml")) {
    favorites_.setPath(resolveProgramPath("favorites.xml"));
    presets_.setPath(resolveProgramPath("presets.xml"));
    favorites_.setLogger([this](const std::string& line) { log(LogKind::Error, line); });
    presets_.setLogger([this](const std::string& line) { log(LogKind::Error, line); });
}

WindowEvents::~WindowEvents() = default;

PlayHistory WindowEvents::history() const {
    std::lock_guard<std::mutex> guard(historyLock_);
    return history_;
}

void WindowEvents::saveHistory(SettingsStore& settings) const {
    std::lock_guard<std::mutex> guard(historyLock_);
    history_.save(settings);
}

bool WindowEvents::loadHistory(const SettingsStore& settings) {
    std::lock_guard<std::mutex> guard(historyLock_);
    return history_.load(settings);
}

int WindowEvents::buildStationMenu(StationListKind kind, StationMenu& menu, int baseId) {
    std::lock_guard<std::mutex> guard(stationsLock_);
    StationList& list = kind == StationListKind::Favorites ? favorites_ : presets_;
    return list.loaded() ? list.buildMenu(menu, baseId) : -1;
}

std::optional<StationChoice> WindowEvents::lookUpStation(StationListKind kind, int number) {
    std::lock_guard<std::mutex> guard(stationsLock_);
    StationList& list = kind == StationListKind::Favorites ? favorites_ : presets_;
    std::vector<std::string> sources = list.lookup(number);
    if (sources.empty()) {
        return std::nullopt;
    }
    return StationChoice{std::move(sources), list.title(), list.url()};
}

void WindowEvents::reloadStations(StationListKind kind) {
    std::lock_guard<std::mutex> guard(stationsLock_);
    (kind == StationListKind::Favorites ? favorites_ : presets_).load();
}

std::string WindowEvents::playlistAddress() const {
    std::lock_guard<std::mutex> guard(historyLock_);
    return playlistAddress_;
}

void WindowEvents::setPlaylistAddress(std::string address) {
    std::lock_guard<std::mutex> guard(historyLock_);
    playlistAddress_ = std::move(address);
}

std::optional<HistoryEntry> WindowEvents::takeHistoryEntryToFront(std::size_t index) {
    std::lock_guard<std::mutex> guard(historyLock_);
    if (index >= history_.entries().size()) {
        return std::nullopt;
    }
    HistoryEntry entry = history_.entries()[index];
    history_.moveToFront(index);
    return entry;
}

std::string WindowEvents::programTitle() {
    return std::string(product::kName) + " " + product::kVersion;
}

void WindowEvents::handle(const WindowEvent& event) {
    const SettingsStore& language = application_.language();
    const auto idleStatus = [&] { view_.setStatusText(status_part::kState, " " + language.getString("Main/Status/Idling")); };

    switch (event.kind) {
        case EventKind::Started:
            onStarted();
            break;
        case EventKind::Connecting:
            if (!event.text.empty()) {
                logFormatted(LogKind::Normal, "Log/Message/Connecting", event.text);
                view_.setStatusText(status_part::kAddress, event.text);
            }
            view_.refresh(DisplayPart::All);
            break;
        case EventKind::Error:
            log(LogKind::Error, event.text);
            view_.setStatusText(status_part::kAddress, "");
            break;
        case EventKind::Message:
            view_.refresh(DisplayPart::All);
            log(LogKind::Error, event.text);
            if (popupsEnabled()) {
                view_.showMessage(MessageIcon::Warning, language.getString("Main/Message/ConnectionFailure"),
                                  event.text);
            }
            break;
        case EventKind::Connected:
            onConnected(event.text);
            break;
        case EventKind::SoundOutput:
            log(LogKind::Normal, event.text);
            break;
        case EventKind::Levelled:
            logFormatted(LogKind::Normal, "Log/Message/Levelled", event.text);
            break;
        case EventKind::RecordingNotCreated:
            logFormatted(LogKind::Error, "Log/Message/RecordingNotCreated", event.text);
            view_.setStatusText(1, "");
            break;
        case EventKind::RecordingNotWritten:
            logFormatted(LogKind::Error, "Log/Message/RecordingNotWritten", event.text);
            view_.setStatusText(1, "");
            break;
        case EventKind::LoudnessMemoryIgnored:
            logFormatted(LogKind::Error, "Log/Message/LoudnessMemoryIgnored", event.text);
            break;
        case EventKind::InfoChanged:
            onInfoChanged();
            break;
        case EventKind::Stalled:
        case EventKind::Resumed:
            view_.refresh(DisplayPart::StatusBar);
            break;
        case EventKind::StreamLost:
            logText(LogKind::Error, "Log/Message/ConnectionLost");
            break;
        case EventKind::StreamEnded:
            logText(LogKind::Normal, "Log/Message/EOS");
            break;
        case EventKind::Stopped:
            lastTrack_.clear();
            logText(LogKind::Error, "Log/Message/Stopped");
            view_.setStatusText(status_part::kAddress, "");
            view_.refresh(DisplayPart::All);
            break;
        case EventKind::Reconnecting:
            log(LogKind::Normal, event.text);
            break;
        case EventKind::FavoriteAdded:
            logFormatted(LogKind::Normal, "Log/Message/FavoriteAdded", event.text);
            break;
        case EventKind::FavoriteExists:
            logFormatted(LogKind::Normal, "Log/Message/FavoriteExists", event.text);
            break;
        case EventKind::FavoriteFailed:
            logFormatted(LogKind::Error, "Log/Message/FavoriteFailed", event.text);
            break;
        case EventKind::DirectorySkipped:
            log(LogKind::Error, formatText(language.getString("Log/Message/DirectorySkipped"), {event.detail}));
            break;
        case EventKind::SecureFailed: {
            // The address, and why in the user's language.
            const char* reason = tlsFailureTextKey(static_cast<TlsFailure>(event.detail));
            logFormatted(LogKind::Error, "Log/Message/SecureFailed",
                         reason != nullptr ? event.text + " (" + language.getString(reason) + ")" : event.text);
            break;
        }
        case EventKind::Resolving:
            setPlaylistAddress(event.text);
            logFormatted(LogKind::Normal, "Log/Message/DlPlaylist", event.text);
            view_.setStatusText(status_part::kState, " " + language.getString("Main/Status/Downloading"));
            view_.setStatusText(status_part::kAddress, event.text);
            break;
        case EventKind::Resolved:
            // The playlist address stays, so the history records the playlist.
            idleStatus();
            break;
        case EventKind::ResolveFailed:
            setPlaylistAddress("");
            idleStatus();
            break;
        case EventKind::UpdatePresets:
            presetUpdater_.check();
            break;
        case EventKind::PresetsVersion:
            onPresetResult(presetUpdater_.onVersion(event.text));
            break;
        case EventKind::PresetsCheckFailed:
            onPresetResult(presetUpdater_.onCheckFailed());
            break;
        case EventKind::PresetsUpdated:
            onPresetResult(presetUpdater_.onDownloaded());
            break;
        case EventKind::PresetsUpdateFailed:
            onPresetResult(presetUpdater_.onDownloadFailed());
            break;
        default:
            break;
    }
}

void WindowEvents::onConnected(const std::string& address) {
    connectStartMs_ = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count();
    const StreamInfo::Snapshot info = application_.streamInfo()->snapshot();
    {
        std::lock_guard<std::mutex> guard(historyLock_);
        // A stop may have cleared the stream information already; an entry
        // without a source would end the stored history where it stands.
        std::string source = !playlistAddress_.empty() ? playlistAddress_ : !address.empty() ? address : info.source;
        if (!source.empty()) {
            history_.recordStart({std::move(source), info.stationName, info.stationUrl},
                                 application_.settings().getInt("Session/MaxHistoryLength"));
        }
    }
    Recorder& recorder = application_.recorder();
    if (recorder.isRecording() && !recorder.isCapturing()) {
        recorder.setRecording(false);
        const SettingsStore& language = application_.language();
        // Logged as well, so that a face without dialogs tells it too.
        log(LogKind::Error, language.getString("Main/Message/RecordingFailure"));
        if (popupsEnabled()) {
            view_.showMessage(MessageIcon::Information, language.getString("Main/Message/KorvanelWarning"),
                              language.getString("Main/Message/RecordingFailure"));
        }
    }
    if (info.stationName.empty()) {
        logText(LogKind::PlaybackStart, "Log/Message/Playing");
    } else {
        log(LogKind::PlaybackStart, info.stationName);
    }
    view_.refresh(DisplayPart::All);
}

void WindowEvents::onInfoChanged() {
    view_.refresh(DisplayPart::Texts);
    const std::string title = application_.streamInfo()->title();
    // Repeated metadata with the same title logs one line.
    if (!title.empty() && title != lastTrack_) {
        log(LogKind::TrackTitle, title);
        lastTrack_ = title;
    }
}

void WindowEvents::onStarted() {
    reloadStations(StationListKind::Favorites);
    reloadStations(StationListKind::Presets);
    view_.refresh(DisplayPart::MenuBar);
    logFormatted(LogKind::Normal, "Log/Message/Started", programTitle());
    presetUpdater_.check();
    if (autoPlayAllowed_ && application_.settings().getBool("General/AutoPlayOnStart") &&
        !application_.playlistResolver().isEmpty()) {
        application_.player().play();
    }
}

void WindowEvents::onPresetResult(PresetUpdater::Result result) {
    const char* key = PresetUpdater::messageKey(result);
    if (key != nullptr) {
        reportPresetResult(result, key);
    }
    std::function<void(PresetUpdater::Result)> observer;
    {
        std::lock_guard<std::mutex> guard(observerLock_);
        observer = presetObserver_;
    }
    if (observer) {
        observer(result);
    }
}

void WindowEvents::setPresetObserver(std::function<void(PresetUpdater::Result)> observer) {
    std::lock_guard<std::mutex> guard(observerLock_);
    presetObserver_ = std::move(observer);
}

void WindowEvents::reportPresetResult(PresetUpdater::Result result, const char* key) {
    if (result == PresetUpdater::Result::Updated) {
        reloadStations(StationListKind::Presets);
        view_.refresh(DisplayPart::MenuBar);
    }
    logText(LogKind::Normal, key);
    if (popupsEnabled()) {
        view_.showMessage(result == PresetUpdater::Result::Updated ? MessageIcon::Information
                                                                   : MessageIcon::Error,
                          programTitle(), application_.language().getString(key));
    }
}

void WindowEvents::log(LogKind kind, const std::string& text) { view_.addLogLine(kind, text); }

void WindowEvents::logText(LogKind kind, const char* languageKey) {
    // A text is formatted even without arguments, so "%%" shows as "%".
    log(kind, formatText(application_.language().getString(languageKey), {}));
}

void WindowEvents::logFormatted(LogKind kind, const char* languageKey, const std::string& argument) {
    log(kind, formatText(application_.language().getString(languageKey), {argument}));
}

bool WindowEvents::popupsEnabled() const {
    return !application_.settings().getBool("General/DisablePopups");
}

}  // namespace korvanel
