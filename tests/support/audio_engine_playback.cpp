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
    if (output_) {
        engine_.streamFree(output_);
        output_ = {};
    }
    if (decoding_) {
        engine_.streamFree(decoding_);
        decoding_ = {};
    }
}

void EnginePlayback::setSyncs(StreamHandle stream, bool metadata) {
    for (const std::uint32_t type : {audio::kSyncEnd, audio::kSyncStall, audio::kSyncMeta}) {
        if (type == audio::kSyncMeta && !metadata) {
            continue;
        }
        engine_.channelSetSync(stream, type, 0, [this, type](const SyncEvent& event) {
            std::lock_guard<std::mutex> guard(lock_);
            events_.push_back(Event{event.stream.id, type, event.data, event.texts});
            changed_.notify_all();
        });
    }
}

AudioError EnginePlayback::open(const std::string& url) {
    engine_.init(audio::kNoSoundDevice, audio::kOutputFrequency);
    engine_.setDevice(audio::kNoSoundDevice);
    const AudioResult<StreamHandle> opened = engine_.streamCreateUrl(
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
    decoding_ = *opened;
    setSyncs(decoding_, true);
    return AudioError::Ok;
}

AudioError EnginePlayback::openWindowsMedia(const std::string& address) {
    engine_.init(audio::kNoSoundDevice, audio::kOutputFrequency);
    engine_.setDevice(audio::kNoSoundDevice);
    const AudioResult<StreamHandle> opened =
        engine_.wmaStreamCreateFile(address, audio::kStreamDecode | audio::kStreamAutoFree);
    if (!opened) {
        return opened.error().kind;
    }
    decoding_ = *opened;
    setSyncs(decoding_, true);
    return AudioError::Ok;
}

bool EnginePlayback::play(int volume) {
    const AudioResult<ChannelInfo> info = engine_.channelGetInfo(decoding_);
    if (!info) {
        return false;
    }
    engine_.init(audio::kDefaultDevice, audio::kOutputFrequency);
    engine_.setDevice(audio::kDefaultDevice);
    const StreamHandle decoding = decoding_;
    output_ = engine_.streamCreate(
        static_cast<int>(info->frequency), static_cast<int>(info->channels), audio::kStreamAutoFree,
        [this, decoding](std::span<std::uint8_t> buffer) -> std::uint32_t {
            const AudioResult<std::uint32_t> count = engine_.channelGetData(decoding, buffer);
            if (!count || engine_.channelIsActive(decoding) == ActiveState::Stopped) {
                return count.value_or(0u) | audio::kSampleEnd;
            }
            return *count;
        }).value_or(StreamHandle{});
    if (!output_) {
        return false;
    }
    setSyncs(output_, false);
    return engine_.channelSetAttributes(output_, audio::kFrequencyUnchanged, volume, audio::kPanUnchanged) &&
           engine_.channelPlay(output_, false);
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

bool EnginePlayback::waitForEvent(std::uint32_t stream, std::uint32_t type,
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
