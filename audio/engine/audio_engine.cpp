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
constexpr std::size_t kMaxErrorThreads = 256;

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

bool AudioEngine::finish(bool ok, AudioError error, std::string detail) const {
    std::lock_guard<std::mutex> guard(lock_);
    if (errors_.size() >= kMaxErrorThreads) {
        errors_.clear();
    }
    errors_[std::this_thread::get_id()] = ok ? ThreadError{} : ThreadError{error, std::move(detail)};
    return ok;
}

AudioError AudioEngine::errorCode() const {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = errors_.find(std::this_thread::get_id());
    return it == errors_.end() ? AudioError::Ok : it->second.code;
}

std::string AudioEngine::errorDetail() const {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = errors_.find(std::this_thread::get_id());
    return it == errors_.end() ? std::string() : it->second.detail;
}

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

std::optional<AudioEngine::Entry> AudioEngine::find(StreamHandle stream) const {
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

StreamHandle AudioEngine::streamCreate(int frequency, int channels, std::uint32_t flags,
                                       SampleCallback samples) {
    if (frequency <= 0 || frequency > kMaxFrequency) {
        finish(false, AudioError::Frequency);
        return {};
    }
    if (channels < 1 || channels > kMaxChannels || (flags & audio::kStreamDecode) != 0) {
        finish(false, AudioError::IllegalParameter);
        return {};
    }
    int device = 0;
    int deviceVolume = 100;
    std::optional<Route> route;
    StreamHandle handle;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto found = devices_.find(selected_);
        if (found != devices_.end()) {
            device = selected_;
            deviceVolume = found->second.volume;
            if (device != audio::kNoSoundDevice) {
                route = routeLocked(device);
            }
            handle = StreamHandle{nextId_++};
        }
    }
    if (!handle) {
        finish(false, AudioError::Init);
        return {};
    }
    auto output = std::make_shared<OutputStream>(
        handle, device, frequency, channels, flags, std::move(samples),
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
            finish(false, AudioError::Start);
            return {};
        }
    }
    // A sound card was initialised only where an output has it.
    if (device != audio::kNoSoundDevice && !route) {
        finish(false, AudioError::Driver);
        return {};
    }
    if (std::string failure = output->open(route ? route->output : nullptr, route ? route->device : 0);
        !failure.empty()) {
        finish(false, AudioError::Driver, std::move(failure));
        return {};
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
        finish(false, AudioError::Init);
        return {};
    }
    finish(true, AudioError::Ok);
    return handle;
}

StreamHandle AudioEngine::createDecoding(std::uint32_t flags, const std::string& address,
                                         bool windowsMedia, DownloadCallback download) {
    if ((flags & audio::kStreamDecode) == 0) {
        finish(false, AudioError::IllegalParameter);
        return {};
    }
    StreamHandle handle;
    StreamConfig config;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (devices_.count(selected_) == 1) {
            handle = StreamHandle{nextId_++};
            config = streamConfig_;
        }
    }
    if (!handle) {
        finish(false, AudioError::Init);
        return {};
    }
    auto stream = std::make_shared<DecodingStream>(
        ffmpeg_, tls_, handle, flags, config.bufferMs,
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
        finish(false, AudioError::Unknown);
        return {};
    }
    const AudioError error = windowsMedia ? stream->openWindowsMedia(address)
                                          : stream->openUrl(address, std::move(download));
    {
        std::lock_guard<std::mutex> guard(lock_);
        opening_.erase(handle.id);
    }
    if (error != AudioError::Ok) {
        std::string detail = stream->failureDetail();
        stream->callbacks().close();
        stream.reset();  // joins its threads
        finish(false, error, std::move(detail));
        return {};
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        streams_[handle.id] = Entry{std::move(stream), nullptr};
    }
    finish(true, AudioError::Ok);
    return handle;
}

StreamHandle AudioEngine::streamCreateUrl(const std::string& url, std::uint32_t /*offset*/,
                                          std::uint32_t flags, DownloadCallback download) {
    return createDecoding(flags, url, false, std::move(download));
}

