#pragma once

#include <deque>
#include <string>

namespace korvanel {

class SettingsStore;

struct HistoryEntry {
    std::string source;  // what plays it again: the playlist address when there was one
    std::string stationName;
    std::string stationUrl;
    bool operator==(const HistoryEntry&) const = default;
};

// The recently played stations, newest first, kept in the session settings.
// Belongs to the window's event worker.
class PlayHistory {
public:
    // A playback start: the same source at the front is replaced, the new
    // entry goes first, and one entry at most falls off the end when the
    // history is longer than maxLength (so a history longer than a lowered
    // bound keeps its length).
    void recordStart(HistoryEntry entry, int maxLength);
    // A chosen entry goes first, the others keep their order.
    void moveToFront(std::size_t index);

    // Reads "Session/History/Hnn_*" until the first empty source; only into
    // an empty history. Returns whether anything was loaded.
    bool load(const SettingsStore& settings);
    // Writes every entry, newest as H00; entries an earlier, longer history
    // wrote stay in the store.
    void save(SettingsStore& settings) const;

    const std::deque<HistoryEntry>& entries() const { return entries_; }
    bool empty() const { return entries_.empty(); }

    static std::string key(std::size_t index, const char* field);

private:
    std::deque<HistoryEntry> entries_;
};

}  // namespace korvanel
