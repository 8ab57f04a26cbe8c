#include "cli/pcm_tap_library.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace korvanel {
namespace {

constexpr std::uint32_t kTapHandleBit = 0x40000000;
// 100 ms, as a sound card's buffer of 4096 frames: each period costs a
// wake-up, which outweighs the copying, so the tap wakes seldom.
constexpr int kPeriodsPerSecond = 10;

thread_local bool lastCallWasTap = false;
thread_local AudioError lastTapError = AudioError::Ok;

}  // namespace

// One output stream on the tap device and the thread that plays it.
class PcmTapLibrary::TapStream {
public:
    TapStream(PcmTapLibrary& owner, StreamHandle handle, int frequency, int channels, SampleCallback samples)
        : owner_(owner),
          handle_(handle),
          frequency_(frequency),
          channels_(channels),
          samples_(std::move(samples)),
          thread_([this] { run(); }) {}

    ~TapStream() { stop(); }

    void stop() {
        {
            std::lock_guard<std::mutex> guard(lock_);
            quit_ = true;
            wake_.notify_all();
        }
        if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) {
            thread_.join();
        }
    }
    bool onOwnThread() const { return thread_.get_id() == std::this_thread::get_id(); }

    void setPlaying(bool playing) {
        std::lock_guard<std::mutex> guard(lock_);
        const bool was = playing_.exchange(playing);
        if (playing && !was) {
            // A card starts its first period at once, not at the next tick.
            started_ = true;
            wake_.notify_all();
        }
    }
    bool playing() const { return playing_.load(); }
    ActiveState activeState() const {
        if (!playing_.load() || ended_.load()) {
            return ActiveState::Stopped;
        }
        return stalled_.load() ? ActiveState::Stalled : ActiveState::Playing;
    }
    std::uint32_t level() const { return level_.load(); }
    void setVolume(int volume) { volume_ = std::clamp(volume, 0, 100); }
    int volume() const { return volume_.load(); }
    int frequency() const { return frequency_; }
    int channels() const { return channels_; }

    SyncHandle addSync(std::uint32_t id, std::uint32_t type, SyncCallback callback) {
        std::lock_guard<std::mutex> guard(syncLock_);
        syncs_[id] = {type, std::make_shared<SyncCallback>(std::move(callback))};
        return SyncHandle{id};
    }
    bool removeSync(SyncHandle sync) {
        // Once this returns the callback is not running (unless we are in it).
        std::unique_lock<std::mutex> calling(callingLock_, std::defer_lock);
        if (!onOwnThread()) {
            calling.lock();
        }
        std::lock_guard<std::mutex> guard(syncLock_);
        return syncs_.erase(sync.id) > 0;
    }

