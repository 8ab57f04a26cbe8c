#include "tests/support/fake_audio_library.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

namespace korvanel::test {
namespace {

std::string hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    return text;
}

}  // namespace

FakeAudioLibrary::FakeAudioLibrary() = default;
FakeAudioLibrary::~FakeAudioLibrary() = default;

// --- scripting ---

void FakeAudioLibrary::setDevices(std::vector<std::string> descriptions) {
    std::lock_guard<std::mutex> guard(lock_);
    descriptions_ = std::move(descriptions);
}

void FakeAudioLibrary::setInitError(int device, AudioError error) {
    std::lock_guard<std::mutex> guard(lock_);
    initErrors_[device] = error;
}

void FakeAudioLibrary::setVersion(std::uint32_t version) {
    std::lock_guard<std::mutex> guard(lock_);
    version_ = version;
}

void FakeAudioLibrary::setWindowsMediaAvailable(bool available) {
    std::lock_guard<std::mutex> guard(lock_);
    windowsMedia_ = available;
}

void FakeAudioLibrary::scriptStream(const std::string& address, ScriptedStream stream) {
    std::lock_guard<std::mutex> guard(lock_);
    failures_.erase(address);
    scripts_[address] = std::move(stream);
}

void FakeAudioLibrary::scriptFailure(const std::string& address, AudioError error) {
    std::lock_guard<std::mutex> guard(lock_);
    scripts_.erase(address);
    failures_[address] = error;
}

void FakeAudioLibrary::failOutputsOnDevice(int device, AudioError error) {
    std::lock_guard<std::mutex> guard(lock_);
    outputErrors_[device] = error;
}

void FakeAudioLibrary::holdOpens() {
    std::lock_guard<std::mutex> guard(lock_);
    holdOpens_ = true;
}

void FakeAudioLibrary::releaseOpens() {
    std::lock_guard<std::mutex> guard(lock_);
    holdOpens_ = false;
    holdChanged_.notify_all();
}

bool FakeAudioLibrary::waitForHeldOpen(std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> guard(lock_);
    return holdChanged_.wait_for(guard, bound, [this] { return holdOpens_ && heldOpens_ > 0; });
}

// --- driving ---

void FakeAudioLibrary::appendPcm(StreamId decoding, const std::vector<std::uint8_t>& bytes) {
    std::lock_guard<std::mutex> guard(lock_);
    if (Stream* stream = find(decoding)) {
        auto& pcm = stream->script.pcm;
        pcm.insert(pcm.end(), bytes.begin(), bytes.end());
    }
}

void FakeAudioLibrary::endStream(StreamId decoding) {
    std::lock_guard<std::mutex> guard(lock_);
    if (Stream* stream = find(decoding)) {
        stream->script.ended = true;
    }
}

std::uint32_t FakeAudioLibrary::pull(StreamId output, std::span<std::uint8_t> buffer) {
    std::shared_ptr<SampleCallback> samples;
    {
        std::lock_guard<std::mutex> guard(lock_);
        const Stream* stream = find(output);
        if (stream == nullptr || stream->decoding) {
            return 0;
        }
        samples = stream->samples;
    }
    return samples && *samples ? (*samples)(buffer) : 0;
}

int FakeAudioLibrary::fireSync(StreamId stream, std::uint32_t type, std::uint32_t data,
                               std::vector<std::string> texts, std::optional<std::uint64_t> position) {
    std::vector<std::pair<SyncId, std::shared_ptr<SyncCallback>>> due;
    {
        std::lock_guard<std::mutex> guard(lock_);
        const Stream* found = find(stream);
        if (found == nullptr) {
            return 0;
        }
        for (const Sync& sync : found->syncs) {
            if (sync.type == type) {
                due.emplace_back(sync.handle, sync.callback);
            }
        }
    }
    for (auto& [handle, callback] : due) {
        SyncEvent event{data, texts, position};
        (*callback)(event);
    }
    return static_cast<int>(due.size());
}

void FakeAudioLibrary::download(StreamId decoding, const std::vector<std::uint8_t>& bytes) {
    DownloadCallback callback;
    {
        std::lock_guard<std::mutex> guard(lock_);
        const Stream* stream = find(decoding);
        if (stream == nullptr) {
            return;
        }
        callback = stream->download;
    }
    if (callback) {
        callback(bytes, false);
    }
}

