#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace korvanel {

class Application;

// What the desktop's media player interface (media keys, sound applets)
// is told about the player, read from the core in one go.
struct MediaPlayerState {
    enum class Status { Playing, Stopped };

    Status status = Status::Stopped;
    std::string title;                 // the track title, without its artist
    std::vector<std::string> artists;  // from an "Artist - Title" title
    std::string stationName;
    std::string source;                // the stream address playing
    std::uint64_t track = 0;           // a new number for every new title
    double volume = 1.0;               // 0..1
    bool canGoNext = false;
    bool canGoPrevious = false;
    bool canStop = false;

    bool operator==(const MediaPlayerState&) const = default;
};

// Reads that state; numbers the titles as they change. A live stream cannot
// pause, so the interface's Pause stops it.
//
// Threads: one caller at a time (the window's GUI thread).
class MediaPlayerModel {
public:
    explicit MediaPlayerModel(Application& application);

    MediaPlayerState read();

    // "Artist - Title" as its artist and title; a text without " - " is a
    // title alone.
    static std::pair<std::vector<std::string>, std::string> splitArtistAndTitle(const std::string& text);
    // The interface's name of a status: "Playing" or "Stopped".
    static const char* statusName(MediaPlayerState::Status status);

private:
    Application& application_;
    std::string lastTitle_;
    std::string lastSource_;
    std::uint64_t track_ = 0;
};

}  // namespace korvanel
