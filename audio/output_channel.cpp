#include "audio/output_channel.h"

#include "audio/output_devices.h"

#include <algorithm>
#include <charconv>
#include <optional>

#include "base/job_pool.h"
#include "audio/player_commands.h"
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

bool isDeviceListTrimmed(char c) { return c == ' ' || c == ','; }

// atoi: leading white space, an optional sign, digits; 0 for anything else,
// including a number that does not fit.
int readNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
        ++i;
    }
    if (i < text.size() && text[i] == '+') {
        ++i;
    }
    int value = 0;
    const auto [end, error] = std::from_chars(text.data() + i, text.data() + text.size(), value);
    (void)end;
    return error == std::errc{} ? value : 0;
}

// init() failures after which a device is not used at all.
bool unusableDevice(AudioError error) {
    switch (error) {
        case AudioError::Memory:
        case AudioError::Driver:
        case AudioError::Device:
        case AudioError::Unknown: return true;
        default: return false;
    }
}

}  // namespace

OutputChannel::OutputChannel(std::unique_ptr<AudioLibrary> library)
    : library_(std::move(library)) {}

OutputChannel::~OutputChannel() { shutdown(); }

bool OutputChannel::init() {
    if (!library_ || library_->version() != audio::kVersion) {
        setError(AudioErrorKind::NotLoaded, errorCode_);
        return false;
    }
    const AudioResult<void> started = library_->init(audio::kNoSoundDevice, audio::kOutputFrequency);
    return started || started.error().kind == AudioError::Already;
}

void OutputChannel::shutdown() {
    if (library_ && errorKind_ != AudioErrorKind::NotLoaded) {
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

void OutputChannel::setNotifyQueue(JobPool* queue) { queue_.store(queue); }

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

void OutputChannel::setDevices(std::string_view text) {
    while (!text.empty() && isDeviceListTrimmed(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isDeviceListTrimmed(text.back())) {
        text.remove_suffix(1);
    }
    std::lock_guard<std::mutex> guard(stateLock_);
    deviceList_ = text;
}

std::string OutputChannel::devices() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    return deviceList_;
}

std::vector<int> OutputChannel::parseDeviceList(std::string_view text) {
    std::vector<int> numbers;
    while (true) {
        const std::size_t comma = text.find(',');
        numbers.push_back(readNumber(text.substr(0, comma)));
        if (comma == std::string_view::npos) {
            break;
        }
        text.remove_prefix(comma + 1);
    }
    return numbers;
}

std::vector<OutputChannel::DeviceEntry> OutputChannel::prepareDevices() {
    std::vector<DeviceEntry> entries = devices_;
    int nextSlot = 0;
    for (DeviceEntry& entry : entries) {
        entry.slot = -1;
        entry.enabled = false;
        entry.playing = false;
        entry.stream = {};
    }
    for (const int device : parseDeviceList(devices())) {
        if (device == audio::kNoSoundDevice || !library_->deviceDescription(device)) {
            continue;
        }
        if (const AudioResult<void> started = library_->init(device, audio::kOutputFrequency); !started) {
            const AudioError error = started.error().kind;
            if (unusableDevice(error)) {
                continue;
            }
            if (error == AudioError::Already) {
                auto known = std::find_if(entries.begin(), entries.end(),
                                          [&](const DeviceEntry& e) { return e.device == device; });
                if (known != entries.end()) {
                    known->enabled = true;
                    if (known->slot < 0) {
                        known->slot = nextSlot++;
                    }
                    continue;
                }
            }
        }
        entries.push_back(DeviceEntry{device, nextSlot++, true, false, {}});
    }
    return entries;
}

OpenResult OutputChannel::open(const std::string& address) {
    if (!library_) {
        setError(AudioErrorKind::NotLoaded, errorCode_);
        return OpenResult::Fatal;
    }
    if (decoding_) {
        return OpenResult::Fatal;  // close() first; the playing stream stays as it is
    }
    if (info_ != nullptr) {
        info_->clearStream();
    }
    {
        std::vector<DeviceEntry> entries = prepareDevices();
        std::lock_guard<std::mutex> guard(stateLock_);
        devices_ = std::move(entries);
    }
    const bool anyDevice = std::any_of(devices_.begin(), devices_.end(),
                                       [](const DeviceEntry& e) { return e.enabled; });
    if (!anyDevice) {
        setError(AudioErrorKind::NoDevice, errorCode_);
        return OpenResult::Fatal;
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
        parser_ = std::make_unique<MetadataParser>(*info_, recorder, queue_.load());
    }

    const AudioResult<StreamHandle> opened = createDecodingStream(address);
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        errorCode_ = opened ? AudioError::Ok : opened.error().kind;
        errorDetail_ = opened ? std::string() : opened.error().detail;
    }
    if (!opened) {
        setError(AudioErrorKind::LibraryCall, errorCode_);
        return classify(errorCode_);
    }
    const StreamHandle decoding = *opened;
    const ChannelInfo info = library_->channelGetInfo(decoding).value_or(ChannelInfo{});
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        decoding_ = decoding;
    }
    readStreamInformation(decoding, info);
    if (recorder != nullptr) {
        recorder->onFormat(static_cast<int>(info.frequency), static_cast<int>(info.channels));
    }
    if (parser_) {
        library_->channelSetSync(decoding, audio::kSyncMeta, 0,
                                 [this](const SyncEvent& event) { onMetadata(event); });
        library_->channelSetSync(decoding, audio::kSyncMetaPlaced, 0,
                                 [this](const SyncEvent& event) { onMetadataPlaced(event); });
    }
    if (!startOutputs(decoding, info)) {
        const AudioErrorKind kind = errorKind_;
        const AudioError code = errorCode_;
        close();
        setError(kind, code);
        return OpenResult::Fatal;
    }
    return OpenResult::Opened;
}

