#include "audio/output_channel.h"

#include <algorithm>
#include <optional>

#include "audio/channel_notice.h"
#include "audio/recording_sink.h"
#include "audio/leveller.h"
#include "audio/sound_effects.h"
#include "audio/stream_info.h"
#include "audio/metadata_parser.h"
#include "stream/source_classification.h"

namespace korvanel {
namespace {

constexpr std::uint32_t kUrlStreamFlags = audio::kStreamDecode | audio::kStreamMeta;
constexpr std::uint32_t kWindowsMediaFlags = audio::kStreamDecode | audio::kStreamAutoFree;

}  // namespace

OutputChannel::OutputChannel(std::unique_ptr<AudioLibrary> library)
    : library_(std::move(library)) {}

OutputChannel::~OutputChannel() { shutdown(); }

namespace {

// Failures of our own, with no library code behind them.
Failed<ChannelFailure> failedFor(AudioErrorKind kind) {
    return fail(ChannelFailure{OpenResult::Fatal, kind, AudioError::Unknown, {}});
}

// A library call that failed, and what that failure makes us do next.
Failed<ChannelFailure> libraryFailed(const AudioFailure& failure, OpenResult next = OpenResult::Fatal) {
    return fail(ChannelFailure{next, AudioErrorKind::LibraryCall, failure.kind, failure.detail});
}

}  // namespace

std::string ChannelFailure::text() const {
    switch (kind) {
        case AudioErrorKind::NotLoaded: return OutputChannel::kNotLoadedText;
        case AudioErrorKind::NoDevice: return OutputChannel::kNoDeviceText;
        case AudioErrorKind::LibraryCall: break;
    }
    return detail.empty() ? std::string(audioErrorText(code)) : std::string(audioErrorText(code)) + ": " + detail;
}

ChannelResult OutputChannel::init() {
    if (!library_ || library_->version() != audio::kVersion) {
        return failedFor(AudioErrorKind::NotLoaded);
    }
    loaded_ = true;
    const AudioResult<void> started = library_->init(audio::kNoSoundDevice, audio::kOutputFrequency);
    if (!started && started.error().kind != AudioError::Already) {
        return libraryFailed(started.error());
    }
    return {};
}

void OutputChannel::shutdown() {
    if (library_ && loaded_) {
        close();
        library_->setDevice(audio::kNoSoundDevice);
        library_->freeDevice();
    }
    std::unique_ptr<AudioLibrary> released;
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        released = std::move(library_);
    }
    released.reset();
}

void OutputChannel::setSoundEffects(SoundEffects* effects) { buffer_.setSoundEffects(effects); }

void OutputChannel::setLeveller(Leveller* leveller) {
    leveller_ = leveller;
    buffer_.setLeveller(leveller);
}

void OutputChannel::setRecorder(RecordingSink* recorder) {
    recorder_.store(recorder);
    buffer_.setRecorder(recorder);
}

void OutputChannel::setStreamInfo(StreamInfo* info) { info_ = info; }

void OutputChannel::setNotices(ChannelNotices* notices) { notices_.store(notices); }

void OutputChannel::setBufferLength(int milliseconds) {
    std::lock_guard<std::mutex> guard(stateLock_);
    if (library_) {
        library_->setConfig(audio::kConfigNetBuffer,
                            static_cast<std::uint32_t>(std::max(milliseconds, 0)));
    }
}

void OutputChannel::setHlsBandwidth(int bitsPerSecond) {
    std::lock_guard<std::mutex> guard(stateLock_);
    if (library_) {
        library_->setConfig(audio::kConfigHlsBandwidth, static_cast<std::uint32_t>(std::max(bitsPerSecond, 0)));
    }
}

void OutputChannel::setServerBuffer(int milliseconds) {
    std::lock_guard<std::mutex> guard(stateLock_);
    if (library_) {
        library_->setConfig(audio::kConfigServerBuffer, static_cast<std::uint32_t>(std::max(milliseconds, 0)));
    }
}

std::string OutputChannel::outputName() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    return library_ ? library_->outputName() : std::string();
}

void OutputChannel::setDevices(std::string_view text) { cards_.setList(text); }

std::string OutputChannel::devices() const { return cards_.list(); }

