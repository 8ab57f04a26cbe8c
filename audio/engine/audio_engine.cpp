#include "audio/engine/audio_engine.h"

#include <algorithm>

#include "audio/engine/decoding_stream.h"
#include "audio/engine/output_stream.h"
#include "audio/engine/file_sound_output.h"
#include "audio/engine/sound_output_choice.h"
#include "audio/engine/stream_callbacks.h"

namespace korvanel {
namespace {

constexpr int kMaxChannels = 8;

}  // namespace

StreamCallbacks& AudioEngine::Entry::callbacks() const {
    return decoding ? decoding->callbacks() : output->callbacks();
}

bool AudioEngine::Entry::autoFree() const {
    const std::uint32_t flags = decoding ? decoding->flags() : output->flags();
    return (flags & audio::kStreamAutoFree) != 0;
}

bool AudioEngine::Entry::runsOn(std::thread::id thread) const {
    return decoding ? decoding->runsOn(thread) : output->runsOn(thread);
}

AudioEngine::AudioEngine() : AudioEngine(Libraries{}) {}

AudioEngine::AudioEngine(Libraries libraries) : AudioEngine(std::move(libraries), nullptr) {}

AudioEngine::AudioEngine(Libraries libraries, std::FILE* pcmFile)
    : ffmpeg_(libraries.ffmpeg),
      libraries_(std::move(libraries)),
      pcmFile_(pcmFile != nullptr ? std::make_shared<FileSoundOutput>(pcmFile) : nullptr) {}

AudioEngine::~AudioEngine() {
    std::map<std::uint32_t, Entry> streams;
    {
        std::lock_guard<std::mutex> guard(lock_);
        streams.swap(streams_);
    }
    for (auto& [id, entry] : streams) {
        entry.callbacks().close();
    }
    // Sound cards first: their callbacks pull from the decoding streams.
    for (auto& [id, entry] : streams) {
        entry.output.reset();
    }
    streams.clear();
    dispatcher_.drain();
}

void AudioEngine::waitForNotifications() { dispatcher_.drain(); }

const std::shared_ptr<SoundOutput>& AudioEngine::soundOutputLocked() {
    // Streams still on a lost server keep it until they go.
    if (output_ && !output_->usable()) {
        output_.reset();
    }
    if (!output_) {
        output_ = chooseSoundOutput(SoundOutputLibraries{libraries_.pulse, libraries_.sdl});
        output_->setBufferMs(static_cast<int>(streamConfig_.serverBufferMs));
    }
    return output_;
}

std::optional<AudioEngine::Route> AudioEngine::routeLocked(int device) {
    if (device == audio::kFileDevice && pcmFile_) {
        return Route{pcmFile_, 1};
    }
    if (device < audio::kDefaultDevice) {
        return std::nullopt;
    }
    const std::shared_ptr<SoundOutput>& output = soundOutputLocked();
    if (device > output->deviceCount()) {
        return std::nullopt;
    }
    return Route{output, device};
}

std::optional<AudioEngine::Entry> AudioEngine::find(StreamId stream) const {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = streams_.find(stream.id);
    if (it == streams_.end()) {
        return std::nullopt;
    }
    return it->second;
}

bool AudioEngine::onEngineThread() const {
    const std::thread::id self = std::this_thread::get_id();
    if (dispatcher_.onDispatcherThread()) {
        return true;
    }
    std::lock_guard<std::mutex> guard(lock_);
    return std::any_of(streams_.begin(), streams_.end(),
                       [&](const auto& item) { return item.second.runsOn(self); });
}

// --- streams ---

AudioResult<StreamId> AudioEngine::streamCreate(int frequency, int channels, std::uint32_t flags,
                                       SampleCallback samples) {
    if (frequency <= 0 || frequency > kMaxFrequency) {
        return audioFailure(AudioError::Frequency);
    }
    if (channels < 1 || channels > kMaxChannels || (flags & audio::kStreamDecode) != 0) {
        return audioFailure(AudioError::IllegalParameter);
    }
    int device = 0;
    int deviceVolume = 100;
    std::optional<Route> route;
    StreamId handle;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto found = devices_.find(selected_);
        if (found != devices_.end()) {
            device = selected_;
            deviceVolume = found->second.volume;
            if (device != audio::kNoSoundDevice) {
                route = routeLocked(device);
            }
            handle = StreamId{nextId_++};
        }
    }
    if (!handle) {
        return audioFailure(AudioError::Init);
    }
    auto output = std::make_shared<OutputStream>(
        device, frequency, channels, flags, std::move(samples),
        [this, handle](OutputStream::Event event) {
            switch (event) {
                case OutputStream::Event::Ended: deliver(handle, audio::kSyncEnd, 0); break;
                case OutputStream::Event::Stalled:
                    deliver(handle, audio::kSyncStall, audio::kStallData);
                    break;
                case OutputStream::Event::Resumed:
                    deliver(handle, audio::kSyncStall, audio::kResumeData);
                    break;
            }
        });
    output->setDeviceVolume(deviceVolume);
    if (route && !dispatcher_.onDispatcherThread()) {
        std::unique_lock<std::mutex> lock(lock_);
        cardsReleased_.wait_for(lock, std::chrono::seconds(2),
                                [this] { return releasingCards_ == 0 || opensCancelled_; });
        if (releasingCards_ > 0 && opensCancelled_) {
            lock.unlock();
            return audioFailure(AudioError::Start);
        }
    }
    // A sound card was initialised only where an output has it.
    if (device != audio::kNoSoundDevice && !route) {
        return audioFailure(AudioError::Driver);
    }
    if (std::string failure = output->open(route ? route->output : nullptr, route ? route->device : 0);
        !failure.empty()) {
        return audioFailure(AudioError::Driver, std::move(failure));
    }
    bool stillThere = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        stillThere = devices_.count(device) == 1;  // not freed meanwhile
        if (stillThere) {
            streams_[handle.id] = Entry{nullptr, std::move(output)};
        }
    }
    if (!stillThere) {
        return audioFailure(AudioError::Init);
    }
    return handle;
}