void FakeAudioLibrary::finishDownload(StreamId decoding) {
    DownloadCallback callback;
    {
        std::lock_guard<std::mutex> guard(lock_);
        const Stream* stream = find(decoding);
        if (stream == nullptr) {
            return;
        }
        callback = stream->download;
    }
    if (callback) {
        callback({}, true);
    }
}

void FakeAudioLibrary::setLevel(StreamId stream, std::uint32_t level) {
    std::lock_guard<std::mutex> guard(lock_);
    if (Stream* found = find(stream)) {
        found->level = level;
    }
}

void FakeAudioLibrary::setPosition(StreamId stream, std::int64_t position) {
    std::lock_guard<std::mutex> guard(lock_);
    if (Stream* found = find(stream)) {
        found->position = position;
    }
}

// --- inspection ---

std::vector<std::string> FakeAudioLibrary::calls() const {
    std::lock_guard<std::mutex> guard(lock_);
    return calls_;
}

void FakeAudioLibrary::clearCalls() {
    std::lock_guard<std::mutex> guard(lock_);
    calls_.clear();
}

std::vector<int> FakeAudioLibrary::initialisedDevices() const {
    std::lock_guard<std::mutex> guard(lock_);
    return initialised_;
}

std::optional<std::uint32_t> FakeAudioLibrary::config(std::uint32_t option) const {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = config_.find(option);
    if (it == config_.end()) {
        return std::nullopt;
    }
    return it->second;
}

std::vector<StreamId> FakeAudioLibrary::outputStreams() const {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<StreamId> result;
    for (const auto& [id, stream] : streams_) {
        if (!stream.decoding) {
            result.push_back(StreamId{id});
        }
    }
    return result;
}

std::optional<FakeAudioLibrary::OutputState> FakeAudioLibrary::output(StreamId stream) const {
    std::lock_guard<std::mutex> guard(lock_);
    const Stream* found = find(stream);
    if (found == nullptr || found->decoding) {
        return std::nullopt;
    }
    return found->output;
}

std::vector<StreamId> FakeAudioLibrary::decodingStreams() const {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<StreamId> result;
    for (const auto& [id, stream] : streams_) {
        if (stream.decoding) {
            result.push_back(StreamId{id});
        }
    }
    return result;
}

int FakeAudioLibrary::syncCount(StreamId stream) const {
    std::lock_guard<std::mutex> guard(lock_);
    const Stream* found = find(stream);
    return found == nullptr ? 0 : static_cast<int>(found->syncs.size());
}

int FakeAudioLibrary::selectedDevice() const {
    std::lock_guard<std::mutex> guard(lock_);
    return selected_;
}

// --- AudioLibrary ---

bool FakeAudioLibrary::setConfig(std::uint32_t option, std::uint32_t value) {
    std::lock_guard<std::mutex> guard(lock_);
    log("setConfig(" + std::to_string(option) + "," + std::to_string(value) + ")");
    config_[option] = value;
    return true;
}

std::uint32_t FakeAudioLibrary::version() const {
    std::lock_guard<std::mutex> guard(lock_);
    return version_;
}

AudioResult<std::string> FakeAudioLibrary::deviceDescription(int device) {
    std::lock_guard<std::mutex> guard(lock_);
    if (device == audio::kNoSoundDevice) {
        return std::string("No sound");
    }
    if (device < 1 || device > static_cast<int>(descriptions_.size())) {
        return audioFailure(AudioError::Device);
    }
    return descriptions_[static_cast<std::size_t>(device - 1)];
}

AudioResult<void> FakeAudioLibrary::init(int device, int frequency) {
    std::lock_guard<std::mutex> guard(lock_);
    log("init(" + std::to_string(device) + ")");
    if (frequency <= 0) {
        return audioFailure(AudioError::Frequency);
    }
    if (device != audio::kNoSoundDevice &&
        (device < 1 || device > static_cast<int>(descriptions_.size()))) {
        return audioFailure(AudioError::Device);
    }
    auto error = initErrors_.find(device);
    if (error != initErrors_.end() && error->second != AudioError::Ok) {
        return audioFailure(error->second);
    }
    if (std::find(initialised_.begin(), initialised_.end(), device) != initialised_.end()) {
        return audioFailure(AudioError::Already);
    }
    initialised_.push_back(device);
    selected_ = device;
    return {};
}