void OutputChannel::onMetadata(const SyncEvent& event) {
    MetadataParser::Reading reading = parser_->metadataArrived(event.texts);
    if (event.position) {
        heard_.add(*event.position, std::move(reading), periodBytes_.load(std::memory_order_relaxed));
    } else if (event.data != 0) {
        std::lock_guard<std::mutex> guard(unplacedLock_);
        if (unplaced_.size() >= kMaxUnplaced) {
            unplaced_.erase(unplaced_.begin());
        }
        unplaced_[event.data] = std::move(reading);
    } else {
        parser_->metadataHeard(reading);
    }
}

void OutputChannel::onMetadataPlaced(const SyncEvent& event) {
    std::optional<MetadataParser::Reading> reading;
    {
        std::lock_guard<std::mutex> guard(unplacedLock_);
        if (const auto found = unplaced_.find(event.data); found != unplaced_.end()) {
            reading = std::move(found->second);
            unplaced_.erase(found);
        }
    }
    if (reading && event.position) {
        heard_.add(*event.position, std::move(*reading), periodBytes_.load(std::memory_order_relaxed));
    }
}

std::uint32_t OutputChannel::fillSlot(int slot, std::span<std::uint8_t> out) {
    const std::uint32_t given = buffer_.fill(slot, out);
    if (slot == titleSlot_.load(std::memory_order_relaxed)) {
        periodBytes_.store(out.size(), std::memory_order_relaxed);
        if (!heard_.empty()) {
            // What the card holds from earlier pulls is still to be heard.
            const std::uint64_t queued =
                library_->channelGetQueued(StreamHandle{titleStream_.load(std::memory_order_relaxed)});
            const std::uint64_t handed = buffer_.position(slot);
            const std::uint64_t before = handed - std::min<std::uint64_t>(queued, handed);
            deliverHeard(before);
        }
    }
    return given;
}

void OutputChannel::deliverHeard(std::uint64_t reached) {
    for (const MetadataParser::Reading& reading : heard_.takeDue(reached)) {
        parser_->metadataHeard(reading);
    }
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

AudioResult<StreamHandle> OutputChannel::createDecodingStream(const std::string& address) {
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
            return library_->wmaStreamCreateFile(address, kWindowsMediaFlags);
        case OpenRoute::HttpStream:
            return library_->streamCreateUrl(address, 0, kUrlStreamFlags,
                                             [this](std::span<const std::uint8_t> data, bool finished) {
                                                 onDownload(data, finished);
                                             });
        case OpenRoute::NotNetwork: break;
    }
    return audioFailure(AudioError::FileOpen);  // a path or scheme that cannot be played
}

