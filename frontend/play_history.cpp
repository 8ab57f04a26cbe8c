#include "frontend/play_history.h"

#include <cstdio>

#include "settings/settings_store.h"

namespace korvanel {
namespace {

// A stored history is untrusted: a file with a million entries is not read whole.
constexpr std::size_t kMaxLoadedEntries = 1000;

}  // namespace

void PlayHistory::moveToFront(std::size_t index) {
    if (index < entries_.size()) {
        HistoryEntry entry = std::move(entries_[index]);
        entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index));
        entries_.push_front(std::move(entry));
    }
}

std::string PlayHistory::key(std::size_t index, const char* field) {
    char text[64];
    std::snprintf(text, sizeof text, "Session/History/H%02zu_%s", index, field);
    return text;
}

void PlayHistory::recordStart(HistoryEntry entry, int maxLength) {
    if (!entries_.empty() && entries_.front().source == entry.source) {
        entries_.pop_front();
    }
    entries_.push_front(std::move(entry));
    if (static_cast<long>(entries_.size()) > maxLength) {
        entries_.pop_back();
    }
}

bool PlayHistory::load(const SettingsStore& settings) {
    if (!entries_.empty()) {
        return false;
    }
    for (std::size_t i = 0; i < kMaxLoadedEntries; ++i) {
        HistoryEntry entry{settings.getString(key(i, "Source")), settings.getString(key(i, "Title")),
                           settings.getString(key(i, "URL"))};
        if (entry.source.empty()) {
            break;
        }
        entries_.push_back(std::move(entry));
    }
    return !entries_.empty();
}

void PlayHistory::save(SettingsStore& settings) const {
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        settings.setString(key(i, "Source"), entries_[i].source);
        settings.setString(key(i, "Title"), entries_[i].stationName);
        settings.setString(key(i, "URL"), entries_[i].stationUrl);
    }
}

}  // namespace korvanel