ChannelResult OutputChannel::open(const std::string& address) {
    if (!library_) {
        return failedFor(AudioErrorKind::NotLoaded);
    }
    if (decoding_) {
        // close() first; the playing stream stays as it is.
        return libraryFailed(AudioFailure{AudioError::Already, kStreamOpenText});
    }
    if (info_ != nullptr) {
        info_->clearStream();
    }
    if (!cards_.prepare(*library_)) {
        return failedFor(AudioErrorKind::NoDevice);
    }
    if (info_ != nullptr) {
        info_->setSource(address);
    }
    RecordingSink* recorder = recorder_.load();
    if (recorder != nullptr) {
        recorder->onOpen();
    }
    parser_.reset();
    if (info_ != nullptr) {
        parser_ = std::make_unique<MetadataParser>(*info_, recorder, notices_.load());
    }
    timeline_.start(parser_.get());

    AudioResult<AudioStream> opened = createDecodingStream(address);
    if (!opened) {
        return libraryFailed(opened.error(), classify(opened.error().kind));
    }
    auto made = std::make_unique<AudioStream>(std::move(opened).value());
    AudioStream& decoding = *made;
    const ChannelInfo info = decoding.info().value_or(ChannelInfo{});
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        decoding_ = std::move(made);
    }
    readStreamInformation(decoding, info);
    if (recorder != nullptr) {
        recorder->onFormat(static_cast<int>(info.frequency), static_cast<int>(info.channels));
    }
    if (parser_) {
        decoding.setLifelongSync(audio::kSyncMeta, 0, [this](const SyncEvent& event) { timeline_.arrived(event); });
        decoding.setLifelongSync(audio::kSyncMetaPlaced, 0,
                                 [this](const SyncEvent& event) { timeline_.placed(event); });
    }
    if (ChannelResult started = startOutputs(decoding, info); !started) {
        close();
        return started;
    }
    return {};
}

std::uint32_t OutputChannel::fillSlot(int slot, std::span<std::uint8_t> out) {
    const std::uint32_t given = buffer_.fill(slot, out);
    if (timeline_.pulled(slot, out.size())) {
        // What the card holds from earlier pulls is still to be heard.
        const AudioStream* titleStream = timeline_.titleStream();
        const std::uint64_t queued = titleStream != nullptr ? titleStream->queued() : 0;
        const std::uint64_t handed = buffer_.position(slot);
        timeline_.heardUpTo(handed - std::min<std::uint64_t>(queued, handed));
    }
    return given;
}

void OutputChannel::cancelOpen() {
    // The lock keeps the library from going away meanwhile (shutdown).
    std::lock_guard<std::mutex> guard(stateLock_);
    if (library_) {
        library_->cancelOpens();
    }
}

void OutputChannel::allowOpen() {
    std::lock_guard<std::mutex> guard(stateLock_);
    if (library_) {
        library_->allowOpens();
    }
}

AudioResult<AudioStream> OutputChannel::createDecodingStream(const std::string& address) {
    library_->setDevice(audio::kNoSoundDevice);
    // Bytes that come while this is set are the stream's header, for the recorder.
    struct Opening {
        std::atomic<bool>& flag;
        explicit Opening(std::atomic<bool>& opening) : flag(opening) { flag.store(true); }
        ~Opening() { flag.store(false); }
        Opening(const Opening&) = delete;
        Opening& operator=(const Opening&) = delete;
    } opening(opening_);
    switch (openRoute(address)) {
        case OpenRoute::WindowsMedia:
            if (!library_->windowsMediaAvailable()) {
                return audioFailure(AudioError::FileFormat);  // nothing here can decode it
            }
            return library_->openWindowsMedia(address, kWindowsMediaFlags);
        case OpenRoute::HttpStream:
            return library_->openUrl(address, 0, kUrlStreamFlags,
                                     [this](std::span<const std::uint8_t> data, bool finished) {
                                         onDownload(data, finished);
                                     });
        case OpenRoute::NotNetwork: break;
    }
    return audioFailure(AudioError::FileOpen);  // a path or scheme that cannot be played
}

void OutputChannel::readStreamInformation(const AudioStream& decoding, const ChannelInfo& info) {
    const StreamKind kind = kindOfChannel(info.channelType);
    if (info_ == nullptr || !parser_) {
        return;
    }
    info_->setKind(kind);
    std::uint32_t tagType = 0;
    switch (kind) {
        case StreamKind::Mp3:
        case StreamKind::Aac: tagType = audio::kTagMeta; break;
        case StreamKind::WindowsMedia: tagType = audio::kTagMeta; break;
        case StreamKind::OggVorbis:
        case StreamKind::OggOpus:
        case StreamKind::OggFlac: tagType = audio::kTagOgg; break;
        default: return;
    }
    // The server's icy-name and icy-url name the station of every kind of
    // stream; a stream's own tags, read next, may name it better.
    const auto headers = decoding.tags(audio::kTagIcy);
    parser_->parseHeaders(headers.value_or(std::vector<std::string>{}));
    const auto tags = decoding.tags(tagType);
    parser_->parseMetadata(tags.value_or(std::vector<std::string>{}));
}