AudioResult<StreamId> AudioEngine::createDecoding(std::uint32_t flags, const std::string& address,
                                         bool windowsMedia, DownloadCallback download) {
    if ((flags & audio::kStreamDecode) == 0) {
        return audioFailure(AudioError::IllegalParameter);
    }
    StreamId handle;
    StreamConfig config;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (devices_.count(selected_) == 1) {
            handle = StreamId{nextId_++};
            config = streamConfig_;
        }
    }
    if (!handle) {
        return audioFailure(AudioError::Init);
    }
    auto stream = std::make_shared<DecodingStream>(
        ffmpeg_, tls_, flags, config.bufferMs,
        [this, handle](std::uint32_t syncType, std::uint32_t data) { deliver(handle, syncType, data); });
    stream->setHlsBandwidth(config.hlsBandwidth);
    bool cancelled = false;
    {
        // Checked under the lock that registers the open, so a cancel either
        // finds this open or stops it here.
        std::lock_guard<std::mutex> guard(lock_);
        cancelled = opensCancelled_;
        if (!cancelled) {
            opening_[handle.id] = stream;
        }
    }
    if (cancelled) {
        return audioFailure(AudioError::Unknown);
    }
    const AudioResult<void> opened = windowsMedia ? stream->openWindowsMedia(address)
                                                  : stream->openUrl(address, std::move(download));
    {
        std::lock_guard<std::mutex> guard(lock_);
        opening_.erase(handle.id);
    }
    if (!opened) {
        stream->callbacks().close();
        stream.reset();  // joins its threads
        return audioFailure(opened.error().kind, opened.error().detail);
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        streams_[handle.id] = Entry{std::move(stream), nullptr};
    }
    return handle;
}

AudioResult<StreamId> AudioEngine::streamCreateUrl(const std::string& url, std::uint32_t /*offset*/,
                                          std::uint32_t flags, DownloadCallback download) {
    return createDecoding(flags, url, false, std::move(download));
}

