#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvanel {

// The loudness learned per station, kept in a small text file beside the
// settings so a station played again is levelled from its first second.
// Only the most recently played kMaxStations are kept.
//
// File: a header line, then one station a line, most recent first:
// "<LUFS>\t<key>". The file comes from outside: anything malformed makes
// the whole of it ignored, and an oversized one is not read.
//
// Threads: one at a time (the player's worker).
class LoudnessMemory {
public:
    static constexpr std::size_t kMaxStations = 2000;
    static constexpr std::size_t kMaxKeyBytes = 1024;
    static constexpr std::size_t kMaxFileBytes = 3 * 1024 * 1024;
    static constexpr const char* kHeader = "korvanel-loudness 1";
    static constexpr const char* kFileName = "loudness.txt";

    enum class LoadResult { Loaded, Missing, Corrupt };

    explicit LoudnessMemory(std::string path) : path_(std::move(path)) {}

    // Replaces what is held by the file's stations; on Corrupt, none.
    LoadResult load();
    // Writes atomically; false (the old file kept) on failure.
    bool save() const;

    std::optional<double> find(std::string_view key) const;
    // Makes the station the most recent; the oldest beyond the bound goes.
    void remember(std::string_view key, double lufs);
    std::size_t size() const { return stations_.size(); }
    const std::string& path() const { return path_; }

    // Loudness a station may have: anything else in the file is corruption.
    static bool plausible(double lufs) { return lufs >= -70.0 && lufs <= 0.0; }

private:
    struct Station {
        std::string key;
        float lufs;
    };
    std::vector<Station>::iterator locate(std::string_view key);

    std::string path_;
    // Most recent last. A scan of 2,000 is nothing once per stream, and a
    // flat list keeps the memory small.
    std::vector<Station> stations_;
};

}  // namespace korvanel
