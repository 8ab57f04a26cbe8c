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
#include "audio/engine/playlist_body_check.h"
#include "stream/hls_playlist.h"
#include "stream/playlist_sniffer.h"

namespace korvanel {
namespace {

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

std::vector<std::string> windowsMediaCandidates(const std::string& address) {
    if (address.rfind("mms://", 0) == 0) {
        const std::string rest = address.substr(6);
        return {"mmsh://" + rest, "mmst://" + rest};
    }
    return {address};
}

}  // namespace

DecodingStream::DecodingStream(const FfmpegLoader& ffmpeg, TlsClientContext& tls, std::uint32_t flags, std::uint32_t bufferMs, EventSink events)
    : ffmpeg_(ffmpeg),
      tls_(tls),
      flags_(flags),
      bufferMs_(std::clamp(bufferMs, kMinBufferMs, kMaxBufferMs)),
      events_(std::move(events)),
      titles_(callbacks_),
      playout_(bufferMs_, events_),
      feed_(callbacks_, titles_, playout_, cancel_, readyFlag_) {}

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
    playout_.cancel();
    std::lock_guard<std::mutex> guard(stateLock_);
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
    // A server that interleaves titles sends audio; any other body may be
    // a playlist under an address that does not say so.
    if (interval == 0) {
        const AudioResult<BodyKind> body = bodyKind(*reader_, head.header("Content-Type").value_or(""));
        if (!body || *body == BodyKind::Playlist) {
            return fail(body ? AudioFailure{AudioError::Playlist, {}} : body.error());
        }
    }
    formatName = FfmpegDecoder::formatForContentType(head.header("Content-Type").value_or(""));
    std::optional<std::int64_t> totalBytes;
    if (contentLength_ && *contentLength_ <= static_cast<std::uint64_t>(INT64_MAX) && interval == 0) {
        totalBytes = static_cast<std::int64_t>(*contentLength_);
    }

    raw_ = std::make_unique<ByteRing>(kRawBufferBytes);
    network_ = std::thread([this, interval] { feed_.runIcy(*reader_, *raw_, interval); });
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
        // An M3U of addresses, or another playlist, under HLS's type or name.
        const bool playlist = PlaylistSniffer::sniff(reader_->head().header("Content-Type").value_or(""), text, true)
                                  .verdict == PlaylistSniffer::Verdict::Playlist;
        return fail(AudioFailure{playlist ? AudioError::Playlist : AudioError::FileFormat, {}});
    }
    hls_ = std::make_unique<HlsStreamReader>(cancel_, &tls_, HlsStreamReader::Options{bufferMs_, hlsBandwidth_});
    if (AudioResult<void> opened = hls_->open(text, reader_->url()); !opened) {
        return opened;
    }
    const std::string formatName = hls_->formatName();
    {
        // What a server of the bare stream would have said.
        std::lock_guard<std::mutex> guard(stateLock_);
        httpTags_ = {"HTTP/1.0 200 OK", formatName == "aac"   ? "Content-Type: audio/aac"
                                        : formatName == "ogg" ? "Content-Type: application/ogg"
                                                              : "Content-Type: audio/mpeg"};
        icyTags_.clear();
        contentLength_.reset();
        live_ = hls_->live();
    }
    raw_ = std::make_unique<ByteRing>(kRawBufferBytes);
    network_ = std::thread([this] { feed_.runHls(*hls_, *raw_); });
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
    return audioFailure(error);
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
        callbacks_.fire(audio::kSyncMeta, 0, comments, titles_.decodedBytes());
    };
    for (;;) {
        const FfmpegDecoder::Step step = decoder.decodeNext(pcm, metadata);
        if (step != FfmpegDecoder::Step::Decoded) {
            break;
        }
    }
    playout_.finish();
    std::lock_guard<std::mutex> guard(stateLock_);
    if (!ready_ && !failure_) {
        failure_ = failureReason(AudioError::FileFormat, windowsMedia);
        stateChanged_.notify_all();
    }
}

AudioError DecodingStream::failureReason(AudioError decoderError, bool windowsMedia) const {
    if (cancel_.raised()) {
        return AudioError::Unknown;
    }
    if (windowsMedia || decoderError == AudioError::NotAvailable) {
        return decoderError;
    }
    // The decoder only saw its input end; the network side knows why.
    if (feed_.timedOut()) {
        return AudioError::Timeout;
    }
    if (feed_.bodyBytes() == 0) {
        return AudioError::FileOpen;
    }
    return decoderError;
}

bool DecodingStream::deliverPcm(std::span<const std::uint8_t> samples, FfmpegDecoder& decoder,
                                bool windowsMedia) {
    bytesWithoutSamples_ = 0;
    const bool first = playout_.create(decoder.sampleRate(), decoder.channels(), cancel_.raised());
    if (!playout_.write(samples)) {
        return false;
    }
    titles_.decoded(rawRead_ - std::min<std::uint64_t>(rawRead_, decoder.unparsedInputBytes()), samples.size(),
                    playout_.frameBytes());
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
            lengthBytes_ = frames * static_cast<std::int64_t>(playout_.frameBytes());
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
    if (!readyFlag_.load()) {
        return 0;
    }
    return playout_.read(buffer);
}

ActiveState DecodingStream::isActive() const { return playout_.state(); }

ChannelInfo DecodingStream::info() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    return info_;
}

std::optional<std::vector<std::string>> DecodingStream::tags(std::uint32_t type) const {
    if (type == audio::kTagMeta) {
        {
            std::lock_guard<std::mutex> guard(stateLock_);
            if (!windowsMediaTags_.empty()) {
                return windowsMediaTags_;
            }
        }
        if (std::optional<std::string> text = titles_.textAt(static_cast<std::uint64_t>(playout_.position()))) {
            return std::vector<std::string>{std::move(*text)};
        }
        return std::nullopt;
    }
    std::lock_guard<std::mutex> guard(stateLock_);
    const std::vector<std::string>* found = nullptr;
    switch (type) {
        case audio::kTagHttp: found = &httpTags_; break;
        case audio::kTagIcy: found = &icyTags_; break;
        case audio::kTagOgg: found = &comments_; break;
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
