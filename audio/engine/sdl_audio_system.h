#pragma once

#include <memory>
#include <optional>
#include <string>

#include "base/shared_library.h"

namespace korvanel {

struct SdlFunctions;

// Loads SDL and holds its audio subsystem open, and numbers its playback
// devices the way the library does: 1 is the system's default output, 2,
// 3, ... are SDL's enumerated devices. SDL_AUDIODRIVER is read when the
// first holder starts.
class SdlAudioSystem {
public:
    // libraryName: SDL's file name (a soname).
    explicit SdlAudioSystem(const std::string& libraryName);
    ~SdlAudioSystem();
    SdlAudioSystem(const SdlAudioSystem&) = delete;
    SdlAudioSystem& operator=(const SdlAudioSystem&) = delete;

    // False when SDL is missing or its audio would not start.
    bool ready() const { return ready_; }
    // Valid while this holder lives, once ready.
    const SdlFunctions& functions() const { return *functions_; }
    // Highest device number (1 when only the default exists, 0 without SDL).
    int deviceCount() const;
    std::optional<std::string> description(int device) const;
    // What SDL_OpenAudioDevice wants: nothing for the default device.
    std::optional<std::string> sdlName(int device) const;

private:
    std::optional<SharedLibrary> library_;
    std::unique_ptr<SdlFunctions> functions_;
    bool ready_ = false;
};

}  // namespace korvanel
