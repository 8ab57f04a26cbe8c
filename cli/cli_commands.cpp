#include "cli/cli_commands.h"

#include <atomic>
#include <filesystem>
#include <chrono>
#include <thread>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>

#include "app/application.h"
#include "base/program_path.h"
#include "base/window_event.h"
#include "audio/output_devices.h"
#include "audio/stream_info.h"
#include "cli/console_window.h"
#include "cli/play_session.h"
#include "frontend/signal_watcher.h"
#include "player/player.h"
#include "stations/favorites_editor.h"
#include "stations/favorites_transfer.h"
#include "stations/station_import.h"
#include "stations/station_directory.h"
#include "stations/station_list.h"
#include "stream/playlist_resolver.h"
#include "cli/text_menu.h"
#include "settings/settings_store.h"

namespace korvanel {
namespace {

// Puts the overridden settings back as they were when it goes, so that the
// Application's save at shutdown never stores them.
class SettingOverrides {
public:
    explicit SettingOverrides(SettingsStore& settings) : settings_(settings) {}
    ~SettingOverrides() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            settings_.put(it->first, it->second.type, it->second.text);
        }
    }
    SettingOverrides(const SettingOverrides&) = delete;
    SettingOverrides& operator=(const SettingOverrides&) = delete;

    // False (nothing changed) for a key the settings do not have.
    bool apply(const std::string& key, const std::string& text) {
        const auto entries = settings_.entries();
        const auto it = entries.find(key);
        if (it == entries.end()) {
            return false;
        }
        saved_.emplace_back(key, it->second);
        settings_.put(key, it->second.type, text);
        return true;
    }

private:
    SettingsStore& settings_;
    std::vector<std::pair<std::string, SettingEntry>> saved_;
};

int listStations(const std::string& which) {
    StationList list;
    list.setPath(resolveProgramPath(which + ".xml"));
    list.load();
    std::vector<std::string> lines;
    const int baseId = which == "favorites" ? StationList::kFavoritesBaseId : StationList::kPresetsBaseId;
    TextMenu menu(baseId, lines);
    if (list.buildMenu(menu, baseId) == 0) {
        std::fprintf(stderr, "korvanel-cli: no stations in %s (missing or not a station list)\n",
                     list.path().c_str());
        return kExitFailed;
    }
    for (const auto& line : lines) {
        std::printf("%s\n", line.c_str());
    }
    return kExitOk;
}

int listDevices(Application& application) {
    // A library of its own: the player's is made on its worker, later.
    const std::unique_ptr<AudioLibrary> library = application.defaultAudioLibrary()();
    const std::vector<OutputDevice> devices = listOutputDevices(*library);
    std::printf("%s\n", library->outputName().c_str());
    for (const OutputDevice& device : devices) {
        std::printf("%d  %s\n", device.number, device.name.c_str());
    }
    return kExitOk;
}

// What failed when the favourites file could not take stations.
void reportListProblem(FavoriteAddResult result, const std::string& path) {
    switch (result) {
        case FavoriteAddResult::NotAList:
            std::fprintf(stderr, "korvanel-cli: %s is missing or not a station list\n", path.c_str());
            return;
        case FavoriteAddResult::WriteFailed:
            std::fprintf(stderr, "korvanel-cli: could not write %s (it is as it was)\n", path.c_str());
            return;
        case FavoriteAddResult::TooLarge:
            std::fprintf(stderr, "korvanel-cli: %s would grow too large to read; it is as it was\n", path.c_str());
            return;
        case FavoriteAddResult::Added:
        case FavoriteAddResult::AlreadyThere:
        case FavoriteAddResult::NoSuchGroup: return;
    }
}

