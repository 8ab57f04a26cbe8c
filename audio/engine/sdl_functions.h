#pragma once

#include <SDL.h>

namespace korvanel {

// The SDL functions the engine calls; SDL is loaded when the first sound card
// is asked for (see SdlSoundOutput), so a program that only decodes never
// loads it. Members have the names and types of SDL's declarations.
#define KORVANEL_SDL_FUNCTIONS(X)                                                           \
    X(SDL_InitSubSystem) X(SDL_QuitSubSystem) X(SDL_GetNumAudioDevices)                   \
    X(SDL_GetAudioDeviceName) X(SDL_OpenAudioDevice) X(SDL_PauseAudioDevice) X(SDL_CloseAudioDevice)  \
    X(SDL_GetCurrentAudioDriver)

struct SdlFunctions {
#define KORVANEL_SDL_MEMBER(name) decltype(&::name) name = nullptr;
    KORVANEL_SDL_FUNCTIONS(KORVANEL_SDL_MEMBER)
#undef KORVANEL_SDL_MEMBER
};

}  // namespace korvanel
