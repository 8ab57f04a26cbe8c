#include "audio/engine/sound_output_choice.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "audio/engine/file_sound_output.h"
#include "audio/engine/pulse_sound_output.h"
#include "audio/engine/sdl_sound_output.h"
#include "base/product.h"

namespace korvanel {

SoundOutputKind requestedSoundOutput(const char* korvanelAudio, const char* sdlAudioDriver) {
    const std::string_view forced = korvanelAudio != nullptr ? korvanelAudio : "";
    if (forced == "pulse") {
        return SoundOutputKind::SoundServer;
    }
    if (forced == "sdl") {
        return SoundOutputKind::Sdl;
    }
    if (forced == "file") {
        return SoundOutputKind::File;
    }
    if (sdlAudioDriver != nullptr && *sdlAudioDriver != '\0') {
        return SoundOutputKind::Sdl;
    }
    return SoundOutputKind::Automatic;
}

std::unique_ptr<SoundOutput> chooseSoundOutput(const SoundOutputLibraries& libraries) {
    const SoundOutputKind kind = requestedSoundOutput(std::getenv("KORVANEL_AUDIO"), std::getenv("SDL_AUDIODRIVER"));
    if (kind == SoundOutputKind::File) {
        const char* path = std::getenv("KORVANEL_AUDIO_FILE");
        if (path == nullptr || *path == '\0') {
            return std::make_unique<FileSoundOutput>(stdout);
        }
        return std::make_unique<FileSoundOutput>(FileSoundOutput::OwnedFile(std::fopen(path, "wb")));
    }
    if (kind == SoundOutputKind::SoundServer || kind == SoundOutputKind::Automatic) {
        auto server = std::make_unique<PulseSoundOutput>(libraries.pulse, product::kName);
        if (server->ready() || kind == SoundOutputKind::SoundServer) {
            return server;
        }
    }
    return std::make_unique<SdlSoundOutput>(libraries.sdl);
}

}  // namespace korvanel