int addToFavorites(const CliOptions& options) {
    const std::string path = resolveProgramPath("favorites.xml");
    const std::string& source = options.sources.front();
    const FavoriteStation station{options.title.value_or(source), "", {source}};
    const FavoriteAddResult added = addFavorite(path, station, options.group.value_or(""));
    switch (added) {
        case FavoriteAddResult::Added:
            std::printf("added %s to %s\n", source.c_str(), path.c_str());
            return kExitOk;
        case FavoriteAddResult::AlreadyThere:
            std::printf("%s is in %s already\n", source.c_str(), path.c_str());
            return kExitOk;
        case FavoriteAddResult::NoSuchGroup:
            std::fprintf(stderr, "korvanel-cli: %s has no group '%s'\n", path.c_str(), options.group->c_str());
            return kExitFailed;
        case FavoriteAddResult::NotAList:
        case FavoriteAddResult::WriteFailed:
        case FavoriteAddResult::TooLarge: reportListProblem(added, path); return kExitFailed;
    }
    return kExitFailed;
}

int importFavorites(const CliOptions& options) {
    const std::string path = resolveProgramPath("favorites.xml");
    const std::string& file = options.sources.front();
    const FavoritesImportReport report = importIntoFavorites(path, file, options.group.value_or(""));
    if (!report.listError.empty()) {
        std::fprintf(stderr, "korvanel-cli: %s %s\n", file.c_str(), report.listError.c_str());
        return kExitFailed;
    }
    switch (report.result) {
        case FavoriteAddResult::Added:
            std::printf("imported %zu stations into group '%s' of %s\n", report.added, report.group.c_str(),
                        path.c_str());
            break;
        case FavoriteAddResult::AlreadyThere:
            std::printf("every station of %s is in %s already\n", file.c_str(), path.c_str());
            break;
        case FavoriteAddResult::NoSuchGroup:
        case FavoriteAddResult::NotAList:
        case FavoriteAddResult::WriteFailed:
        case FavoriteAddResult::TooLarge:
            reportListProblem(report.result == FavoriteAddResult::NoSuchGroup ? FavoriteAddResult::NotAList : report.result,
                            path);
            return kExitFailed;
    }
    if (report.alreadyThere > 0) {
        std::printf("%zu stations were in the favourites already\n", report.alreadyThere);
    }
    if (report.skipped > 0) {
        std::printf("%zu entries were skipped: not a network address or a local file\n", report.skipped);
    }
    if (report.leftOut > 0) {
        std::printf("%zu stations were left out: one import takes at most %zu\n", report.leftOut,
                    kMaxImportStations);
    }
    return kExitOk;
}

int exportFavoritesTo(const CliOptions& options) {
    const std::string path = resolveProgramPath("favorites.xml");
    const std::string& file = options.sources.front();
    const FavoritesExportReport report =
        exportFavorites(path, file, *exportFormatNamed(*options.format), options.group.value_or(""));
    if (!report.error.empty()) {
        std::fprintf(stderr, "korvanel-cli: %s\n", report.error.c_str());
        return kExitFailed;
    }
    std::printf("wrote %zu stations to %s\n", report.written, file.c_str());
    return kExitOk;
}

int updatePresets(ConsoleWindow& console) {
    std::mutex lock;
    std::condition_variable settled;
    std::optional<PresetUpdater::Result> outcome;
    console.events().setPresetObserver([&](PresetUpdater::Result result) {
        if (result == PresetUpdater::Result::Downloading) {
            return;
        }
        std::lock_guard<std::mutex> guard(lock);
        outcome = result;
        settled.notify_all();
    });
    console.events().presetUpdater().check();

    std::unique_lock<std::mutex> wait(lock);
    // The client's own bounds end every fetch; this only guards against a lost event.
    const bool done = settled.wait_for(wait, std::chrono::minutes(2), [&] { return outcome.has_value(); });
    const PresetUpdater::Result result = done ? *outcome : PresetUpdater::Result::Failed;
    wait.unlock();
    console.events().setPresetObserver(nullptr);
    if (result == PresetUpdater::Result::NothingDue) {
        std::printf("Presets are up to date.\n");
    } else if (result == PresetUpdater::Result::CheckFailed) {
        std::fprintf(stderr,
                     "korvanel-cli: the update server %s did not answer; set %s to another server or "
                     "try again later\n",
                     PresetUpdater::serverBase().c_str(), PresetUpdater::kServerVariable);
    }
    // The outcome's log line (updated or failed) was written by the event handling.
    return result == PresetUpdater::Result::NothingDue || result == PresetUpdater::Result::Updated
               ? kExitOk
               : kExitFailed;
}

