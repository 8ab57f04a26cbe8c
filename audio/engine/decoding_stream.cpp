#include "audio/engine/decoding_stream.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>
#include <memory>

#include "audio/engine/ffmpeg_decoder.h"
#include "audio/engine/ffmpeg_loader.h"
#include "audio/engine/hls_stream_reader.h"
#include "audio/engine/icy_metadata_splitter.h"
#include "audio/engine/icy_stream_reader.h"
#include "stream/hls_playlist.h"

namespace korvanel {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kMinBufferMs = 200;
constexpr std::uint32_t kMaxBufferMs = 60000;

bool startsWithIcy(std::string_view line) {
    if (line.size() < 4) {
        return false;
    }
    std::string prefix(line.substr(0, 4));
    for (char& c : prefix) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return prefix == "icy-";
}

// Serves `first` and then what `read` gives.
FfmpegDecoder::ReadFunction replaying(std::string first, FfmpegDecoder::ReadFunction read) {
    auto pending = std::make_shared<std::pair<std::string, std::size_t>>(std::move(first), 0);
    return [pending, read = std::move(read)](std::span<std::uint8_t> buffer) {
        auto& [bytes, offset] = *pending;
        if (offset < bytes.size()) {
            const std::size_t count = std::min(buffer.size(), bytes.size() - offset);
            std::memcpy(buffer.data(), bytes.data() + offset, count);
            offset += count;
            return static_cast<int>(count);
        }
        return read(buffer);
    };
}

// Text for an ICY metadata value: & and ; as character references, so no
// name can end its field early.
std::string icyValue(std::string_view text) {
    std::string value;
    for (const char c : text) {
        if (c == '&') {
            value += "&#38;";
        } else if (c == ';') {
            value += "&#59;";
        } else {
            value += c;
        }
    }
    return value;
}

// Names as an ICY metadata block, which is how the metadata reader takes
// the names of MP3 and AAC streams.
std::string icyBlock(std::string_view title, std::string_view station) {
    std::string block = "StreamTitle='" + icyValue(title) + "';";
    if (!station.empty()) {
        block += "StreamName='" + icyValue(station) + "';";
    }
    return block;
}

std::vector<std::string> windowsMediaCandidates(const std::string& address) {
    if (address.rfind("mms://", 0) == 0) {
        const std::string rest = address.substr(6);
        return {"mmsh://" + rest, "mmst://" + rest};
    }
    return {address};
}

}  // namespace

DecodingStream::DecodingStream(const FfmpegLoader& ffmpeg, TlsClientContext& tls, StreamHandle handle,
                               std::uint32_t flags, std::uint32_t bufferMs, EventSink events)
    : ffmpeg_(ffmpeg),
      tls_(tls),
      handle_(handle),
      flags_(flags),
      bufferMs_(std::clamp(bufferMs, kMinBufferMs, kMaxBufferMs)),
      events_(std::move(events)),
      callbacks_(handle) {}

DecodingStream::~DecodingStream() {
    cancel();
    if (network_.joinable()) {
        network_.join();
    }
    if (decoder_.joinable()) {
        decoder_.join();
    }
}

void DecodingStream::cancel() {
    cancel_.raise();
    if (raw_) {
        raw_->cancel();
    }
    std::lock_guard<std::mutex> guard(stateLock_);
    if (pcm_) {
        pcm_->cancel();
    }
    stateChanged_.notify_all();
}

void DecodingStream::abortOpen() {
    // raw_ belongs to the opening thread until the open returns; the reader
    // and the decoder notice the signal by themselves within their poll.
    cancel_.raise();
    std::lock_guard<std::mutex> guard(stateLock_);
    stateChanged_.notify_all();
}

bool DecodingStream::runsOn(std::thread::id thread) const {
    return thread == network_.get_id() || thread == decoder_.get_id();
}