ChannelResult OutputChannel::startOutputs(AudioStream& decoding, const ChannelInfo& info) {
    const int slotCount = cards_.slotCount();
    if (leveller_ != nullptr) {
        leveller_->start(static_cast<int>(info.frequency), static_cast<int>(info.channels));
    }
    buffer_.start(decoding, static_cast<int>(info.channels), slotCount);
    if (slotCount == 0) {
        return failedFor(AudioErrorKind::NoDevice);
    }
    const int volume = libraryVolume(volume_.load());
    const AudioResult<std::vector<AudioStream*>> made = cards_.openOutputs(
        *library_, static_cast<int>(info.frequency), static_cast<int>(info.channels),
        [this](int slot) -> SampleCallback {
            return [this, slot](std::span<std::uint8_t> out) { return fillSlot(slot, out); };
        },
        [&](int slot, AudioStream& stream) {
            buffer_.activate(slot);
            timeline_.claim(slot, stream);
            stream.setVolume(volume);
            if (info_ != nullptr) {
                stream.setMediaName(info_->stationName());
            }
            std::lock_guard<std::mutex> guard(stateLock_);
            outputStream_ = &stream;
        });
    if (!made) {
        return libraryFailed(made.error());
    }
    // Syncs before playing, so not even a very short stream ends unnoticed.
    AudioStream& last = *made->back();
    AudioSync end =
        syncOrNone(last.setSync(audio::kSyncEnd, 0, [this](const SyncEvent&) { post(ChannelNotice::StreamEnded); }));
    AudioSync stall = syncOrNone(last.setSync(audio::kSyncStall, 0, [this](const SyncEvent& event) {
        post(event.data == audio::kStallData ? ChannelNotice::Stalled : ChannelNotice::Resumed);
    }));
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        endSync_ = std::move(end);
        stallSync_ = std::move(stall);
    }
    for (AudioStream* stream : *made) {
        stream->play();
    }
    return {};
}

void OutputChannel::close() {
    if (!library_) {
        return;
    }
    std::unique_ptr<AudioStream> decoding;
    AudioSync endSync;
    AudioSync stallSync;
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        if (!decoding_ && cards_.empty()) {
            return;
        }
        decoding = std::move(decoding_);
        endSync = std::move(endSync_);
        stallSync = std::move(stallSync_);
        outputStream_ = nullptr;
    }
    endSync.remove();
    stallSync.remove();
    if (decoding) {
        library_->stopDevice();
    }
    const std::vector<OutputDeviceSet::Card> cards = cards_.stopOutputs();
    if (decoding) {
        decoding->stop();
        decoding->free();
        // No callback runs any more: the streams that called them are gone.
        buffer_.stop();
        if (leveller_ != nullptr) {
            leveller_->stop();
        }
        timeline_.clear();
        if (RecordingSink* recorder = recorder_.load()) {
            recorder->onClose();
        }
    }
    OutputDeviceSet::freeCards(*library_, cards);
}

void OutputChannel::onDownload(std::span<const std::uint8_t> data, bool finished) {
    RecordingSink* recorder = recorder_.load();
    if (recorder == nullptr) {
        return;
    }
    if (finished) {
        recorder->onClose();
    } else if (opening_.load()) {
        recorder->onHeaderData(data);
    } else {
        recorder->onStreamData(data);
    }
}

void OutputChannel::post(ChannelNotice notice) {
    if (ChannelNotices* notices = notices_.load()) {
        notices->notify(notice);
    }
}

OpenResult OutputChannel::classify(AudioError code) {
    switch (code) {
        case AudioError::Timeout:
        case AudioError::Unknown: return OpenResult::Timeout;
        case AudioError::FileOpen:
        case AudioError::Frequency:
        case AudioError::FileFormat: return OpenResult::Unsupported;
        case AudioError::Playlist: return OpenResult::Playlist;
        case AudioError::Memory:
        case AudioError::Driver:
        case AudioError::Handle:
        case AudioError::Init:
        case AudioError::Start:
        case AudioError::Already:
        case AudioError::IllegalType:
        case AudioError::IllegalParameter:
        case AudioError::Device:
        case AudioError::NotPlaying:
        case AudioError::NotAvailable:
        case AudioError::Decode: return OpenResult::Fatal;
        case AudioError::Ok: break;
    }
    return OpenResult::Failed;
}

bool OutputChannel::isLiveStream() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    if (!library_ || !decoding_) {
        return false;
    }
    const auto info = decoding_->info();
    return info && (info->flags & audio::kStreamBlock) != 0;
}

int OutputChannel::libraryVolume(double volume) {
    const double scaled = volume * 100.0;
    if (!(scaled > 0.0)) {
        return 0;  // negative, zero or not a number
    }
    return scaled >= 100.0 ? 100 : static_cast<int>(scaled);
}

void OutputChannel::setVolume(double volume) {
    volume_.store(volume);
    const int level = libraryVolume(volume);
    std::lock_guard<std::mutex> guard(stateLock_);
    if (!decoding_ || !library_) {
        return;
    }
    cards_.setVolume(level);
}

double OutputChannel::volume() const { return volume_.load(); }

std::uint32_t OutputChannel::level() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    if (!library_ || !outputStream_) {
        return 0;
    }
    const std::uint32_t level = outputStream_->level();
    return level == audio::kLevelError ? 0 : level;
}

double OutputChannel::progress() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    if (!library_ || !decoding_) {
        return -1.0;
    }
    const std::int64_t length = decoding_->length();
    if (length <= 0) {
        return -1.0;
    }
    const std::int64_t position = decoding_->position();
    return static_cast<double>(std::max<std::int64_t>(position, 0)) * 100.0 /
           static_cast<double>(length);
}

std::vector<OutputDevice> OutputChannel::outputDevices() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    if (!library_) {
        return {};
    }
    return listOutputDevices(*library_);
}

}  // namespace korvanel