void OutputChannel::readStreamInformation(StreamHandle decoding, const ChannelInfo& info) {
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
        case StreamKind::OggVorbis: tagType = audio::kTagOgg; break;
        default: return;
    }
    // The server's icy-name and icy-url name the station of every kind of
    // stream; a stream's own tags, read next, may name it better.
    const auto headers = library_->streamGetTags(decoding, audio::kTagIcy);
    parser_->parseHeaders(headers.value_or(std::vector<std::string>{}));
    const auto tags = library_->streamGetTags(decoding, tagType);
    parser_->parseMetadata(tags.value_or(std::vector<std::string>{}));
}

bool OutputChannel::startOutputs(StreamHandle decoding, const ChannelInfo& info) {
    int slotCount = 0;
    for (const DeviceEntry& entry : devices_) {
        slotCount = std::max(slotCount, entry.slot + 1);
    }
    if (leveller_ != nullptr) {
        leveller_->start(static_cast<int>(info.frequency), static_cast<int>(info.channels));
    }
    buffer_.start(*library_, decoding, static_cast<int>(info.channels), slotCount);
    if (slotCount == 0) {
        setError(AudioErrorKind::NoDevice, errorCode_);
        return false;
    }
    const int volume = libraryVolume(volume_.load());
    std::vector<StreamHandle> created;
    AudioError failure = AudioError::Ok;
    std::string failureDetail;
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        const DeviceEntry& entry = devices_[i];
        if (!entry.enabled || entry.slot < 0) {
            continue;
        }
        if (const AudioResult<void> selected = library_->setDevice(entry.device); !selected) {
            failure = selected.error().kind;
            continue;  // never create it on whichever device is selected
        }
        const int slot = entry.slot;
        const AudioResult<StreamHandle> made = library_->streamCreate(
            static_cast<int>(info.frequency), static_cast<int>(info.channels),
            audio::kStreamAutoFree,
            [this, slot](std::span<std::uint8_t> out) { return fillSlot(slot, out); });
        if (!made) {
            failure = made.error().kind;
            failureDetail = made.error().detail;
            continue;  // the other devices play on
        }
        const StreamHandle stream = *made;
        buffer_.activate(slot);
        if (titleSlot_.load() == kNoSlotYet) {
            titleStream_.store(stream.id);
            titleSlot_.store(slot);
        }
        library_->channelSetAttributes(stream, audio::kFrequencyUnchanged, volume,
                                       audio::kPanUnchanged);
        if (info_ != nullptr) {
            library_->channelSetMediaName(stream, info_->stationName());
        }
        std::lock_guard<std::mutex> guard(stateLock_);
        devices_[i].stream = stream;
        devices_[i].playing = true;
        outputStream_ = stream;
        created.push_back(stream);
    }
    if (created.empty()) {
        setError(AudioErrorKind::LibraryCall, failure);
        std::lock_guard<std::mutex> guard(stateLock_);
        errorDetail_ = std::move(failureDetail);
        return false;
    }
    // Syncs before playing, so not even a very short stream ends unnoticed.
    const StreamHandle last = created.back();
    const SyncHandle end =
        library_->channelSetSync(last, audio::kSyncEnd, 0, [this](const SyncEvent&) { post(command::kStreamEndSync); })
            .value_or(SyncHandle{});
    const SyncHandle stall =
        library_->channelSetSync(last, audio::kSyncStall, 0, [this](const SyncEvent& event) {
                     post(event.data == audio::kStallData ? command::kStallSync : command::kResumeSync);
                 })
            .value_or(SyncHandle{});
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        endSync_ = end;
        stallSync_ = stall;
    }
    for (const StreamHandle stream : created) {
        library_->channelPlay(stream, false);
    }
    return true;
}