AudioResult<void> DecodingStream::openUrl(const std::string& url, DownloadCallback download) {
    callbacks_.setDownload(std::move(download));
    reader_ = std::make_unique<IcyStreamReader>(cancel_, &tls_);
    const bool wantMetadata = (flags_ & audio::kStreamMeta) != 0;
    if (const AudioError error = reader_->open(url, wantMetadata); error != AudioError::Ok) {
        return fail(AudioFailure{error, {}});
    }
    const HttpResponseHead& head = reader_->head();
    if (HlsStreamReader::mayBePlaylist(head.header("Content-Type").value_or(""), reader_->url())) {
        return openHls();
    }
    std::size_t interval = 0;
    std::string formatName;
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        httpTags_.push_back(head.statusLine);
        icyTags_.push_back(head.statusLine);
        for (const std::string& line : head.lines) {
            httpTags_.push_back(line);
            if (startsWithIcy(line)) {
                icyTags_.push_back(line);
            }
        }
        if (icyTags_.size() == 1 && head.statusLine.rfind("ICY", 0) != 0) {
            icyTags_.clear();  // neither an ICY answer nor ICY headers
        }
        contentLength_ = reader_->contentLength();
        live_ = !contentLength_;
    }
    if (wantMetadata) {
        interval = IcyMetadataSplitter::intervalFromHeader(head.header("icy-metaint"));
    }
    formatName = FfmpegDecoder::formatForContentType(head.header("Content-Type").value_or(""));
    std::optional<std::int64_t> totalBytes;
    if (contentLength_ && *contentLength_ <= static_cast<std::uint64_t>(INT64_MAX) && interval == 0) {
        totalBytes = static_cast<std::int64_t>(*contentLength_);
    }

    raw_ = std::make_unique<ByteRing>(kRawBufferBytes);
    network_ = std::thread([this, interval] { runNetwork(interval); });
    startDecoder(formatName, totalBytes);
    return waitUntilOpen();
}

AudioResult<void> DecodingStream::openHls() {
    std::string text;
    if (const AudioError error = HlsStreamReader::readBody(*reader_, HlsStreamReader::kMaxPlaylistBytes, text);
        error != AudioError::Ok) {
        return fail(AudioFailure{error, {}});
    }
    if (!HlsPlaylist::recognise(text)) {
        return fail(AudioFailure{AudioError::FileFormat, {}});
    }
    hls_ = std::make_unique<HlsStreamReader>(cancel_, &tls_, HlsStreamReader::Options{bufferMs_, hlsBandwidth_});
    if (const AudioError error = hls_->open(text, reader_->url()); error != AudioError::Ok) {
        return fail(AudioFailure{error, hls_->failureDetail()});
    }
    const std::string formatName = hls_->formatName();
    {
        // What a server of the bare stream would have said.
        std::lock_guard<std::mutex> guard(stateLock_);
        httpTags_ = {"HTTP/1.0 200 OK", formatName == "aac" ? "Content-Type: audio/aac" : "Content-Type: audio/mpeg"};
        icyTags_.clear();
        contentLength_.reset();
        live_ = hls_->live();
    }
    raw_ = std::make_unique<ByteRing>(kRawBufferBytes);
    network_ = std::thread([this] { runHls(); });
    startDecoder(formatName, std::nullopt);
    return waitUntilOpen();
}

void DecodingStream::startDecoder(const std::string& formatName, std::optional<std::int64_t> totalBytes) {
    decoder_ = std::thread([this, formatName, totalBytes] {
        runDecoder(
            [this, formatName, totalBytes](std::unique_ptr<FfmpegDecoder>& decoder) {
                const bool parsed = FfmpegDecoder::parsesWithoutDemuxer(formatName, totalBytes);
                if (const AudioError missing =
                        newDecoder(decoder, parsed ? Demuxer::NotNeeded : Demuxer::Needed);
                    missing != AudioError::Ok) {
                    return missing;
                }
                const auto read = [this](std::span<std::uint8_t> buffer) { return readRaw(buffer); };
                if (!parsed) {
                    return decoder->openCustom(read, formatName, totalBytes);
                }
                if (formatName != "ogg") {
                    return decoder->openParsed(read, formatName);
                }
                const AudioError opened = decoder->openOgg(read);
                std::optional<std::string> seen = decoder->openingBytes();
                if (opened != AudioError::FileFormat || !seen) {
                    return opened;
                }
                // A codec only libavformat knows: it starts over with what was read.
                if (const AudioError missing = newDecoder(decoder, Demuxer::Needed); missing != AudioError::Ok) {
                    return missing;
                }
                return decoder->openCustom(replaying(std::move(*seen), read), formatName, totalBytes);
            },
            false);
    });
}

