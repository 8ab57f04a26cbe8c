#include "frontend/media_player_model.h"

#include "app/application.h"
#include "audio/stream_info.h"
#include "player/player.h"
#include "stream/playlist_resolver.h"

namespace korvanel {

MediaPlayerModel::MediaPlayerModel(Application& application) : application_(application) {}

MediaPlayerState MediaPlayerModel::read() {
    MediaPlayerState state;
    const Player& player = application_.player();
    const Player::State playing = player.state();
    const bool running = playing == Player::State::Connecting || playing == Player::State::Buffering ||
                         playing == Player::State::Playing;
    state.status = running ? MediaPlayerState::Status::Playing : MediaPlayerState::Status::Stopped;
    state.canStop = running;
    const StreamInfo::Snapshot info = application_.streamInfo()->snapshot();
    auto [artists, title] = splitArtistAndTitle(info.title);
    state.artists = std::move(artists);
    state.title = std::move(title);
    state.stationName = info.stationName;
    state.source = info.source;
    if (info.title != lastTitle_ || info.source != lastSource_) {
        lastTitle_ = info.title;
        lastSource_ = info.source;
        ++track_;
    }
    state.track = track_;
    state.volume = player.volume();
    PlaylistResolver& resolver = application_.playlistResolver();
    state.canGoNext = resolver.hasNext();
    state.canGoPrevious = resolver.hasPrevious();
    return state;
}

std::pair<std::vector<std::string>, std::string> MediaPlayerModel::splitArtistAndTitle(const std::string& text) {
    const std::size_t dash = text.find(" - ");
    if (dash == std::string::npos || dash == 0 || dash + 3 >= text.size()) {
        return {{}, text};
    }
    return {{text.substr(0, dash)}, text.substr(dash + 3)};
}

const char* MediaPlayerModel::statusName(MediaPlayerState::Status status) {
    return status == MediaPlayerState::Status::Playing ? "Playing" : "Stopped";
}

}  // namespace korvanel