void OutputChannel::close() {
    if (!library_) {
        return;
    }
    StreamHandle decoding;
    StreamHandle output;
    SyncHandle endSync;
    SyncHandle stallSync;
    std::vector<DeviceEntry> entries;
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        if (errorKind_ != AudioErrorKind::NotLoaded) {
            errorKind_ = AudioErrorKind::None;
        }
        if (!decoding_ && devices_.empty()) {
            return;
        }
        decoding = decoding_;
        output = outputStream_;
        endSync = endSync_;
        stallSync = stallSync_;
        entries = std::move(devices_);
        devices_.clear();
        decoding_ = {};
        outputStream_ = {};
        endSync_ = {};
        stallSync_ = {};
    }
    if (output) {
        library_->channelRemoveSync(output, endSync);
        library_->channelRemoveSync(output, stallSync);
    }
    if (decoding) {
        library_->stopDevice();
    }
    for (DeviceEntry& entry : entries) {
        if (entry.enabled && entry.playing) {
            library_->channelStop(entry.stream);
            library_->streamFree(entry.stream);
            entry.playing = false;
        }
    }
    if (decoding) {
        library_->channelStop(decoding);
        library_->streamFree(decoding);
        // No callback runs any more: the streams that called them are gone.
        buffer_.stop();
        if (leveller_ != nullptr) {
            leveller_->stop();
        }
        heard_.clear();
        titleSlot_.store(kNoSlotYet);
        titleStream_.store(0);
        {
            std::lock_guard<std::mutex> guard(unplacedLock_);
            unplaced_.clear();
        }
        if (RecordingSink* recorder = recorder_.load()) {
            recorder->onClose();
        }
    }
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
        if (library_->setDevice(entry->device)) {
            (void)library_->freeDevice();
        }
    }
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

void OutputChannel::post(std::uint32_t command) {
    if (JobPool* queue = queue_.load()) {
        Job job;
        job.code = command;
        queue->post(std::move(job));
    }
}

void OutputChannel::setError(AudioErrorKind kind, AudioError code) {
    std::lock_guard<std::mutex> guard(stateLock_);
    if (code != errorCode_) {
        errorDetail_.clear();  // it told of another failure
    }
    errorKind_ = kind;
    errorCode_ = code;
}

AudioErrorKind OutputChannel::errorKind() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    return errorKind_;
}

AudioError OutputChannel::errorCode() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    return errorCode_;
}

std::string OutputChannel::errorText() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    switch (errorKind_) {
        case AudioErrorKind::NotLoaded: return kNotLoadedText;
        case AudioErrorKind::NoDevice: return kNoDeviceText;
        case AudioErrorKind::LibraryCall:
            return errorDetail_.empty() ? std::string(audioErrorText(errorCode_))
                                        : std::string(audioErrorText(errorCode_)) + ": " + errorDetail_;
        case AudioErrorKind::None: break;
    }
    return "No error";
}

OpenResult OutputChannel::classify(AudioError code) {
    switch (code) {
        case AudioError::Timeout:
        case AudioError::Unknown: return OpenResult::Timeout;
        case AudioError::FileOpen:
        case AudioError::Frequency:
        case AudioError::FileFormat: return OpenResult::Unsupported;
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
    const auto info = library_->channelGetInfo(decoding_);
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
    for (const DeviceEntry& entry : devices_) {
        if (entry.enabled && entry.playing) {
            library_->channelSetAttributes(entry.stream, audio::kFrequencyUnchanged, level,
                                           audio::kPanUnchanged);
        }
    }
}

double OutputChannel::volume() const { return volume_.load(); }

std::uint32_t OutputChannel::level() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    if (!library_ || !outputStream_) {
        return 0;
    }
    const std::uint32_t level = library_->channelGetLevel(outputStream_);
    return level == audio::kLevelError ? 0 : level;
}

double OutputChannel::progress() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    if (!library_ || !decoding_) {
        return -1.0;
    }
    const std::int64_t length = library_->streamGetLength(decoding_);
    if (length <= 0) {
        return -1.0;
    }
    const std::int64_t position = library_->channelGetPosition(decoding_);
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
