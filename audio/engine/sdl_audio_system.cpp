#include "audio/engine/sdl_audio_system.h"

#include "audio/audio_library.h"
#include "audio/engine/sdl_functions.h"

namespace korvanel {

SdlAudioSystem::SdlAudioSystem(const std::string& libraryName)
    : library_(SharedLibrary::open(libraryName)), functions_(std::make_unique<SdlFunctions>()) {
    if (!library_) {
        return;
    }
    SdlFunctions& f = *functions_;
    bool complete = true;
#define KORVANEL_RESOLVE_SDL(name) complete = library_->resolve(#name, f.name) && complete;
    KORVANEL_SDL_FUNCTIONS(KORVANEL_RESOLVE_SDL)
#undef KORVANEL_RESOLVE_SDL
    ready_ = complete && f.SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
}

SdlAudioSystem::~SdlAudioSystem() {
    if (ready_) {
        functions_->SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
}

int SdlAudioSystem::deviceCount() const {
    if (!ready_) {
        return 0;
    }
    const int enumerated = functions_->SDL_GetNumAudioDevices(0);
    return audio::kDefaultDevice + (enumerated > 0 ? enumerated : 0);
}

std::optional<std::string> SdlAudioSystem::description(int device) const {
    if (!ready_ || device < audio::kDefaultDevice || device > deviceCount()) {
        return std::nullopt;
    }
    if (device == audio::kDefaultDevice) {
        return std::string("Default output");
    }
    const char* name = functions_->SDL_GetAudioDeviceName(device - audio::kDefaultDevice - 1, 0);
    return name != nullptr ? std::optional<std::string>(name) : std::nullopt;
}

std::optional<std::string> SdlAudioSystem::sdlName(int device) const {
    if (device <= audio::kDefaultDevice) {
        return std::nullopt;
    }
    return description(device);
}

}  // namespace korvanel
