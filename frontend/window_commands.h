#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "frontend/station_transfer_text.h"
#include "stations/station_export.h"

namespace korvanel {

class Application;
class WindowEvents;
struct HistoryEntry;

// What the window's buttons, menus and drops ask of the core, shared by
// every face of the window. Called on the GUI thread; each call only posts
// to the player or flips a switch, so none of them waits.
class WindowCommands {
public:
    WindowCommands(Application& application, WindowEvents& events);

    enum class PlayResult { Started, NoSources };
    // Plays the resolver's sources; NoSources when it holds none (the
    // window tells the user, unless popups are off).
    PlayResult play();
    void stop();
    void previous();
    void next();
    void toggleMute();
    void toggleRecording();
    // The volume in twentieths (0..20, clamped), for the player and for the
    // session ("Session/Volume" in percent).
    void setVolumeSteps(int steps);

    // A text from outside (a drop, the clipboard, an entered address) as the
    // one source, played as it is: an empty text plays the empty source and
    // the player reports the failure.
    void playSource(const std::string& source);
    // A station of the history: its name and address are shown while it
    // connects.
    void playStation(const HistoryEntry& entry);
    // Makes a history entry the current station without playing it, so the
    // Play button plays the last station after a start.
    void selectStation(const HistoryEntry& entry);

    // A menu command by its id (frontend/menu_tree.h). Handled: what the core
    // does (transport, effects, the lists, always on top, the station
    // choices); ForWindow: what only the window can do (exit, dialogs, the
    // log window, opening files and folders); Ignored: no such command, or a
    // station that is not there.
    enum class Outcome { Handled, NoSources, ForWindow, Ignored };
    Outcome run(int id);

    // A list file's stations into the favourites, as a group named after the
    // file, and the favourites out to a list file; the lines say how it went
    // in the user's language, the outcome first.
    std::vector<TransferLine> importStations(const std::string& file);
    TransferLine exportFavorites(const std::string& file, ExportFormat format);

    // What a copy command puts on the clipboard; nothing for other ids.
    std::optional<std::string> clipboardText(int id, std::int64_t connectStartMs, std::int64_t nowMs) const;

private:
    Outcome chooseStation(int id);
    // The station playing now into favorites.xml; the log says how it went.
    void addCurrentToFavorites();

    Application& application_;
    WindowEvents& events_;
};

}  // namespace korvanel