std::vector<std::string> stationSources(const CliOptions& options, std::string& name, std::string& url,
                                        std::string& problem) {
    if (options.search) {
        return {};  // from the directory
    }
    if (!options.favorite && !options.preset) {
        return options.sources;
    }
    const bool favorite = options.favorite.has_value();
    const int number = favorite ? *options.favorite : *options.preset;
    StationList list;
    list.setPath(resolveProgramPath(favorite ? "favorites.xml" : "presets.xml"));
    list.load();
    std::vector<std::string> sources = list.lookup(number);
    if (sources.empty()) {
        problem = std::string("there is no ") + (favorite ? "favourite" : "preset") + " number " +
                  std::to_string(number) + " (see korvanel-cli list " + (favorite ? "favorites" : "presets") + ")";
        return {};
    }
    name = list.title();
    url = list.url();
    return sources;
}

// The player takes its volume once it has started its audio; wait for that.
void waitForPlayerStart(Player& player) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (player.pendingCount() > 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

DirectoryQuery queryOf(const CliOptions& options) {
    DirectoryQuery query;
    query.text = options.search.value_or(options.sources.empty() ? "" : options.sources.front());
    query.tag = options.tag.value_or("");
    query.country = options.country.value_or("");
    query.codec = options.codec.value_or("");
    query.limit = options.limit.value_or(StationDirectory::kMaxResults);
    return query;
}

int searchDirectory(Application& application, const CliOptions& options) {
    StationDirectory directory(application.httpClient(), application.settings());
    const StationDirectory::Result found = directory.search(queryOf(options));
    if (!found.ok) {
        std::fprintf(stderr, "korvanel-cli: %s\n", found.error.c_str());
        return kExitFailed;
    }
    if (found.skipped > 0) {
        std::fprintf(stderr, "korvanel-cli: %zu entries of the answer were no station and were left out\n",
                     found.skipped);
    }
    int number = 0;
    for (const DirectoryStation& station : found.stations) {
        std::printf("%4d  %s  [%s, %s %d kbps]  %s\n", ++number, station.name.c_str(), station.countryCode.c_str(),
                    station.codec.c_str(), station.bitrate, station.url.c_str());
    }
    if (number == 0) {
        std::fprintf(stderr, "korvanel-cli: no station matches\n");
        return kExitFailed;
    }
    return kExitOk;
}

int play(Application& application, ConsoleWindow& console, const CliOptions& options, SignalWatcher& signals) {
    std::string name, url, problem;
    std::vector<std::string> sources = stationSources(options, name, url, problem);
    StationDirectory directory(application.httpClient(), application.settings());
    std::string played;  // the directory's key of the station, told once it plays
    if (options.search) {
        DirectoryQuery query = queryOf(options);
        query.limit = 1;
        const StationDirectory::Result found = directory.search(query);
        if (!found.ok || found.stations.empty()) {
            std::fprintf(stderr, "korvanel-cli: %s\n", found.ok ? "no station matches" : found.error.c_str());
            return kExitFailed;
        }
        const DirectoryStation& station = found.stations.front();
        sources = {station.url};
        name = station.name;
        url = station.homepage;
        played = station.uuid;
    }
    if (!problem.empty()) {
        std::fprintf(stderr, "korvanel-cli: %s\n", problem.c_str());
        return kExitUsage;
    }
    PlaySession session(application);
    console.setEventObserver([&session](const WindowEvent& event) { session.onEvent(event); });
    console.post(makeEvent(EventKind::Started));

    StreamInfo& info = *application.streamInfo();
    info.reset();
    info.setStationName(name);
    info.setStationUrl(url);
    application.playlistResolver().setSources(sources);
    Player& player = application.player();
    waitForPlayerStart(player);
    if (options.volume) {
        player.setVolume(*options.volume / 100.0);
    }
    player.play();
    directory.reportClick(played);

    signals.setOnInterrupt([&session] { session.interruptSet(); });
    const PlaySession::Outcome outcome = session.wait(options.seconds, signals.interrupted());
    signals.setOnInterrupt(nullptr);
    if (player.state() != Player::State::Idle) {
        player.stop();
    }
    // Let the stop reach the log before the program goes.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while ((player.state() != Player::State::Idle || player.pendingCount() > 0 || console.pendingCount() > 0) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    console.setEventObserver(nullptr);
    return outcome == PlaySession::Outcome::GaveUp ? kExitFailed : kExitOk;
}

int resolve(Application& application, const std::string& source) {
    PlaylistResolver& resolver = application.playlistResolver();
    resolver.setSource(source);
    if (resolver.needsResolving() && !resolver.resolveCurrent()) {
        std::fprintf(stderr, "korvanel-cli: %s\n",
                     application.language().getString("Player/Error/PlaylistFailed").c_str());
        return kExitFailed;
    }
    for (const auto& address : resolver.workingList()) {
        std::printf("%s\n", address.c_str());
    }
    return kExitOk;
}

}  // namespace

