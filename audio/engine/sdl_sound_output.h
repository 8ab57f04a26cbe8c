#pragma once

#include <memory>
#include <optional>
#include <string>

#include "audio/engine/sound_output.h"
#include "base/shared_library.h"

namespace korvanel {

struct SdlFunctions;

// SDL2's audio, for machines without a sound server (and its disk driver in
// tests). Loads SDL and holds its audio subsystem open; each stream opens an
// SDL playback device of its own with periods of about 10 ms, so what the
// card holds when Stop is pressed plays out within that. SDL_AUDIODRIVER is
// read when the first holder starts.
class SdlSoundOutput final : public SoundOutput {
public:
    // libraryName: SDL's file name (a soname).
    explicit SdlSoundOutput(const std::string& libraryName);
    ~SdlSoundOutput() override;
    SdlSoundOutput(const SdlSoundOutput&) = delete;
    SdlSoundOutput& operator=(const SdlSoundOutput&) = delete;

    // False when SDL is missing or its audio would not start.
    bool ready() const { return ready_; }

    std::string name() const override;
    // 0 without SDL.
    int deviceCount() const override;
    std::optional<std::string> description(int device) const override;
    Opened open(int device, const PlaybackFormat& format, PlaybackSource& source) override;

private:
    std::optional<SharedLibrary> library_;
    std::unique_ptr<SdlFunctions> functions_;
    bool ready_ = false;
};

}  // namespace korvanel
