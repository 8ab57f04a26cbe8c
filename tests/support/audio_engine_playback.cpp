#include "tests/support/audio_engine_playback.h"

namespace korvanel::test {

EnginePlayback::EnginePlayback(const std::string& cardFile, bool realTime)
    : driver_("SDL_AUDIODRIVER", "disk"),
      file_("SDL_DISKAUDIOFILE", cardFile),
      delay_("SDL_DISKAUDIODELAY", realTime ? "" : "0") {
    if (realTime) {
        ::unsetenv("SDL_DISKAUDIODELAY");  // SDL paces the disk "card" in real time
    }
}

EnginePlayback::~EnginePlayback() { close(); }

void EnginePlayback::close() {
    output_.free();
    decoding_.free();
}

void EnginePlayback::setSyncs(AudioStream& stream, From from, bool metadata) {
    for (const std::uint32_t type : {audio::kSyncEnd, audio::kSyncStall, audio::kSyncMeta}) {
        if (type == audio::kSyncMeta && !metadata) {
            continue;
        }
        stream.setLifelongSync(type, 0, [this, from, type](const SyncEvent& event) {
            std::lock_guard<std::mutex> guard(lock_);
            events_.push_back(Event{from, type, event.data, event.texts});
            changed_.notify_all();
        });
    }
}

AudioError EnginePlayback::open(const std::string& url) {
    engine_.init(audio::kNoSoundDevice, audio::kOutputFrequency);
    engine_.setDevice(audio::kNoSoundDevice);
    AudioResult<AudioStream> opened = engine_.openUrl(
        url, 0, audio::kStreamDecode | audio::kStreamMeta,
        [this](std::span<const std::uint8_t> data, bool finished) {
            std::lock_guard<std::mutex> guard(lock_);
            downloaded_ += data.size();
            downloadFinished_ = downloadFinished_ || finished;
            changed_.notify_all();
        });
    if (!opened) {
        return opened.error().kind;
    }
    decoding_ = std::move(opened).value();
    setSyncs(decoding_, From::Decoding, true);
    return AudioError::Ok;
}

AudioError EnginePlayback::openWindowsMedia(const std::string& address) {
    engine_.init(audio::kNoSoundDevice, audio::kOutputFrequency);
    engine_.setDevice(audio::kNoSoundDevice);
    AudioResult<AudioStream> opened =
        engine_.openWindowsMedia(address, audio::kStreamDecode | audio::kStreamAutoFree);
    if (!opened) {
        return opened.error().kind;
    }
    decoding_ = std::move(opened).value();
    setSyncs(decoding_, From::Decoding, true);
    return AudioError::Ok;
}

bool EnginePlayback::play(int volume) {
    const AudioResult<ChannelInfo> info = decoding_.info();
    if (!info) {
        return false;
    }
    engine_.init(audio::kDefaultDevice, audio::kOutputFrequency);
    engine_.setDevice(audio::kDefaultDevice);
    AudioResult<AudioStream> made = engine_.openOutput(
        static_cast<int>(info->frequency), static_cast<int>(info->channels), audio::kStreamAutoFree,
        [this](std::span<std::uint8_t> buffer) -> std::uint32_t {
            const AudioResult<std::uint32_t> count = decoding_.read(buffer);
            if (!count || decoding_.activity() == ActiveState::Stopped) {
                return count.value_or(0u) | audio::kSampleEnd;
            }
            return *count;
        });
    if (!made) {
        return false;
    }
    output_ = std::move(made).value();
    setSyncs(output_, From::Output, false);
    return output_.setVolume(volume) && output_.play();
}

std::vector<EnginePlayback::Event> EnginePlayback::events() const {
    std::lock_guard<std::mutex> guard(lock_);
    return events_;
}

std::size_t EnginePlayback::downloadedBytes() const {
    std::lock_guard<std::mutex> guard(lock_);
    return downloaded_;
}

bool EnginePlayback::downloadFinished() const {
    std::lock_guard<std::mutex> guard(lock_);
    return downloadFinished_;
}

bool EnginePlayback::waitFor(const std::function<bool(const std::vector<Event>&)>& done,
                             std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> lock(lock_);
    return changed_.wait_for(lock, bound, [&] { return done(events_); });
}

bool EnginePlayback::waitForEvent(From stream, std::uint32_t type,
                                  std::chrono::milliseconds bound) {
    return waitFor(
        [&](const std::vector<Event>& events) {
            for (const Event& event : events) {
                if (event.stream == stream && event.type == type) {
                    return true;
                }
            }
            return false;
        },
        bound);
}

}  // namespace korvanel::test