AudioResult<StreamId> AudioEngine::wmaStreamCreateFile(const std::string& address, std::uint32_t flags) {
    // libavformat would open any protocol it knows (files included); only
    // the network schemes of the Windows Media route get through.
    static constexpr const char* kSchemes[] = {"mms://", "mmsh://", "mmst://", "rtsp://",
                                               "http://", "https://"};
    const bool allowed = std::any_of(std::begin(kSchemes), std::end(kSchemes), [&](const char* scheme) {
        return address.rfind(scheme, 0) == 0;
    });
    if (!allowed) {
        return audioFailure(AudioError::FileOpen);
    }
    return createDecoding(flags, address, true, nullptr);
}

bool AudioEngine::windowsMediaAvailable() const { return true; }

void AudioEngine::cancelOpens() {
    std::vector<std::shared_ptr<DecodingStream>> cancelled;
    {
        std::lock_guard<std::mutex> guard(lock_);
        opensCancelled_ = true;
        cardsReleased_.notify_all();  // a new card waiting for an old one's release gives up
        for (const auto& [id, stream] : opening_) {
            cancelled.push_back(stream);
        }
    }
    for (const auto& stream : cancelled) {
        stream->abortOpen();
    }
}

void AudioEngine::allowOpens() {
    std::lock_guard<std::mutex> guard(lock_);
    opensCancelled_ = false;
}

bool AudioEngine::remove(StreamId stream) {
    Entry entry;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = streams_.find(stream.id);
        if (it == streams_.end()) {
            return false;
        }
        entry = std::move(it->second);
        streams_.erase(it);
        if (entry.output && !dispatcher_.onDispatcherThread()) {
            ++releasingCards_;
        }
        for (auto& [number, device] : devices_) {
            std::erase(device.paused, stream.id);
        }
    }
    entry.callbacks().close();
    const bool insideEngine = entry.runsOn(std::this_thread::get_id()) || onEngineThread();
    // Joining our own thread, or closing a card from its own callback, would never
    // return; a close waits out a period the paused card no longer needs: the dispatcher does both.
    if ((insideEngine || entry.output) && !dispatcher_.onDispatcherThread()) {
        const bool card = entry.output != nullptr;
        if (card && !insideEngine) {
            // Paused, it calls back for no more samples once this returns.
            entry.output->stop();
        }
        dispatcher_.post([this, card, doomed = std::move(entry)]() mutable {
            doomed = Entry{};
            if (card) {
                std::lock_guard<std::mutex> guard(lock_);
                --releasingCards_;
                cardsReleased_.notify_all();
            }
        });
    }
    return true;
}

AudioResult<void> AudioEngine::streamFree(StreamId stream) {
    return succeededOr(remove(stream), AudioError::Handle);
}

void AudioEngine::deliver(StreamId stream, std::uint32_t syncType, std::uint32_t data) {
    dispatcher_.post([this, stream, syncType, data] {
        std::optional<Entry> entry = find(stream);
        if (!entry) {
            return;
        }
        entry->callbacks().fire(syncType, data);
        if (syncType == audio::kSyncEnd && entry->autoFree()) {
            entry.reset();
            remove(stream);
        }
    });
}

std::optional<std::vector<std::string>> AudioEngine::streamGetTags(StreamId stream,
                                                                   std::uint32_t type) {
    std::optional<Entry> entry = find(stream);
    if (!entry || !entry->decoding) {
        return std::nullopt;
    }
    return entry->decoding->tags(type);
}

std::int64_t AudioEngine::streamGetLength(StreamId stream) {
    std::optional<Entry> entry = find(stream);
    return entry && entry->decoding ? entry->decoding->length() : audio::kUnknownLength;
}

// --- channels ---

AudioResult<void> AudioEngine::channelPlay(StreamId stream, bool /*restart*/) {
    std::optional<Entry> entry = find(stream);
    if (!entry) {
        return audioFailure(AudioError::Handle);
    }
    if (entry->decoding) {
        return audioFailure(AudioError::Decode);
    }
    bool stopped = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto device = devices_.find(entry->output->device());
        stopped = device == devices_.end() || device->second.stopped;
    }
    if (stopped) {
        return audioFailure(AudioError::Start);
    }
    return succeededOr(entry->output->play(), AudioError::Unknown);
}

AudioResult<void> AudioEngine::channelStop(StreamId stream) {
    std::optional<Entry> entry = find(stream);
    if (!entry) {
        return audioFailure(AudioError::Handle);
    }
    if (entry->output) {
        entry->output->stop();
    }
    return {};
}