private:
    void run() {
        const std::size_t frameBytes = static_cast<std::size_t>(channels_) * 2;
        const std::size_t periodBytes = static_cast<std::size_t>(frequency_ / kPeriodsPerSecond) * frameBytes;
        std::vector<std::uint8_t> buffer(std::max<std::size_t>(periodBytes, 4));
        const auto period = std::chrono::microseconds(1000000 / kPeriodsPerSecond);
        auto due = std::chrono::steady_clock::now();
        for (;;) {
            bool firstPeriod = false;
            {
                std::unique_lock<std::mutex> lock(lock_);
                wake_.wait_until(lock, due, [this] { return quit_ || started_; });
                if (quit_) {
                    return;
                }
                if (started_) {
                    started_ = false;
                    firstPeriod = true;
                    due = std::chrono::steady_clock::now();
                }
            }
            if (!playing_.load() || ended_.load()) {
                due += period;
                continue;
            }
            const std::size_t written = fill(buffer, firstPeriod);
            // The card's clock runs by what it played: a short first period
            // (the stream had only begun) ends early.
            due += written > 0 && written < buffer.size()
                       ? std::chrono::microseconds(written / frameBytes * 1000000 / static_cast<std::size_t>(frequency_))
                       : period;
            if (std::chrono::steady_clock::now() > due + 10 * period) {
                due = std::chrono::steady_clock::now();  // far behind (a slow reader): do not race to catch up
            }
        }
    }

    // Plays one period; returns the bytes written.
    std::size_t fill(std::span<std::uint8_t> out, bool firstPeriod) {
        const std::uint32_t result = samples_ ? samples_(out) : 0;
        const bool ended = (result & audio::kSampleEnd) != 0;
        std::size_t count = std::min<std::size_t>(result & ~audio::kSampleEnd, out.size());
        count -= count % (static_cast<std::size_t>(channels_) * 2);
        const int volume = volume_.load();
        // Samples as numbers once, frame by frame, instead of a division and
        // two copies for every one of them.
        const std::size_t samples = count / 2;
        scratch_.resize(samples);  // keeps its capacity: no allocation after the first period
        std::memcpy(scratch_.data(), out.data(), samples * 2);
        const std::size_t step = channels_ < 2 ? 1 : static_cast<std::size_t>(channels_);
        const auto peak = [&](std::size_t first) {
            int highest = 0;
            for (std::size_t i = first; i < samples; i += step) {
                highest = std::max(highest, std::abs(static_cast<int>(scratch_[i])));
            }
            return highest;
        };
        const int left = peak(0);
        const int right = step == 1 ? left : peak(1);
        if (volume != 100) {
            for (std::int16_t& sample : scratch_) {
                sample = static_cast<std::int16_t>(static_cast<int>(sample) * volume / 100);
            }
            std::memcpy(out.data(), scratch_.data(), samples * 2);
        }
        level_ = static_cast<std::uint32_t>(left) | (static_cast<std::uint32_t>(right) << 16);
        // A card plays silence where the stream had nothing, except before
        // its first samples: a stream just begun has decoded little, and
        // silence after it would be a gap. Once the stream has ended there
        // is nothing more to play.
        std::size_t written = 0;
        if (ended || (firstPeriod && count > 0)) {
            written = count;
        } else {
            std::memset(out.data() + count, 0, out.size() - count);
            written = out.size();
        }
        if (written > 0) {
            owner_.write(out.first(written));
        }
        if (ended) {
            ended_ = true;
            level_ = 0;
            raise(audio::kSyncEnd, 0);
        } else if (count == 0) {
            if (!stalled_.exchange(true)) {
                raise(audio::kSyncStall, audio::kStallData);
            }
        } else if (stalled_.exchange(false)) {
            raise(audio::kSyncStall, audio::kResumeData);
        }
        return written;
    }

    void raise(std::uint32_t type, std::uint32_t data) {
        std::lock_guard<std::mutex> calling(callingLock_);
        std::vector<std::pair<std::uint32_t, std::shared_ptr<SyncCallback>>> matching;
        {
            std::lock_guard<std::mutex> guard(syncLock_);
            for (const auto& [id, sync] : syncs_) {
                if (sync.first == type) {
                    matching.emplace_back(id, sync.second);
                }
            }
        }
        for (const auto& [id, callback] : matching) {
            SyncEvent event;
            event.stream = handle_;
            event.sync = SyncHandle{id};
            event.data = data;
            (*callback)(event);
        }
    }

    PcmTapLibrary& owner_;
    StreamHandle handle_;
    int frequency_;
    int channels_;
    SampleCallback samples_;
    std::atomic<bool> playing_{false};
    std::atomic<bool> ended_{false};
    std::atomic<bool> stalled_{false};
    std::atomic<std::uint32_t> level_{0};
    std::atomic<int> volume_{100};
    std::mutex syncLock_;
    std::mutex callingLock_;  // held while syncs run
    std::map<std::uint32_t, std::pair<std::uint32_t, std::shared_ptr<SyncCallback>>> syncs_;
    std::vector<std::int16_t> scratch_;  // the tap thread's own
    std::mutex lock_;
    std::condition_variable wake_;
    bool quit_ = false;
    bool started_ = false;  // play was asked since the last period
    std::thread thread_;  // last: starts once everything above exists
};

PcmTapLibrary::PcmTapLibrary(std::unique_ptr<AudioLibrary> inner, std::FILE* out)
    : inner_(std::move(inner)), out_(out) {}

