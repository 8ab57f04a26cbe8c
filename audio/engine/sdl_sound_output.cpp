#include "audio/engine/sdl_sound_output.h"

#include <atomic>

#include "audio/engine/sdl_functions.h"

namespace korvanel {
namespace {

// About 10 ms per callback, as a power of two that SDL likes.
Uint16 callbackFrames(int frequency) {
    Uint16 frames = 256;
    while (frames < 4096 && frames * 100 < frequency) {
        frames = static_cast<Uint16>(frames * 2);
    }
    return frames;
}

// One SDL playback device, paused until started.
class SdlPlaybackStream final : public PlaybackStream {
public:
    SdlPlaybackStream(const SdlFunctions& sdl, PlaybackSource& source) : sdl_(sdl), source_(source) {}
    // Closing waits for a callback in progress.
    ~SdlPlaybackStream() override {
        if (device_ != 0) {
            sdl_.SDL_CloseAudioDevice(device_);
        }
    }
    SdlPlaybackStream(const SdlPlaybackStream&) = delete;
    SdlPlaybackStream& operator=(const SdlPlaybackStream&) = delete;

    bool open(const char* name, const PlaybackFormat& format) {
        SDL_AudioSpec wanted{};
        wanted.freq = format.frequency;
        wanted.format = AUDIO_S16SYS;
        wanted.channels = static_cast<Uint8>(format.channels);
        wanted.samples = callbackFrames(format.frequency);
        wanted.callback = &SdlPlaybackStream::fillTrampoline;
        wanted.userdata = this;
        SDL_AudioSpec obtained{};
        // No changes allowed: SDL converts to whatever the card wants.
        device_ = sdl_.SDL_OpenAudioDevice(name, 0, &wanted, &obtained, 0);
        return device_ != 0;
    }

    void start() override { sdl_.SDL_PauseAudioDevice(device_, 0); }
    // Pausing takes the device's lock: no callback runs once it returns.
    void halt() override { sdl_.SDL_PauseAudioDevice(device_, 1); }
    bool runsOn(std::thread::id thread) const override { return callbackThread_.load() == thread; }

private:
    static void fillTrampoline(void* self, std::uint8_t* stream, int length) {
        auto* me = static_cast<SdlPlaybackStream*>(self);
        me->callbackThread_.store(std::this_thread::get_id());
        me->source_.fill(std::span(stream, static_cast<std::size_t>(length)));
    }

    const SdlFunctions& sdl_;
    PlaybackSource& source_;
    SDL_AudioDeviceID device_ = 0;
    std::atomic<std::thread::id> callbackThread_{};
};

}  // namespace

SdlSoundOutput::SdlSoundOutput(const std::string& libraryName)
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

SdlSoundOutput::~SdlSoundOutput() {
    if (ready_) {
        functions_->SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
}

std::string SdlSoundOutput::name() const {
    const char* driver = ready_ ? functions_->SDL_GetCurrentAudioDriver() : nullptr;
    return std::string("SDL: ") + (driver != nullptr ? driver : "not available");
}

int SdlSoundOutput::deviceCount() const {
    if (!ready_) {
        return 0;
    }
    const int enumerated = functions_->SDL_GetNumAudioDevices(0);
    return 1 + (enumerated > 0 ? enumerated : 0);
}

std::optional<std::string> SdlSoundOutput::description(int device) const {
    if (!ready_ || device < 1 || device > deviceCount()) {
        return std::nullopt;
    }
    if (device == 1) {
        return std::string("Default output");
    }
    const char* name = functions_->SDL_GetAudioDeviceName(device - 2, 0);
    return name != nullptr ? std::optional<std::string>(name) : std::nullopt;
}

SoundOutput::Opened SdlSoundOutput::open(int device, const PlaybackFormat& format, PlaybackSource& source) {
    if (!ready_) {
        return {nullptr, "SDL: not available"};
    }
    // SDL wants no name for the default device.
    const std::optional<std::string> sdlName = device > 1 ? description(device) : std::nullopt;
    if (device > 1 && !sdlName) {
        return {nullptr, "SDL: there is no device " + std::to_string(device)};
    }
    auto stream = std::make_unique<SdlPlaybackStream>(*functions_, source);
    if (!stream->open(sdlName ? sdlName->c_str() : nullptr, format)) {
        return {nullptr, "SDL: the sound card would not open"};
    }
    return {std::move(stream), {}};
}

}  // namespace korvanel