AudioResult<void> DecodingStream::openWindowsMedia(const std::string& address) {
    const std::vector<std::string> candidates = windowsMediaCandidates(address);
    decoder_ = std::thread([this, candidates] {
        runDecoder(
            [this, candidates](std::unique_ptr<FfmpegDecoder>& decoder) {
                AudioError error = AudioError::FileOpen;
                for (const std::string& candidate : candidates) {
                    error = newDecoder(decoder, Demuxer::Needed);
                    if (error != AudioError::Ok) {
                        break;
                    }
                    error = decoder->openUrl(candidate, IcyStreamReader::kTimeout);
                    if (error == AudioError::Ok || cancel_.raised()) {
                        break;
                    }
                }
                return error;
            },
            true);
    });
    return waitUntilOpen();
}

AudioResult<void> DecodingStream::waitUntilOpen() {
    std::unique_lock<std::mutex> lock(stateLock_);
    const bool done = stateChanged_.wait_for(lock, kOpenTimeout, [&] {
        return ready_ || failure_.has_value() || cancel_.raised();
    });
    if (ready_) {
        return {};
    }
    const AudioError error = !done ? AudioError::Timeout : failure_.value_or(AudioError::Unknown);
    lock.unlock();
    cancel();
    // What the HLS reader could say of a segment it refused.
    return fail(AudioFailure{error, hls_ ? hls_->failureDetail() : std::string()});
}

int DecodingStream::readRaw(std::span<std::uint8_t> buffer) {
    if (bytesWithoutSamples_ >= kMaxBytesWithoutSamples) {
        return 0;  // as if the stream ended: it is not audio the decoder knows
    }
    for (;;) {
        const long count = raw_->readWait(buffer, std::chrono::milliseconds(200));
        if (count > 0) {
            bytesWithoutSamples_ += static_cast<std::uint64_t>(count);
            rawRead_ += static_cast<std::uint64_t>(count);
            return static_cast<int>(count);
        }
        if (count == ByteRing::kEnded) {
            return 0;
        }
        if (count == ByteRing::kCancelled || cancel_.raised()) {
            return -1;
        }
    }
}

void DecodingStream::announceMetadata(std::string text, std::uint64_t audioBytes, std::uint32_t& tickets) {
    // A server's first block names what is playing as the listener
    // connects, so it belongs to the first sound, wherever it sits.
    // Later ones are placed by the decoder thread once it gets there.
    const bool first = tickets == 0;
    const std::uint32_t ticket = first ? 0 : tickets;
    tickets = tickets == UINT32_MAX ? 1 : tickets + 1;
    const std::optional<std::uint64_t> position = first ? std::optional<std::uint64_t>(0) : std::nullopt;
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        const auto read = static_cast<std::uint64_t>(position_.load(std::memory_order_relaxed));
        while (icyMetadata_.size() >= kMaxIcyBlocks ||
               (icyMetadata_.size() > 1 && icyMetadata_[1].position && *icyMetadata_[1].position <= read)) {
            icyMetadata_.pop_front();  // read past, or too many waiting
        }
        icyMetadata_.push_back({ticket, position, text});
    }
    callbacks_.fire(audio::kSyncMeta, ticket, {std::move(text)}, position);
    if (!first) {
        // After the sync, so the placing never comes before it.
        std::lock_guard<std::mutex> guard(progressLock_);
        if (marks_.size() >= kMaxMarks) {
            marks_.pop_front();
        }
        marks_.push_back({ticket, audioBytes});
    }
}

