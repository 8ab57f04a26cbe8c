#include "frontend/window_commands.h"

#include "app/application.h"
#include "frontend/play_history.h"
#include "frontend/window_events.h"

namespace korvanel {

WindowCommands::WindowCommands(Application& application, WindowEvents& events)
    : application_(application), events_(events) {}

WindowCommands::PlayResult WindowCommands::play() {
    if (application_.playlistResolver().isEmpty()) {
        return PlayResult::NoSources;
    }
    application_.player().play();
    return PlayResult::Started;
}

void WindowCommands::stop() { application_.player().stop(); }

void WindowCommands::previous() { application_.player().previous(); }

void WindowCommands::next() { application_.player().next(); }

void WindowCommands::toggleMute() {
    Player& player = application_.player();
    player.isMuted() ? player.unmute() : player.mute();
}

void WindowCommands::toggleRecording() {
    Recorder& recorder = application_.recorder();
    recorder.setRecording(!recorder.isRecording());
}

void WindowCommands::playSource(const std::string& source) {
    application_.streamInfo()->reset();
    events_.setPlaylistAddress("");
    application_.playlistResolver().setSource(source);
    application_.player().play();
}

void WindowCommands::selectStation(const HistoryEntry& entry) {
    StreamInfo& info = *application_.streamInfo();
    info.reset();
    info.setStationName(entry.stationName);
    info.setStationUrl(entry.stationUrl);
    events_.setPlaylistAddress("");
    application_.playlistResolver().setSource(entry.source);
}

void WindowCommands::playStation(const HistoryEntry& entry) {
    selectStation(entry);
    application_.player().play();
}

}  // namespace korvanel