PcmTapLibrary::~PcmTapLibrary() {
    std::map<std::uint32_t, std::shared_ptr<TapStream>> streams;
    std::vector<std::shared_ptr<TapStream>> retired;
    {
        std::lock_guard<std::mutex> guard(lock_);
        streams.swap(streams_);
        retired.swap(retired_);
    }
    for (auto& [id, stream] : streams) {
        stream->stop();
    }
    retired.clear();  // their threads are joined as they go
}

bool PcmTapLibrary::isTap(StreamHandle stream) { return (stream.id & kTapHandleBit) != 0; }

std::shared_ptr<PcmTapLibrary::TapStream> PcmTapLibrary::find(StreamHandle stream) const {
    std::lock_guard<std::mutex> guard(lock_);
    const auto it = streams_.find(stream.id);
    return it == streams_.end() ? nullptr : it->second;
}

bool PcmTapLibrary::tapResult(bool ok, AudioError error) const {
    lastCallWasTap = true;
    lastTapError = ok ? AudioError::Ok : error;
    return ok;
}

void PcmTapLibrary::write(std::span<const std::uint8_t> bytes) {
    std::lock_guard<std::mutex> guard(writeLock_);
    if (out_ == nullptr || bytes.empty()) {
        return;
    }
    if (std::fwrite(bytes.data(), 1, bytes.size(), out_) != bytes.size()) {
        out_ = nullptr;  // the reader went away; the player plays on
        return;
    }
    std::fflush(out_);
    bytesWritten_ += bytes.size();
}

// Calls that are only about the tap are answered here; the others go on.
#define KORVANEL_FORWARD(call) \
    lastCallWasTap = false;    \
    return inner_ ? inner_->call : false

bool PcmTapLibrary::setConfig(std::uint32_t option, std::uint32_t value) {
    KORVANEL_FORWARD(setConfig(option, value));
}

std::uint32_t PcmTapLibrary::version() const { return inner_ ? inner_->version() : audio::kVersion; }

std::optional<std::string> PcmTapLibrary::deviceDescription(int device) {
    if (device == kTapDevice) {
        return std::string(kTapDescription);
    }
    return inner_ ? inner_->deviceDescription(device) : std::nullopt;
}

AudioError PcmTapLibrary::errorCode() const {
    if (lastCallWasTap) {
        return lastTapError;
    }
    return inner_ ? inner_->errorCode() : AudioError::Init;
}

bool PcmTapLibrary::init(int device, int frequency) {
    if (device == kTapDevice) {
        std::lock_guard<std::mutex> guard(lock_);
        const bool already = tapInitialised_;
        tapInitialised_ = true;
        tapSelected_ = true;
        return tapResult(!already, AudioError::Already);
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        tapSelected_ = false;
    }
    KORVANEL_FORWARD(init(device, frequency));
}

bool PcmTapLibrary::setDevice(int device) {
    std::lock_guard<std::mutex> guard(lock_);
    tapSelected_ = device == kTapDevice;
    if (tapSelected_) {
        return tapResult(tapInitialised_, AudioError::Init);
    }
    KORVANEL_FORWARD(setDevice(device));
}

bool PcmTapLibrary::freeDevice() {
    std::map<std::uint32_t, std::shared_ptr<TapStream>> freed;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!tapSelected_) {
            KORVANEL_FORWARD(freeDevice());
        }
        tapInitialised_ = false;
        freed.swap(streams_);
    }
    for (auto& [id, stream] : freed) {
        stream->stop();
    }
    return tapResult(true, AudioError::Ok);
}

bool PcmTapLibrary::startDevice() {
    std::lock_guard<std::mutex> guard(lock_);
    if (tapSelected_) {
        return tapResult(true, AudioError::Ok);
    }
    KORVANEL_FORWARD(startDevice());
}

bool PcmTapLibrary::stopDevice() {
    std::lock_guard<std::mutex> guard(lock_);
    if (tapSelected_) {
        for (auto& [id, stream] : streams_) {
            stream->setPlaying(false);
        }
        return tapResult(true, AudioError::Ok);
    }
    KORVANEL_FORWARD(stopDevice());
}