AudioResult<void> FakeAudioLibrary::setDevice(int device) {
    std::lock_guard<std::mutex> guard(lock_);
    log("setDevice(" + std::to_string(device) + ")");
    if (std::find(initialised_.begin(), initialised_.end(), device) == initialised_.end()) {
        return audioFailure(AudioError::Init);
    }
    selected_ = device;
    return {};
}

AudioResult<void> FakeAudioLibrary::freeDevice() {
    std::unique_lock<std::mutex> lock(lock_);
    log("freeDevice()@" + std::to_string(selected_));
    auto it = std::find(initialised_.begin(), initialised_.end(), selected_);
    if (it == initialised_.end()) {
        return audioFailure(AudioError::Init);
    }
    initialised_.erase(it);
    std::erase_if(streams_, [this](const auto& entry) {
        return !entry.second.decoding && entry.second.output.device == selected_;
    });
    return {};
}

AudioResult<void> FakeAudioLibrary::startDevice() {
    std::lock_guard<std::mutex> guard(lock_);
    log("startDevice()");
    return {};
}

AudioResult<void> FakeAudioLibrary::stopDevice() {
    std::lock_guard<std::mutex> guard(lock_);
    log("stopDevice()@" + std::to_string(selected_));
    for (auto& [id, stream] : streams_) {
        if (!stream.decoding && stream.output.device == selected_) {
            stream.output.playing = false;
        }
    }
    return {};
}

AudioResult<void> FakeAudioLibrary::pauseDevice() {
    std::lock_guard<std::mutex> guard(lock_);
    log("pauseDevice()");
    return {};
}

AudioResult<void> FakeAudioLibrary::setDeviceVolume(int volume) {
    std::lock_guard<std::mutex> guard(lock_);
    log("setDeviceVolume(" + std::to_string(volume) + ")");
    return succeededOr(volume >= 0 && volume <= 100, AudioError::IllegalParameter);
}

int FakeAudioLibrary::deviceVolume() {
    std::lock_guard<std::mutex> guard(lock_);
    return 100;
}

AudioResult<StreamId> FakeAudioLibrary::streamCreate(int frequency, int channels, std::uint32_t flags,
                                            SampleCallback samples) {
    std::lock_guard<std::mutex> guard(lock_);
    log("streamCreate(" + std::to_string(frequency) + "," + std::to_string(channels) + "," +
        hex(flags) + ")@" + std::to_string(selected_));
    if (std::find(initialised_.begin(), initialised_.end(), selected_) == initialised_.end()) {
        return audioFailure(AudioError::Init);
    }
    auto error = outputErrors_.find(selected_);
    if (error != outputErrors_.end() && error->second != AudioError::Ok) {
        return audioFailure(error->second);
    }
    if (frequency <= 0 || channels <= 0) {
        return audioFailure(AudioError::IllegalParameter);
    }
    const std::uint32_t id = nextId_++;
    Stream& stream = streams_[id];
    stream.output = OutputState{selected_, frequency, channels, flags, false, 100};
    stream.samples = std::make_shared<SampleCallback>(std::move(samples));
    return StreamId{id};
}

AudioResult<StreamId> FakeAudioLibrary::createDecoding(const std::string& address, std::uint32_t flags,
                                              DownloadCallback download) {
    StreamId handle;
    std::vector<std::vector<std::uint8_t>> chunks;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if ((flags & audio::kStreamDecode) == 0) {
            return audioFailure(AudioError::IllegalParameter);
        }
        auto failure = failures_.find(address);
        if (failure != failures_.end()) {
            return audioFailure(failure->second);
        }
        auto script = scripts_.find(address);
        if (script == scripts_.end()) {
            return audioFailure(AudioError::FileOpen);
        }
        handle = StreamId{nextId_++};
        Stream& stream = streams_[handle.id];
        stream.decoding = true;
        stream.script = script->second;
        stream.script.info.flags |= flags;
        stream.download = download;
        chunks = stream.script.downloadChunks;
    }
    for (const auto& chunk : chunks) {
        if (download) {
            download(chunk, false);
        }
    }
    return handle;
}

