#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "player/player.h"

namespace korvanel {

class Application;

// Everything the main window shows, read from the core in one go, so the
// window only puts it on screen. Texts are shown as they are: an "&" in a
// station name is an ampersand, never a mnemonic.
struct DisplayState {
    Player::State playerState = Player::State::Idle;

    bool playEnabled = true;
    bool stopEnabled = false;
    bool muteEnabled = true;
    bool previousEnabled = false;
    bool nextEnabled = false;
    bool recordEnabled = true;
    std::string recordCaption;  // "Main/Buttons/RecOn" or "RecOff"
    std::string muteCaption;    // "Main/Buttons/MuteOn" or "MuteOff"

    std::string stationName;
    std::string stationUrl;
    std::string stateLine;  // the state, or the track while a stream plays
    std::string description;
    // The window title and tray tooltip; none while a stop is under way,
    // when they keep what they showed.
    std::optional<std::string> windowTitle;

    std::string statusState;                 // the status bar's state
    std::optional<std::string> statusTimes;  // its play times, only while playing
};

// Reads the display from the player, the resolver, the recorder, the stream
// information and the language texts. Any thread may call it; the window
// calls it on the GUI thread.
class DisplayModel {
public:
    static constexpr const char* kHomePage = "https://korvanel.example/";

    explicit DisplayModel(Application& application);

    // connectStartMs: when the current stream started playing (steady clock).
    DisplayState read(std::int64_t connectStartMs, std::int64_t nowMs) const;

    std::string stationNameText() const;
    std::string stationUrlText() const;
    std::string trackText() const;
    std::string descriptionText() const;
    // The buffer fill as "42%" while the player reports one, else the time
    // since the stream started, "mm:ss" with minutes not wrapped at 60.
    std::string timeText(std::int64_t connectStartMs, std::int64_t nowMs) const;
    // The time since the last title change, "mm:ss".
    std::string trackTimeText(std::int64_t nowMs) const;
    // "General/IRCString" with its tokens (%title%, %url%, %track%,
    // %source%, %version%, %time%, %tracktime%) filled in.
    std::string messengerText(std::int64_t connectStartMs, std::int64_t nowMs) const;

    static std::string minutesAndSeconds(std::int64_t milliseconds);
    static std::int64_t steadyNowMs();

private:
    std::string text(const char* key) const;

    Application& application_;
};

}  // namespace korvanel