bool PcmTapLibrary::pauseDevice() { return stopDevice(); }

bool PcmTapLibrary::setDeviceVolume(int volume) {
    std::lock_guard<std::mutex> guard(lock_);
    if (tapSelected_) {
        return tapResult(false, AudioError::NotAvailable);
    }
    KORVANEL_FORWARD(setDeviceVolume(volume));
}

int PcmTapLibrary::deviceVolume() {
    std::lock_guard<std::mutex> guard(lock_);
    if (tapSelected_) {
        return 100;
    }
    return inner_ ? inner_->deviceVolume() : -1;
}

StreamHandle PcmTapLibrary::streamCreate(int frequency, int channels, std::uint32_t flags,
                                         SampleCallback samples) {
    std::unique_lock<std::mutex> lock(lock_);
    if (!tapSelected_) {
        lock.unlock();
        lastCallWasTap = false;
        return inner_ ? inner_->streamCreate(frequency, channels, flags, std::move(samples)) : StreamHandle{};
    }
    if (!tapInitialised_ || frequency <= 0 || frequency > 384000 || channels < 1 || channels > 8) {
        tapResult(false, tapInitialised_ ? AudioError::Format : AudioError::Init);
        return {};
    }
    const StreamHandle handle{kTapHandleBit | nextId_++};
    streams_[handle.id] = std::make_shared<TapStream>(*this, handle, frequency, channels, std::move(samples));
    tapResult(true, AudioError::Ok);
    return handle;
}

StreamHandle PcmTapLibrary::streamCreateUrl(const std::string& url, std::uint32_t offset, std::uint32_t flags,
                                            DownloadCallback download) {
    lastCallWasTap = false;
    return inner_ ? inner_->streamCreateUrl(url, offset, flags, std::move(download)) : StreamHandle{};
}

StreamHandle PcmTapLibrary::wmaStreamCreateFile(const std::string& address, std::uint32_t flags) {
    lastCallWasTap = false;
    return inner_ ? inner_->wmaStreamCreateFile(address, flags) : StreamHandle{};
}

bool PcmTapLibrary::windowsMediaAvailable() const { return inner_ && inner_->windowsMediaAvailable(); }

void PcmTapLibrary::cancelOpens() {
    if (inner_) {
        inner_->cancelOpens();
    }
}

void PcmTapLibrary::allowOpens() {
    if (inner_) {
        inner_->allowOpens();
    }
}

bool PcmTapLibrary::streamFree(StreamHandle stream) {
    if (!isTap(stream)) {
        KORVANEL_FORWARD(streamFree(stream));
    }
    std::shared_ptr<TapStream> freed;
    {
        std::lock_guard<std::mutex> guard(lock_);
        const auto it = streams_.find(stream.id);
        if (it == streams_.end()) {
            return tapResult(false, AudioError::Handle);
        }
        freed = std::move(it->second);
        streams_.erase(it);
    }
    freed->stop();
    if (freed->onOwnThread()) {
        // Freed from inside its own sync: it goes when the library does.
        std::lock_guard<std::mutex> guard(lock_);
        retired_.push_back(std::move(freed));
    }
    return tapResult(true, AudioError::Ok);
}

std::optional<std::vector<std::string>> PcmTapLibrary::streamGetTags(StreamHandle stream, std::uint32_t type) {
    if (isTap(stream) || !inner_) {
        return std::nullopt;
    }
    return inner_->streamGetTags(stream, type);
}

std::int64_t PcmTapLibrary::streamGetLength(StreamHandle stream) {
    if (isTap(stream) || !inner_) {
        return audio::kUnknownLength;
    }
    return inner_->streamGetLength(stream);
}

bool PcmTapLibrary::channelPlay(StreamHandle stream, bool restart) {
    if (!isTap(stream)) {
        KORVANEL_FORWARD(channelPlay(stream, restart));
    }
    const auto tap = find(stream);
    if (tap) {
        tap->setPlaying(true);
    }
    return tapResult(tap != nullptr, AudioError::Handle);
}

