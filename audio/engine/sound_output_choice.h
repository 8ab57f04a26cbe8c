#pragma once

#include <memory>
#include <string>

#include "audio/engine/sound_output.h"

namespace korvanel {

// Which output the engine plays through. KORVANEL_AUDIO=pulse|sdl|file forces
// one (tests, bug reports; file writes to KORVANEL_AUDIO_FILE, or standard
// output); an SDL_AUDIODRIVER asks for SDL; otherwise the desktop's sound
// server where one answers, else SDL.
enum class SoundOutputKind { Automatic, SoundServer, Sdl, File };

// The kind asked for by those two variables' values (null: unset).
SoundOutputKind requestedSoundOutput(const char* korvanelAudio, const char* sdlAudioDriver);

struct SoundOutputLibraries {
    std::string pulse;
    std::string sdl;
};

// Makes the output asked for by the environment; never null (an output
// that cannot play has no devices).
std::unique_ptr<SoundOutput> chooseSoundOutput(const SoundOutputLibraries& libraries);

}  // namespace korvanel
