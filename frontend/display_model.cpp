#include "frontend/display_model.h"

#include <chrono>
#include <cstdio>

#include "app/application.h"
#include "base/product.h"
#include "settings/language_texts.h"
#include "frontend/messenger_string.h"

namespace korvanel {

DisplayModel::DisplayModel(Application& application) : application_(application) {}

std::string DisplayModel::text(const char* key) const { return application_.language().getString(key); }

std::int64_t DisplayModel::steadyNowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string DisplayModel::minutesAndSeconds(std::int64_t milliseconds) {
    const std::int64_t seconds = milliseconds > 0 ? milliseconds / 1000 : 0;
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%02lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
    return buffer;
}

std::string DisplayModel::stationNameText() const {
    std::string name = application_.streamInfo()->stationName();
    return name.empty() ? std::string(product::kName) + " " + product::kVersion : name;
}

std::string DisplayModel::stationUrlText() const {
    std::string url = application_.streamInfo()->stationUrl();
    return url.empty() ? kHomePage : url;
}

std::string DisplayModel::trackText() const {
    std::string title = application_.streamInfo()->title();
    return title.empty() ? text("Main/Text/NoTitle") : title;
}

std::string DisplayModel::descriptionText() const {
    std::string description = application_.streamInfo()->describe();
    return description.empty() ? text("Main/Text/UnknownType") : description;
}

std::string DisplayModel::timeText(std::int64_t connectStartMs, std::int64_t nowMs) const {
    const double fill = application_.player().progress();
    if (fill >= 0.0) {
        return std::to_string(static_cast<int>(fill + 0.5)) + "%";
    }
    return minutesAndSeconds(nowMs - connectStartMs);
}

std::string DisplayModel::trackTimeText(std::int64_t nowMs) const {
    return minutesAndSeconds(nowMs - application_.streamInfo()->lastChange());
}

std::string DisplayModel::messengerText(std::int64_t connectStartMs, std::int64_t nowMs) const {
    return expandTokens(application_.settings().getString("General/IRCString"),
                        {{"%title%", stationNameText()},
                         {"%url%", stationUrlText()},
                         {"%track%", trackText()},
                         {"%source%", application_.streamInfo()->source()},
                         {"%version%", std::string(product::kName) + " " + product::kVersion},
                         {"%time%", timeText(connectStartMs, nowMs)},
                         {"%tracktime%", trackTimeText(nowMs)}});
}

DisplayState DisplayModel::read(std::int64_t connectStartMs, std::int64_t nowMs) const {
    Player& player = application_.player();
    Recorder& recorder = application_.recorder();
    PlaylistResolver& resolver = application_.playlistResolver();
    DisplayState state;
    state.playerState = player.state();
    using State = Player::State;
    const State s = state.playerState;

    state.playEnabled = s == State::Idle;
    state.stopEnabled = s == State::Connecting || s == State::Buffering || s == State::Playing;
    state.muteEnabled = true;
    state.previousEnabled = resolver.hasPrevious();
    state.nextEnabled = resolver.hasNext();
    const bool streaming = s == State::Buffering || s == State::Playing;
    const bool recordSwitch = recorder.isRecording();
    if (streaming) {
        state.recordEnabled = recorder.isCapturing();
        state.recordCaption = text(recordSwitch && state.recordEnabled ? "Main/Buttons/RecOn" : "Main/Buttons/RecOff");
    } else {
        state.recordEnabled = true;
        state.recordCaption = text(recordSwitch ? "Main/Buttons/RecOn" : "Main/Buttons/RecOff");
    }
    state.muteCaption = text(player.isMuted() ? "Main/Buttons/MuteOn" : "Main/Buttons/MuteOff");

    state.description = descriptionText();
    state.stationName = stationNameText();
    state.stationUrl = stationUrlText();
    const std::string programTitle = std::string(product::kName) + " " + product::kVersion;
    switch (s) {
        case State::Idle:
            state.stateLine = text("Main/Text/NotPlaying");
            state.windowTitle = programTitle;
            break;
        case State::Connecting:
            state.stateLine = text("Main/Text/Connecting");
            state.windowTitle = programTitle;
            break;
        case State::StopRequested:
            state.stateLine = text("Main/Text/AbortingConnect");
            break;
        case State::Buffering:
        case State::Playing: {
            state.stateLine = trackText();
            const std::string title = application_.streamInfo()->title();
            state.windowTitle = title.empty() ? state.stationName : title;
            break;
        }
    }

    static constexpr const char* kStatusKeys[] = {"Main/Status/Idling", "Main/Status/Connecting",
                                                  "Main/Status/Aborting", "Main/Status/Buffering"};
    if (s == State::Playing) {
        state.statusState =
            " " + text(recorder.isRecording() && recorder.hasWriter() ? "Main/Status/Recording" : "Main/Status/Playing");
        state.statusTimes = " " + trackTimeText(nowMs) + " (" + timeText(connectStartMs, nowMs) + ")";
        if (const std::optional<double> gain = application_.leveller().gainDb()) {
            *state.statusTimes += "  " + formatText(text("Main/Status/Levelled"), {Leveller::gainText(*gain)});
        }
    } else {
        state.statusState = " " + text(kStatusKeys[static_cast<int>(s)]);
    }
    return state;
}

}  // namespace korvanel