bool PcmTapLibrary::channelStop(StreamHandle stream) {
    if (!isTap(stream)) {
        KORVANEL_FORWARD(channelStop(stream));
    }
    const auto tap = find(stream);
    if (tap) {
        tap->setPlaying(false);
    }
    return tapResult(tap != nullptr, AudioError::Handle);
}

SyncHandle PcmTapLibrary::channelSetSync(StreamHandle stream, std::uint32_t type, std::uint64_t param,
                                         SyncCallback callback) {
    if (!isTap(stream)) {
        lastCallWasTap = false;
        return inner_ ? inner_->channelSetSync(stream, type, param, std::move(callback)) : SyncHandle{};
    }
    const auto tap = find(stream);
    if (!tap || (type != audio::kSyncEnd && type != audio::kSyncStall)) {
        tapResult(false, tap ? AudioError::IllegalType : AudioError::Handle);
        return {};
    }
    std::uint32_t id = 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        id = nextSync_++;
    }
    tapResult(true, AudioError::Ok);
    return tap->addSync(id, type, std::move(callback));
}

bool PcmTapLibrary::channelRemoveSync(StreamHandle stream, SyncHandle sync) {
    if (!isTap(stream)) {
        KORVANEL_FORWARD(channelRemoveSync(stream, sync));
    }
    const auto tap = find(stream);
    return tapResult(tap && tap->removeSync(sync), AudioError::Handle);
}

std::uint32_t PcmTapLibrary::channelGetLevel(StreamHandle stream) {
    if (!isTap(stream)) {
        return inner_ ? inner_->channelGetLevel(stream) : audio::kLevelError;
    }
    const auto tap = find(stream);
    return tap ? tap->level() : audio::kLevelError;
}

ActiveState PcmTapLibrary::channelIsActive(StreamHandle stream) {
    if (!isTap(stream)) {
        return inner_ ? inner_->channelIsActive(stream) : ActiveState::Stopped;
    }
    const auto tap = find(stream);
    return tap ? tap->activeState() : ActiveState::Stopped;
}

std::optional<ChannelInfo> PcmTapLibrary::channelGetInfo(StreamHandle stream) {
    if (!isTap(stream)) {
        return inner_ ? inner_->channelGetInfo(stream) : std::nullopt;
    }
    const auto tap = find(stream);
    if (!tap) {
        return std::nullopt;
    }
    return ChannelInfo{static_cast<std::uint32_t>(tap->frequency()), static_cast<std::uint32_t>(tap->channels()),
                       0, 0};
}

bool PcmTapLibrary::channelSetAttributes(StreamHandle stream, int frequency, int volume, int pan) {
    if (!isTap(stream)) {
        KORVANEL_FORWARD(channelSetAttributes(stream, frequency, volume, pan));
    }
    const auto tap = find(stream);
    if (tap && volume != audio::kVolumeUnchanged) {
        tap->setVolume(volume);
    }
    return tapResult(tap != nullptr, AudioError::Handle);
}

std::optional<ChannelAttributes> PcmTapLibrary::channelGetAttributes(StreamHandle stream) {
    if (!isTap(stream)) {
        return inner_ ? inner_->channelGetAttributes(stream) : std::nullopt;
    }
    const auto tap = find(stream);
    if (!tap) {
        return std::nullopt;
    }
    return ChannelAttributes{tap->frequency(), tap->volume(), 0};
}

std::int32_t PcmTapLibrary::channelGetData(StreamHandle stream, std::span<std::uint8_t> buffer) {
    if (isTap(stream) || !inner_) {
        return audio::kDataError;
    }
    return inner_->channelGetData(stream, buffer);
}

std::int64_t PcmTapLibrary::channelGetPosition(StreamHandle stream) {
    if (isTap(stream) || !inner_) {
        return audio::kUnknownLength;
    }
    return inner_->channelGetPosition(stream);
}

#undef KORVANEL_FORWARD

}  // namespace korvanel