void DecodingStream::runHls() {
    std::uint64_t audioBytes = 0;
    std::uint32_t tickets = 0;
    const HlsStreamReader::Sinks sinks{
        [&](std::span<const std::uint8_t> bytes) {
            callbacks_.download(bytes, false);
            bodyBytes_.fetch_add(bytes.size());
            if (!raw_->write(bytes)) {
                return false;
            }
            audioBytes += bytes.size();
            return true;
        },
        [&](const std::string& title, const std::string& station) {
            announceMetadata(icyBlock(title, station), audioBytes, tickets);
        },
    };
    hls_->run(sinks);
    raw_->finish();
    if (!cancel_.raised()) {
        callbacks_.download({}, true);
    }
}

void DecodingStream::runNetwork(std::size_t metadataInterval) {
    IcyMetadataSplitter splitter(metadataInterval);
    std::vector<std::uint8_t> buffer(16384);
    bool stop = false;
    std::uint64_t audioBytes = 0;
    std::uint32_t tickets = 0;
    const auto audio = [&](std::span<const std::uint8_t> bytes) {
        callbacks_.download(bytes, false);
        if (!raw_->write(bytes)) {
            stop = true;
        }
        audioBytes += bytes.size();
    };
    const auto metadata = [&](std::string text) { announceMetadata(std::move(text), audioBytes, tickets); };
    auto lastData = Clock::now();
    while (!stop) {
        // Until the first samples are out, silence is a failed open. A wait
        // begun before then gets the longer bound once they are out.
        const auto bound = readyFlag_.load() ? kSilenceTimeout : IcyStreamReader::kTimeout;
        const auto silent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastData);
        const auto result = reader_->read(buffer, std::max(bound - silent, std::chrono::milliseconds(0)));
        if (result.status == NetStatus::TimedOut && readyFlag_.load() &&
            Clock::now() - lastData < kSilenceTimeout) {
            continue;
        }
        if (result.status != NetStatus::Ok) {
            if (result.status == NetStatus::TimedOut) {
                networkTimedOut_.store(true);
            }
            break;
        }
        lastData = Clock::now();
        bodyBytes_.fetch_add(result.count);
        splitter.feed(std::span<const std::uint8_t>(buffer.data(), result.count), audio, metadata);
    }
    raw_->finish();
    if (!cancel_.raised()) {
        callbacks_.download({}, true);
    }
}

AudioError DecodingStream::newDecoder(std::unique_ptr<FfmpegDecoder>& decoder, Demuxer demuxer) {
    const FfmpegCodecFunctions* codecs = ffmpeg_.codecs();
    const FfmpegFormatFunctions* formats = demuxer == Demuxer::Needed ? ffmpeg_.formats() : nullptr;
    if (codecs == nullptr || (demuxer == Demuxer::Needed && formats == nullptr)) {
        return AudioError::NotAvailable;
    }
    decoder = std::make_unique<FfmpegDecoder>(*codecs, formats, [this] { return cancel_.raised(); });
    return AudioError::Ok;
}

void DecodingStream::runDecoder(const Opener& open, bool windowsMedia) {
    std::unique_ptr<FfmpegDecoder> opened;
    const AudioError error = open(opened);
    if (error != AudioError::Ok || !opened) {
        publishFailure(failureReason(error, windowsMedia));
        return;
    }
    FfmpegDecoder& decoder = *opened;
    const auto pcm = [&](std::span<const std::uint8_t> samples) {
        return deliverPcm(samples, decoder, windowsMedia);
    };
    const auto metadata = [&](std::vector<std::string> comments) {
        {
            std::lock_guard<std::mutex> guard(stateLock_);
            comments_ = comments;
        }
        // New comments come before the first samples they belong to.
        callbacks_.fire(audio::kSyncMeta, 0, comments, progress_.pcmBytes);
    };
    for (;;) {
        const FfmpegDecoder::Step step = decoder.decodeNext(pcm, metadata);
        if (step != FfmpegDecoder::Step::Decoded) {
            break;
        }
    }
    std::lock_guard<std::mutex> guard(stateLock_);
    if (pcm_) {
        pcm_->finish();
    }
    if (!ready_ && !failure_) {
        failure_ = failureReason(AudioError::FileFormat, windowsMedia);
        stateChanged_.notify_all();
    }
}