AudioResult<SyncId> AudioEngine::channelSetSync(StreamId stream, std::uint32_t type,
                                       std::uint64_t /*param*/, SyncCallback callback) {
    std::optional<Entry> entry = find(stream);
    if (!entry) {
        return audioFailure(AudioError::Handle);
    }
    const bool supported = type == audio::kSyncEnd || type == audio::kSyncStall ||
                           ((type == audio::kSyncMeta || type == audio::kSyncMetaPlaced) && entry->decoding);
    if (!supported || !callback) {
        return audioFailure(AudioError::IllegalType);
    }
    SyncId handle;
    {
        std::lock_guard<std::mutex> guard(lock_);
        handle = SyncId{nextId_++};
    }
    entry->callbacks().addSync(handle, type, std::move(callback));
    return handle;
}

AudioResult<void> AudioEngine::channelRemoveSync(StreamId stream, SyncId sync) {
    std::optional<Entry> entry = find(stream);
    if (!entry) {
        return audioFailure(AudioError::Handle);
    }
    return succeededOr(entry->callbacks().removeSync(sync), AudioError::Handle);
}

std::uint32_t AudioEngine::channelGetLevel(StreamId stream) {
    std::optional<Entry> entry = find(stream);
    return entry && entry->output ? entry->output->level() : audio::kLevelError;
}

ActiveState AudioEngine::channelIsActive(StreamId stream) {
    std::optional<Entry> entry = find(stream);
    if (!entry) {
        return ActiveState::Stopped;
    }
    return entry->decoding ? entry->decoding->isActive() : entry->output->isActive();
}

AudioResult<ChannelInfo> AudioEngine::channelGetInfo(StreamId stream) {
    std::optional<Entry> entry = find(stream);
    if (!entry) {
        return audioFailure(AudioError::Handle);
    }
    return entry->decoding ? entry->decoding->info() : entry->output->info();
}

AudioResult<void> AudioEngine::channelSetAttributes(StreamId stream, int /*frequency*/, int volume,
                                       int /*pan*/) {
    std::optional<Entry> entry = find(stream);
    if (!entry) {
        return audioFailure(AudioError::Handle);
    }
    if (volume != audio::kVolumeUnchanged && (volume < 0 || volume > 100)) {
        return audioFailure(AudioError::IllegalParameter);
    }
    if (entry->output && volume != audio::kVolumeUnchanged) {
        entry->output->setVolume(volume);
    }
    return {};
}

std::optional<ChannelAttributes> AudioEngine::channelGetAttributes(StreamId stream) {
    std::optional<Entry> entry = find(stream);
    if (!entry) {
        return std::nullopt;
    }
    if (entry->decoding) {
        return ChannelAttributes{static_cast<int>(entry->decoding->info().frequency), 100, 0};
    }
    return ChannelAttributes{static_cast<int>(entry->output->info().frequency),
                             entry->output->volume(), 0};
}

AudioResult<std::uint32_t> AudioEngine::channelGetData(StreamId stream, std::span<std::uint8_t> buffer) {
    std::optional<Entry> entry = find(stream);
    if (!entry) {
        return audioFailure(AudioError::Handle);
    }
    if (!entry->decoding) {
        return audioFailure(AudioError::NotAvailable);
    }
    const std::int32_t count = entry->decoding->getData(buffer);
    if (count < 0) {
        return audioFailure(AudioError::NotPlaying);
    }
    return static_cast<std::uint32_t>(count);
}

std::uint64_t AudioEngine::channelGetQueued(StreamId stream) {
    std::optional<Entry> entry = find(stream);
    return entry && entry->output ? entry->output->queuedBytes() : 0;
}

bool AudioEngine::channelSetMediaName(StreamId stream, const std::string& name) {
    std::optional<Entry> entry = find(stream);
    if (!entry || !entry->output) {
        return false;
    }
    entry->output->setMediaName(name);
    return true;
}

std::int64_t AudioEngine::channelGetPosition(StreamId stream) {
    std::optional<Entry> entry = find(stream);
    return entry && entry->decoding ? entry->decoding->position() : audio::kUnknownLength;
}

}  // namespace korvanel