AudioResult<StreamId> FakeAudioLibrary::streamCreateUrl(const std::string& url, std::uint32_t offset,
                                               std::uint32_t flags, DownloadCallback download) {
    {
        std::unique_lock<std::mutex> guard(lock_);
        log("streamCreateUrl(" + url + "," + std::to_string(offset) + "," + hex(flags) + ")");
        ++heldOpens_;
        holdChanged_.notify_all();
        holdChanged_.wait_for(guard, std::chrono::seconds(10), [this] { return !holdOpens_; });
        --heldOpens_;
    }
    return createDecoding(url, flags, std::move(download));
}

AudioResult<StreamId> FakeAudioLibrary::wmaStreamCreateFile(const std::string& address,
                                                   std::uint32_t flags) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        log("wmaStreamCreateFile(" + address + "," + hex(flags) + ")");
        if (!windowsMedia_) {
            return audioFailure(AudioError::Unknown);
        }
    }
    return createDecoding(address, flags, nullptr);
}

bool FakeAudioLibrary::windowsMediaAvailable() const {
    std::lock_guard<std::mutex> guard(lock_);
    return windowsMedia_;
}

AudioResult<void> FakeAudioLibrary::streamFree(StreamId stream) {
    std::lock_guard<std::mutex> guard(lock_);
    log("streamFree(" + std::to_string(stream.id) + ")");
    return succeededOr(streams_.erase(stream.id) == 1, AudioError::Handle);
}

std::optional<std::vector<std::string>> FakeAudioLibrary::streamGetTags(StreamId stream,
                                                                        std::uint32_t type) {
    std::lock_guard<std::mutex> guard(lock_);
    log("streamGetTags(" + std::to_string(stream.id) + "," + std::to_string(type) + ")");
    const Stream* found = find(stream);
    if (found == nullptr) {
        return std::nullopt;
    }
    auto tags = found->script.tags.find(type);
    if (tags == found->script.tags.end()) {
        return std::nullopt;
    }
    return tags->second;
}

std::int64_t FakeAudioLibrary::streamGetLength(StreamId stream) {
    std::lock_guard<std::mutex> guard(lock_);
    const Stream* found = find(stream);
    return found == nullptr ? audio::kUnknownLength : found->script.length;
}

AudioResult<void> FakeAudioLibrary::channelPlay(StreamId stream, bool restart) {
    std::lock_guard<std::mutex> guard(lock_);
    log("channelPlay(" + std::to_string(stream.id) + "," + (restart ? "true" : "false") + ")");
    Stream* found = find(stream);
    if (found == nullptr) {
        return audioFailure(AudioError::Handle);
    }
    if (found->decoding) {
        return audioFailure(AudioError::Decode);
    }
    found->output.playing = true;
    return {};
}

AudioResult<void> FakeAudioLibrary::channelStop(StreamId stream) {
    std::lock_guard<std::mutex> guard(lock_);
    log("channelStop(" + std::to_string(stream.id) + ")");
    Stream* found = find(stream);
    if (found == nullptr) {
        return audioFailure(AudioError::Handle);
    }
    found->output.playing = false;
    return {};
}

AudioResult<SyncId> FakeAudioLibrary::channelSetSync(StreamId stream, std::uint32_t type,
                                            std::uint64_t /*param*/, SyncCallback callback) {
    std::lock_guard<std::mutex> guard(lock_);
    log("channelSetSync(" + std::to_string(stream.id) + "," + hex(type) + ")");
    Stream* found = find(stream);
    if (found == nullptr) {
        return audioFailure(AudioError::Handle);
    }
    if (type != audio::kSyncEnd && type != audio::kSyncStall && type != audio::kSyncMeta) {
        return audioFailure(AudioError::IllegalType);
    }
    const SyncId handle{nextId_++};
    found->syncs.push_back(Sync{handle, type, std::make_shared<SyncCallback>(std::move(callback))});
    return handle;
}

AudioResult<void> FakeAudioLibrary::channelRemoveSync(StreamId stream, SyncId sync) {
    std::lock_guard<std::mutex> guard(lock_);
    log("channelRemoveSync(" + std::to_string(stream.id) + "," + std::to_string(sync.id) + ")");
    Stream* found = find(stream);
    if (found == nullptr) {
        return audioFailure(AudioError::Handle);
    }
    const auto removed =
        std::erase_if(found->syncs, [&](const Sync& entry) { return entry.handle == sync; });
    return succeededOr(removed == 1, AudioError::Handle);
}

