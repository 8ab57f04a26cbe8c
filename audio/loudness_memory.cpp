#include "audio/loudness_memory.h"

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
    order_.clear();
    byKey_.clear();
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
    std::list<Station> read;
    std::unordered_map<std::string_view, std::list<Station>::iterator> keys;
    while (!rest.empty()) {
        if (!takeLine(line)) {
            return LoadResult::Corrupt;
        }
        const std::size_t tab = line.find('\t');
        if (tab == std::string_view::npos) {
            return LoadResult::Corrupt;
        }
        double lufs = 0.0;
        const char* first = line.data();
        const char* last = line.data() + tab;
        const auto parsed = std::from_chars(first, last, lufs);
        const std::string_view key = line.substr(tab + 1);
        if (parsed.ec != std::errc() || parsed.ptr != last || !plausible(lufs) || !validKey(key) ||
            keys.count(key) != 0 || read.size() >= kMaxStations) {
            return LoadResult::Corrupt;
        }
        read.push_back(Station{std::string(key), lufs});
        keys.emplace(read.back().key, std::prev(read.end()));
    }
    order_ = std::move(read);
    byKey_ = std::move(keys);  // list nodes, and the keys they hold, moved with the list
    return LoadResult::Loaded;
}

bool LoudnessMemory::save() const {
    std::string text = std::string(kHeader) + "\n";
    char number[32];
    for (const Station& station : order_) {
        // to_chars, unlike printf, never writes a decimal comma.
        const auto written = std::to_chars(number, number + sizeof number, station.lufs, std::chars_format::fixed, 2);
        text.append(number, written.ptr);
        text += '\t';
        text += station.key;
        text += '\n';
    }
    return writeFileAtomically(path_, text);
}

std::optional<double> LoudnessMemory::find(std::string_view key) const {
    const auto found = byKey_.find(key);
    if (found == byKey_.end()) {
        return std::nullopt;
    }
    return found->second->lufs;
}

void LoudnessMemory::remember(std::string_view key, double lufs) {
    if (!validKey(key) || !plausible(lufs)) {
        return;
    }
    if (const auto found = byKey_.find(key); found != byKey_.end()) {
        found->second->lufs = lufs;
        order_.splice(order_.begin(), order_, found->second);
        return;
    }
    order_.push_front(Station{std::string(key), lufs});
    byKey_.emplace(order_.front().key, order_.begin());
    while (order_.size() > kMaxStations) {
        byKey_.erase(order_.back().key);
        order_.pop_back();
    }
}

}  // namespace korvanel