std::uint64_t DecodingStream::placeInStep(std::uint64_t rawOffset, const DecodeProgress& before,
                                          const DecodeProgress& after, std::size_t frameBytes) {
    if (rawOffset <= before.rawBytes || after.rawBytes <= before.rawBytes) {
        return before.pcmBytes;
    }
    const std::uint64_t into = std::min(rawOffset, after.rawBytes) - before.rawBytes;
    const auto share = static_cast<long double>(into) / static_cast<long double>(after.rawBytes - before.rawBytes);
    const auto samples = static_cast<std::uint64_t>(static_cast<long double>(after.pcmBytes - before.pcmBytes) * share);
    const std::size_t frame = std::max<std::size_t>(frameBytes, 1);
    return before.pcmBytes + samples - samples % frame;
}

AudioError DecodingStream::failureReason(AudioError decoderError, bool windowsMedia) const {
    if (cancel_.raised()) {
        return AudioError::Unknown;
    }
    if (windowsMedia || decoderError == AudioError::NotAvailable) {
        return decoderError;
    }
    // The decoder only saw its input end; the network side knows why.
    if (networkTimedOut_.load()) {
        return AudioError::Timeout;
    }
    if (bodyBytes_.load() == 0) {
        return AudioError::FileOpen;
    }
    return decoderError;
}

bool DecodingStream::deliverPcm(std::span<const std::uint8_t> samples, FfmpegDecoder& decoder,
                                bool windowsMedia) {
    bytesWithoutSamples_ = 0;
    bool first = false;
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        if (!pcm_) {
            frameBytes_ = static_cast<std::size_t>(decoder.channels()) * 2;
            const std::size_t bytesPerSecond =
                static_cast<std::size_t>(decoder.sampleRate()) * frameBytes_;
            std::size_t capacity = bytesPerSecond * bufferMs_ / 1000;
            capacity = std::max<std::size_t>(capacity - capacity % frameBytes_, frameBytes_ * 4096);
            resumeLevel_ = std::min(capacity / 2, bytesPerSecond);
            pcm_ = std::make_unique<ByteRing>(capacity);
            if (cancel_.raised()) {
                pcm_->cancel();
            }
            first = true;
        }
    }
    if (!pcm_->write(samples)) {
        return false;
    }
    std::vector<std::pair<std::uint32_t, std::uint64_t>> placed;
    {
        std::lock_guard<std::mutex> guard(progressLock_);
        const DecodeProgress before = progress_;
        progress_.rawBytes = rawRead_ - std::min<std::uint64_t>(rawRead_, decoder.unparsedInputBytes());
        progress_.pcmBytes += samples.size();
        while (!marks_.empty() && marks_.front().rawOffset <= progress_.rawBytes) {
            placed.emplace_back(marks_.front().ticket,
                                placeInStep(marks_.front().rawOffset, before, progress_, frameBytes_));
            marks_.pop_front();
        }
    }
    for (const auto& [ticket, position] : placed) {
        {
            std::lock_guard<std::mutex> guard(stateLock_);
            for (IcyBlock& block : icyMetadata_) {
                if (block.ticket == ticket) {
                    block.position = position;
                }
            }
        }
        callbacks_.fire(audio::kSyncMetaPlaced, ticket, {}, position);
    }
    if (first) {
        publishReady(decoder, windowsMedia);
    }
    return true;
}

