#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/window_event.h"
#include "frontend/play_history.h"
#include "frontend/window_view.h"
#include "stations/preset_updater.h"
#include "stations/station_list.h"

namespace korvanel {

class Application;
class StationMenu;

enum class StationListKind { Favorites, Presets };

// One station of a list, as chosen from its menu.
struct StationChoice {
    std::vector<std::string> sources;
    std::string title;
    std::string url;
};

// The main window's handling of what the components report, shared by the
// desktop window and the console: log lines, status texts, messages, the
// station lists, the preset update and the play history. The front end
// supplies the view.
//
// Threads:
// - handle() runs on the front end's one event worker, and so do the view
//   calls it makes, the preset updater's steps and the preset observer.
// - The front end's own thread (the desktop's GUI thread, the console's
//   main thread) builds menus from the lists, looks stations up, reloads a list, reads, saves and
//   loads the history, sets the playlist address and reads connectStartMs();
//   the worker reloads the lists too (at start, after a preset update) and
//   records each connection in the history.
// - setAutoPlayOnStart() comes before the first event.
// Locks: stationsLock_ guards the two lists; historyLock_ the history and
// the playlist address; observerLock_ the preset observer. None is held
// while another is taken. A list logs its parse errors to the view with
// stationsLock_ held, so the view's addLogLine must not come back here.
class WindowEvents {
public:
    WindowEvents(Application& application, WindowView& view);
    ~WindowEvents();

    // Handles one event; codes that are not events are ignored.
    void handle(const WindowEvent& event);

    // The lists themselves, unguarded: only for code on the event worker
    // while no other thread uses them; others take the guarded calls below.
    StationList& favorites() { return favorites_; }
    StationList& presets() { return presets_; }

    // Any thread, under stationsLock_: the list's items into a menu (the
    // number of stations, or -1 when the file could not be parsed), one
    // station's sources, and a fresh read of the file.
    int buildStationMenu(StationListKind kind, StationMenu& menu, int baseId);
    std::optional<StationChoice> lookUpStation(StationListKind kind, int number);
    void reloadStations(StationListKind kind);
    // The event worker's; a console may start a check on its own thread
    // only while no event is being handled.
    PresetUpdater& presetUpdater() { return presetUpdater_; }

    // Any thread, under historyLock_: the worker records each connection,
    // the window reads the history for its menu and the session.
    PlayHistory history() const;
    void saveHistory(SettingsStore& settings) const;
    bool loadHistory(const SettingsStore& settings);
    // The entry, if there is one, first (a station chosen from the history).
    std::optional<HistoryEntry> takeHistoryEntryToFront(std::size_t index);

    // Set by the play commands on the GUI thread, read by the worker when
    // the station connects: the playlist it came from, if any.
    std::string playlistAddress() const;
    void setPlaylistAddress(std::string address);

    // Whether the start event plays the current station when
    // "General/AutoPlayOnStart" is on (a window that starts with the last
    // station loaded); off for fronts that choose their own station.
    void setAutoPlayOnStart(bool allowed) { autoPlayAllowed_ = allowed; }

    // Told of every settled preset update step, on the event worker (for
    // front ends that wait on it); set from any thread.
    void setPresetObserver(std::function<void(PresetUpdater::Result)> observer);

    // When the current stream started playing (steady clock, milliseconds):
    // written by the worker, read by any thread.
    std::int64_t connectStartMs() const { return connectStartMs_.load(); }

    // "Korvanel Radio v0.3.6", the caption of the preset messages.
    static std::string programTitle();

private:
    void onStarted();
    void onConnected(const std::string& address);
    void onInfoChanged();
    void onPresetResult(PresetUpdater::Result result);
    void reportPresetResult(PresetUpdater::Result result, const char* key);
    void log(LogKind kind, const std::string& text);
    void logText(LogKind kind, const char* languageKey);
    void logFormatted(LogKind kind, const char* languageKey, const std::string& argument);
    bool popupsEnabled() const;

    Application& application_;
    WindowView& view_;
    std::mutex stationsLock_;
    StationList favorites_;  // guarded by stationsLock_
    StationList presets_;    // guarded by stationsLock_
    PresetUpdater presetUpdater_;
    mutable std::mutex historyLock_;
    PlayHistory history_;          // guarded by historyLock_
    std::string playlistAddress_;  // guarded by historyLock_
    bool autoPlayAllowed_ = false;  // set before the first event
    std::string lastTrack_;         // the worker's
    std::atomic<std::int64_t> connectStartMs_{0};
    std::mutex observerLock_;
    std::function<void(PresetUpdater::Result)> presetObserver_;  // guarded by observerLock_
};

}  // namespace korvanel
