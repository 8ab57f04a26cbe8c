#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/job.h"
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
// Threads: handle() runs on the window's one event worker; everything here
// belongs to that thread.
class WindowEvents {
public:
    WindowEvents(Application& application, WindowView& view);
    ~WindowEvents();

    // Handles one event; codes that are not events are ignored.
    void handle(const Job& event);

    // The lists themselves, for a front end that uses them on the event
    // worker only (the console); a window's GUI thread uses the guarded
    // calls below.
    StationList& favorites() { return favorites_; }
    StationList& presets() { return presets_; }

    // Any thread: the list's items into a menu (the number of stations, or
    // -1 when the file could not be parsed), one station's sources, and a
    // fresh read of the file.
    int buildStationMenu(StationListKind kind, StationMenu& menu, int baseId);
    std::optional<StationChoice> lookUpStation(StationListKind kind, int number);
    void reloadStations(StationListKind kind);
    PresetUpdater& presetUpdater() { return presetUpdater_; }

    // The history is read and written by the window thread too (session
    // settings), so these may be called from any thread.
    PlayHistory history() const;
    void saveHistory(SettingsStore& settings) const;
    bool loadHistory(const SettingsStore& settings);
    // The entry, if there is one, first (a station chosen from the history).
    std::optional<HistoryEntry> takeHistoryEntryToFront(std::size_t index);

    // Set by the play commands on the GUI thread: the playlist a station came
    // from, if any.
    std::string playlistAddress() const;
    void setPlaylistAddress(std::string address);

    // Whether the start event plays the current station when
    // "General/AutoPlayOnStart" is on (a window that starts with the last
    // station loaded); off for fronts that choose their own station.
    void setAutoPlayOnStart(bool allowed) { autoPlayAllowed_ = allowed; }

    // Told of every settled preset update step (for front ends that wait on it).
    void setPresetObserver(std::function<void(PresetUpdater::Result)> observer) {
        presetObserver_ = std::move(observer);
    }

    // When the current stream started playing (steady clock, milliseconds).
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
    std::mutex stationsLock_;  // guards the two lists; never held with historyLock_
    StationList favorites_;
    StationList presets_;
    PresetUpdater presetUpdater_;
    mutable std::mutex historyLock_;
    PlayHistory history_;          // guarded by historyLock_
    std::string playlistAddress_;  // guarded by historyLock_
    bool autoPlayAllowed_ = false;
    std::string lastTrack_;
    std::atomic<std::int64_t> connectStartMs_{0};  // read by the window thread
    std::function<void(PresetUpdater::Result)> presetObserver_;
};

}  // namespace korvanel