std::uint32_t FakeAudioLibrary::channelGetLevel(StreamId stream) {
    std::lock_guard<std::mutex> guard(lock_);
    const Stream* found = find(stream);
    return found == nullptr || found->decoding ? audio::kLevelError : found->level;
}

ActiveState FakeAudioLibrary::channelIsActive(StreamId stream) {
    std::lock_guard<std::mutex> guard(lock_);
    const Stream* found = find(stream);
    if (found == nullptr) {
        return ActiveState::Stopped;
    }
    if (found->decoding) {
        const bool drained = found->readOffset >= found->script.pcm.size();
        return found->script.ended && drained ? ActiveState::Stopped : ActiveState::Playing;
    }
    return found->output.playing ? ActiveState::Playing : ActiveState::Stopped;
}

AudioResult<ChannelInfo> FakeAudioLibrary::channelGetInfo(StreamId stream) {
    std::lock_guard<std::mutex> guard(lock_);
    const Stream* found = find(stream);
    if (found == nullptr) {
        return audioFailure(AudioError::Handle);
    }
    if (found->decoding) {
        return found->script.info;
    }
    return ChannelInfo{static_cast<std::uint32_t>(found->output.frequency),
                       static_cast<std::uint32_t>(found->output.channels), found->output.flags, 0};
}

AudioResult<void> FakeAudioLibrary::channelSetAttributes(StreamId stream, int frequency, int volume,
                                            int pan) {
    std::lock_guard<std::mutex> guard(lock_);
    log("channelSetAttributes(" + std::to_string(stream.id) + "," + std::to_string(frequency) +
        "," + std::to_string(volume) + "," + std::to_string(pan) + ")");
    Stream* found = find(stream);
    if (found == nullptr) {
        return audioFailure(AudioError::Handle);
    }
    if (volume != audio::kVolumeUnchanged && (volume < 0 || volume > 100)) {
        return audioFailure(AudioError::IllegalParameter);
    }
    if (volume != audio::kVolumeUnchanged) {
        found->output.volume = volume;
    }
    if (pan != audio::kPanUnchanged) {
        found->pan = pan;
    }
    if (frequency != audio::kFrequencyUnchanged && frequency > 0) {
        found->output.frequency = frequency;
    }
    return {};
}

std::optional<ChannelAttributes> FakeAudioLibrary::channelGetAttributes(StreamId stream) {
    std::lock_guard<std::mutex> guard(lock_);
    const Stream* found = find(stream);
    if (found == nullptr) {
        return std::nullopt;
    }
    return ChannelAttributes{found->output.frequency, found->output.volume, found->pan};
}

AudioResult<std::uint32_t> FakeAudioLibrary::channelGetData(StreamId stream,
                                              std::span<std::uint8_t> buffer) {
    std::lock_guard<std::mutex> guard(lock_);
    Stream* found = find(stream);
    if (found == nullptr) {
        return audioFailure(AudioError::Handle);
    }
    if (!found->decoding) {
        return audioFailure(AudioError::NotAvailable);
    }
    const auto& pcm = found->script.pcm;
    const std::size_t available = pcm.size() - found->readOffset;
    if (available == 0 && found->script.ended) {
        return audioFailure(AudioError::NotPlaying);
    }
    const std::size_t count = std::min(available, buffer.size());
    if (count > 0) {
        std::memcpy(buffer.data(), pcm.data() + found->readOffset, count);
    }
    found->readOffset += count;
    found->position += static_cast<std::int64_t>(count);
    return static_cast<std::uint32_t>(count);
}

std::int64_t FakeAudioLibrary::channelGetPosition(StreamId stream) {
    std::lock_guard<std::mutex> guard(lock_);
    const Stream* found = find(stream);
    return found == nullptr ? audio::kUnknownLength : found->position;
}

// --- helpers ---

FakeAudioLibrary::Stream* FakeAudioLibrary::find(StreamId stream) {
    auto it = streams_.find(stream.id);
    return it == streams_.end() ? nullptr : &it->second;
}

const FakeAudioLibrary::Stream* FakeAudioLibrary::find(StreamId stream) const {
    auto it = streams_.find(stream.id);
    return it == streams_.end() ? nullptr : &it->second;
}

void FakeAudioLibrary::log(std::string call) { calls_.push_back(std::move(call)); }

}  // namespace korvanel::test