StreamHandle AudioEngine::wmaStreamCreateFile(const std::string& address, std::uint32_t flags) {
    // libavformat would open any protocol it knows (files included); only
    // the network schemes of the Windows Media route get through.
    static constexpr const char* kSchemes[] = {"mms://", "mmsh://", "mmst://", "rtsp://",
                                               "http://", "https://"};
    const bool allowed = std::any_of(std::begin(kSchemes), std::end(kSchemes), [&](const char* scheme) {
        return address.rfind(scheme, 0) == 0;
    });
    if (!allowed) {
        finish(false, AudioError::FileOpen);
        return {};
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

bool AudioEngine::remove(StreamHandle stream) {
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

bool AudioEngine::streamFree(StreamHandle stream) {
    return finish(remove(stream), AudioError::Handle);
}

void AudioEngine::deliver(StreamHandle stream, std::uint32_t syncType, std::uint32_t data) {
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

std::optional<std::vector<std::string>> AudioEngine::streamGetTags(StreamHandle stream,
                                                                   std::uint32_t type) {
    std::optional<Entry> entry = find(stream);
    if (!entry) {
        finish(false, AudioError::Handle);
        return std::nullopt;
    }
    std::optional<std::vector<std::string>> tags;
    if (entry->decoding) {
        tags = entry->decoding->tags(type);
    }
    finish(tags.has_value(), AudioError::NotAvailable);
    return tags;
}

std::int64_t AudioEngine::streamGetLength(StreamHandle stream) {
    std::optional<Entry> entry = find(stream);
    if (!entry) {
        finish(false, AudioError::Handle);
        return audio::kUnknownLength;
    }
    const std::int64_t length = entry->decoding ? entry->decoding->length() : audio::kUnknownLength;
    finish(length >= 0, AudioError::NotAvailable);
    return length;
}

// --- channels ---

bool AudioEngine::channelPlay(StreamHandle stream, bool /*restart*/) {
    std::optional<Entry> entry = find(stream);
    if (!entry) {
        return finish(false, AudioError::Handle);
    }
    if (entry->decoding) {
        return finish(false, AudioError::Decode);
    }
    bool stopped = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto device = devices_.find(entry->output->device());
        stopped = device == devices_.end() || device->second.stopped;
    }
    if (stopped) {
        return finish(false, AudioError::Start);
    }
    return finish(entry->output->play(), AudioError::Unknown);
}

bool AudioEngine::channelStop(StreamHandle stream) {
    std::optional<Entry> entry = find(stream);
    if (!entry) {
        return finish(false, AudioError::Handle);
    }
    if (entry->output) {
        entry->output->stop();
    }
    return finish(true, AudioError::Ok);
}

SyncHandle AudioEngine::channelSetSync(StreamHandle stream, std::uint32_t type,
                                       std::uint64_t /*param*/, SyncCallback callback) {
    std::optional<Entry> entry = find(stream);
    if (!entry) {
        finish(false, AudioError::Handle);
        return {};
    }
    const bool supported = type == audio::kSyncEnd || type == audio::kSyncStall ||
                           ((type == audio::kSyncMeta || type == audio::kSyncMetaPlaced) && entry->decoding);
    if (!supported || !callback) {
        finish(false, AudioError::IllegalType);
        return {};
    }
    SyncHandle handle;
    {
        std::lock_guard<std::mutex> guard(lock_);
        handle = SyncHandle{nextId_++};
    }
    entry->callbacks().addSync(handle, type, std::move(callback));
    finish(true, AudioError::Ok);
    return handle;
}

bool AudioEngine::channelRemoveSync(StreamHandle stream, SyncHandle sync) {
    std::optional<Entry> entry = find(stream);
    if (!entry) {
        return finish(false, AudioError::Handle);
    }
    return finish(entry->callbacks().removeSync(sync), AudioError::Handle);
}

std::uint32_t AudioEngine::channelGetLevel(StreamHandle stream) {
    std::optional<Entry> entry = find(stream);
    if (!entry) {
        finish(false, AudioError::Handle);
        return audio::kLevelError;
    }
    if (!entry->output) {
        finish(false, AudioError::NotAvailable);
        return audio::kLevelError;
    }
    finish(true, AudioError::Ok);
    return entry->output->level();
}

ActiveState AudioEngine::channelIsActive(StreamHandle stream) {
    std::optional<Entry> entry = find(stream);
    if (!entry) {
        finish(false, AudioError::Handle);
        return ActiveState::Stopped;
    }
    finish(true, AudioError::Ok);
    return entry->decoding ? entry->decoding->isActive() : entry->output->isActive();
}

std::optional<ChannelInfo> AudioEngine::channelGetInfo(StreamHandle stream) {
    std::optional<Entry> entry = find(stream);
    if (!entry) {
        finish(false, AudioError::Handle);
        return std::nullopt;
    }
    finish(true, AudioError::Ok);
    return entry->decoding ? entry->decoding->info() : entry->output->info();
}

bool AudioEngine::channelSetAttributes(StreamHandle stream, int /*frequency*/, int volume,
                                       int /*pan*/) {
    std::optional<Entry> entry = find(stream);
    if (!entry) {
        return finish(false, AudioError::Handle);
    }
    if (volume != audio::kVolumeUnchanged && (volume < 0 || volume > 100)) {
        return finish(false, AudioError::IllegalParameter);
    }
    if (entry->output && volume != audio::kVolumeUnchanged) {
        entry->output->setVolume(volume);
    }
    return finish(true, AudioError::Ok);
}

std::optional<ChannelAttributes> AudioEngine::channelGetAttributes(StreamHandle stream) {
    std::optional<Entry> entry = find(stream);
    if (!entry) {
        finish(false, AudioError::Handle);
        return std::nullopt;
    }
    finish(true, AudioError::Ok);
    if (entry->decoding) {
        return ChannelAttributes{static_cast<int>(entry->decoding->info().frequency), 100, 0};
    }
    return ChannelAttributes{static_cast<int>(entry->output->info().frequency),
                             entry->output->volume(), 0};
}

std::int32_t AudioEngine::channelGetData(StreamHandle stream, std::span<std::uint8_t> buffer) {
    std::optional<Entry> entry = find(stream);
    if (!entry) {
        finish(false, AudioError::Handle);
        return audio::kDataError;
    }
    if (!entry->decoding) {
        finish(false, AudioError::NotAvailable);
        return audio::kDataError;
    }
    const std::int32_t count = entry->decoding->getData(buffer);
    finish(count >= 0, AudioError::NotPlaying);
    return count;
}

std::uint64_t AudioEngine::channelGetQueued(StreamHandle stream) {
    std::optional<Entry> entry = find(stream);
    return entry && entry->output ? entry->output->queuedBytes() : 0;
}

bool AudioEngine::channelSetMediaName(StreamHandle stream, const std::string& name) {
    std::optional<Entry> entry = find(stream);
    if (!entry || !entry->output) {
        return finish(false, AudioError::Handle);
    }
    entry->output->setMediaName(name);
    return finish(true, AudioError::Ok);
}

std::int64_t AudioEngine::channelGetPosition(StreamHandle stream) {
    std::optional<Entry> entry = find(stream);
    if (!entry || !entry->decoding) {
        finish(false, entry ? AudioError::NotAvailable : AudioError::Handle);
        return audio::kUnknownLength;
    }
    finish(true, AudioError::Ok);
    return entry->decoding->position();
}

}  // namespace korvanel