void DecodingStream::publishReady(const FfmpegDecoder& decoder, bool windowsMedia) {
    std::lock_guard<std::mutex> guard(stateLock_);
    if (windowsMedia) {
        live_ = decoder.durationUs() < 0;
        windowsMediaTags_ = decoder.windowsMediaTags();
    }
    comments_ = decoder.comments();
    info_.frequency = static_cast<std::uint32_t>(decoder.sampleRate());
    info_.channels = static_cast<std::uint32_t>(decoder.channels());
    info_.channelType = decoder.channelType();
    info_.flags = flags_ | (live_ ? audio::kStreamBlock : 0);
    if (!live_) {
        double seconds = -1;
        if (decoder.durationUs() > 0) {
            seconds = static_cast<double>(decoder.durationUs()) / 1e6;
        } else if (contentLength_ && decoder.bitRate() > 0) {
            seconds = static_cast<double>(*contentLength_) * 8 / static_cast<double>(decoder.bitRate());
        }
        if (seconds > 0) {
            const auto frames = static_cast<std::int64_t>(seconds * decoder.sampleRate());
            lengthBytes_ = frames * static_cast<std::int64_t>(frameBytes_);
        }
    }
    ready_ = true;
    readyFlag_.store(true);
    stateChanged_.notify_all();
}

void DecodingStream::publishFailure(AudioError error) {
    std::lock_guard<std::mutex> guard(stateLock_);
    if (!ready_ && !failure_) {
        failure_ = error;
        stateChanged_.notify_all();
    }
}

std::int32_t DecodingStream::getData(std::span<std::uint8_t> buffer) {
    // A listener that pulls has set the syncs it wants.
    if (!pulled_.exchange(true, std::memory_order_relaxed)) {
        callbacks_.releaseParked();
    }
    std::lock_guard<std::mutex> guard(dataLock_);
    ByteRing* ring = nullptr;
    {
        std::lock_guard<std::mutex> state(stateLock_);
        if (!ready_) {
            return 0;
        }
        ring = pcm_.get();
    }
    if (stalled_) {
        if (!ring->finished() && ring->size() < resumeLevel_) {
            return 0;
        }
        stalled_ = false;
        events_(audio::kSyncStall, audio::kResumeData);
    }
    const std::size_t wanted = std::min<std::size_t>(buffer.size() - buffer.size() % frameBytes_,
                                                     static_cast<std::size_t>(INT32_MAX) / 2);
    const std::size_t count = ring->read(buffer.first(wanted));
    if (count == 0 && wanted > 0) {
        if (ring->drained()) {
            if (!endReported_) {
                endReported_ = true;
                events_(audio::kSyncEnd, 0);
            }
            return -1;  // ended and drained
        }
        stalled_ = true;
        events_(audio::kSyncStall, audio::kStallData);
        return 0;
    }
    position_.fetch_add(static_cast<std::int64_t>(count), std::memory_order_relaxed);
    if (!endReported_ && ring->drained()) {
        endReported_ = true;  // the last samples went out with this call
        events_(audio::kSyncEnd, 0);
    }
    return static_cast<std::int32_t>(count);
}

ActiveState DecodingStream::isActive() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    if (!pcm_) {
        return ActiveState::Playing;
    }
    if (pcm_->drained()) {
        return ActiveState::Stopped;
    }
    return stalled_.load() ? ActiveState::Stalled : ActiveState::Playing;
}

ChannelInfo DecodingStream::info() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    return info_;
}

std::optional<std::vector<std::string>> DecodingStream::tags(std::uint32_t type) const {
    std::lock_guard<std::mutex> guard(stateLock_);
    const std::vector<std::string>* found = nullptr;
    switch (type) {
        case audio::kTagHttp: found = &httpTags_; break;
        case audio::kTagIcy: found = &icyTags_; break;
        case audio::kTagOgg: found = &comments_; break;
        case audio::kTagMeta:
            if (!windowsMediaTags_.empty()) {
                found = &windowsMediaTags_;
            } else if (!icyMetadata_.empty()) {
                const auto read = static_cast<std::uint64_t>(position_.load(std::memory_order_relaxed));
                auto applies = icyMetadata_.begin();
                for (auto next = std::next(applies); next != icyMetadata_.end() && next->position &&
                                                     *next->position <= read;
                     ++next) {
                    applies = next;
                }
                return std::vector<std::string>{applies->text};
            }
            break;
        default: break;
    }
    if (found == nullptr || found->empty()) {
        return std::nullopt;
    }
    return *found;
}

std::int64_t DecodingStream::length() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    return lengthBytes_;
}

}  // namespace korvanel
