#include "audio/loudness_memory.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "base/file_util.h"

namespace korvanel {
namespace {

bool validKey(std::string_view key) {
    if (key.empty() || key.size() > LoudnessMemory::kMaxKeyBytes) {
        return false;
    }
    for (const char c : key) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            return false;
        }
    }
    return true;
}

}  // namespace

LoudnessMemory::LoadResult LoudnessMemory::load() {
    stations_.clear();
    const std::optional<std::string> text = readWholeFile(path_, kMaxFileBytes);
    if (!text) {
        // Too large reads as nothing too; tell it apart from a missing file.
        std::FILE* file = std::fopen(path_.c_str(), "rb");
        if (file == nullptr) {
            return LoadResult::Missing;
        }
        std::fclose(file);
        return LoadResult::Corrupt;
    }
    std::string_view rest = *text;
    const auto takeLine = [&rest](std::string_view& line) {
        const std::size_t end = rest.find('\n');
        if (end == std::string_view::npos) {
            return false;  // every line, the last too, ends in a newline
        }
        line = rest.substr(0, end);
        rest.remove_prefix(end + 1);
        return true;
    };
    std::string_view line;
    if (!takeLine(line) || line != kHeader) {
        return LoadResult::Corrupt;
    }
    std::vector<Station> read;
    while (!rest.empty()) {
        if (!takeLine(line) || read.size() >= kMaxStations) {
            return LoadResult::Corrupt;
        }
        const std::size_t tab = line.find('\t');
        if (tab == std::string_view::npos) {
            return LoadResult::Corrupt;
        }
        double lufs = 0.0;
        const char* last = line.data() + tab;
        const auto parsed = std::from_chars(line.data(), last, lufs);
        const std::string_view key = line.substr(tab + 1);
        if (parsed.ec != std::errc() || parsed.ptr != last || !plausible(lufs) || !validKey(key)) {
            return LoadResult::Corrupt;
        }
        read.push_back(Station{std::string(key), static_cast<float>(lufs)});
    }
    // The file lists the most recent first.
    std::reverse(read.begin(), read.end());
    stations_ = std::move(read);
    std::vector<std::string_view> keys;
    keys.reserve(stations_.size());
    for (const Station& station : stations_) {
        keys.push_back(station.key);
    }
    std::sort(keys.begin(), keys.end());
    if (std::adjacent_find(keys.begin(), keys.end()) != keys.end()) {
        stations_.clear();
        return LoadResult::Corrupt;  // a station twice: written by something else
    }
    return LoadResult::Loaded;
}

bool LoudnessMemory::save() const {
    std::string text = std::string(kHeader) + "\n";
    char number[32];
    for (auto station = stations_.rbegin(); station != stations_.rend(); ++station) {
        // to_chars, unlike printf, never writes a decimal comma.
        const auto written =
            std::to_chars(number, number + sizeof number, static_cast<double>(station->lufs), std::chars_format::fixed, 2);
        text.append(number, written.ptr);
        text += '\t';
        text += station->key;
        text += '\n';
    }
    return writeFileAtomically(path_, text);
}

std::vector<LoudnessMemory::Station>::iterator LoudnessMemory::locate(std::string_view key) {
    return std::find_if(stations_.begin(), stations_.end(), [key](const Station& s) { return s.key == key; });
}

std::optional<double> LoudnessMemory::find(std::string_view key) const {
    const auto found =
        std::find_if(stations_.begin(), stations_.end(), [key](const Station& s) { return s.key == key; });
    if (found == stations_.end()) {
        return std::nullopt;
    }
    return found->lufs;
}

void LoudnessMemory::remember(std::string_view key, double lufs) {
    if (!validKey(key) || !plausible(lufs)) {
        return;
    }
    if (const auto found = locate(key); found != stations_.end()) {
        found->lufs = static_cast<float>(lufs);
        std::rotate(found, found + 1, stations_.end());
        return;
    }
    if (stations_.size() >= kMaxStations) {
        stations_.erase(stations_.begin());
    }
    stations_.push_back(Station{std::string(key), static_cast<float>(lufs)});
}

}  // namespace korvanel
