#pragma once

#include <optional>
#include <string>

namespace korvanel {

// Holds SDL's audio subsystem open and numbers its playback devices the way
// the library does: 1 is the system's default output, 2, 3, ... are SDL's
// enumerated devices. SDL_AUDIODRIVER is read when the first holder starts.
class SdlAudioSystem {
public:
    SdlAudioSystem();
    ~SdlAudioSystem();
    SdlAudioSystem(const SdlAudioSystem&) = delete;
    SdlAudioSystem& operator=(const SdlAudioSystem&) = delete;

    bool ready() const { return ready_; }
    // Highest device number (1 when only the default exists, 0 without SDL).
    int deviceCount() const;
    std::optional<std::string> description(int device) const;
    // What SDL_OpenAudioDevice wants: nothing for the default device.
    std::optional<std::string> sdlName(int device) const;

private:
    bool ready_ = false;
};

}  // namespace korvanel