int runCliCommand(Application& application, ConsoleWindow& console, const CliOptions& options,
                  SignalWatcher& signals) {
    SettingOverrides overrides(application.settings());
    for (const auto& [key, value] : options.settingOverrides) {
        if (!overrides.apply(key, value)) {
            std::fprintf(stderr, "korvanel-cli: there is no setting '%s' (see korvanel.xml)\n", key.c_str());
            return kExitUsage;
        }
    }
    const bool recording = options.command == "record";
    if (recording) {
        overrides.apply("Recording/Enabled", "true");
        if (options.folder) {
            // A folder typed on the command line means one from here.
            overrides.apply("Recording/Path", std::filesystem::absolute(*options.folder).string());
        }
        if (options.pattern) {
            overrides.apply("Recording/FilePattern", *options.pattern);
        }
        application.recorder().setFileOpened([](const std::string& path) {
            std::printf("%s\n", path.c_str());
            std::fflush(stdout);
        });
    }
    if (options.pcmOut || options.devices || recording) {
        std::string devices = recording ? std::string() : options.devices.value_or("");
        if (options.pcmOut || recording) {
            devices += (devices.empty() ? "" : ",") + std::to_string(audio::kFileDevice);
        }
        overrides.apply("Sound/PlayOnDevices", devices);
    }
    if (options.volume) {
        overrides.apply("Session/Volume", std::to_string(*options.volume));
    }
    if (!options.settingOverrides.empty() || options.pcmOut || options.devices || options.volume || recording) {
        application.settings().notifyChanged();
    }

    if (options.command == "list") {
        return options.listWhich == "devices" ? listDevices(application) : listStations(options.listWhich);
    }
    if (options.command == "search") {
        return searchDirectory(application, options);
    }
    if (options.command == "favorites") {
        return options.action == "import" ? importFavorites(options)
               : options.action == "export" ? exportFavoritesTo(options)
                                            : addToFavorites(options);
    }
    if (options.command == "update-presets") {
        return updatePresets(console);
    }
    if (options.command == "resolve") {
        return resolve(application, options.sources.front());
    }
    if (options.command == "play") {
        const int status = play(application, console, options, signals);
        // The console writes its session (the play history) when its run
        // ends, as the desktop window does when its message loop ends: the
        // shutdown save no longer reaches any listener.
        console.collectSettings(application.settings());
        return status;
    }
    if (recording) {
        const int status = play(application, console, options, signals);
        console.collectSettings(application.settings());
        // Every file is complete before the program goes.
        application.recorder().setRecording(false);
        application.recorder().waitUntilIdle();
        application.recorder().setFileOpened(nullptr);
        return status;
    }
    std::fprintf(stderr, "korvanel-cli: '%s' is not available in this build yet\n", options.command.c_str());
    return kExitUsage;
}

}  // namespace korvanel
