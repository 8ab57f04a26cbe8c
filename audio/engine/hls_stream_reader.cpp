#include "audio/engine/hls_stream_reader.h"

#include <poll.h>

#include <algorithm>
#include <array>
#include <thread>

#include "audio/engine/aes_cbc_decryptor.h"
#include "audio/engine/hls_segment.h"
#include "audio/engine/id3_tag.h"
#include "audio/engine/icy_stream_reader.h"
#include "base/ascii_text.h"

namespace korvanel {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxKeys = 16;
constexpr std::size_t kKeyBytes = 16;
constexpr std::size_t kMaxInitBytes = 1024 * 1024;
constexpr std::uint32_t kOggSerial = 0x4B52564C;
// open() reads the first segment this far at most to learn its format.
constexpr std::size_t kMaxEarlyBytes = 1024 * 1024;

std::chrono::milliseconds targetOf(const HlsPlaylist& playlist) {
    // Bounded, so that a server's nonsense neither spins nor stalls us.
    const double seconds = std::clamp(playlist.targetSeconds, 1.0, 30.0);
    return std::chrono::milliseconds(static_cast<long>(seconds * 1000));
}

}  // namespace

HlsStreamReader::HlsStreamReader(const CancelSignal& cancel, TlsClientContext* tls, Options options)
    : cancel_(cancel), tls_(tls), options_(options) {}

HlsStreamReader::~HlsStreamReader() = default;

bool HlsStreamReader::mayBePlaylist(std::string_view contentType, const StreamUrl& url) {
    const std::string type = lowerAscii(trimmedAscii(contentType.substr(0, contentType.find(';'))));
    if (type == "application/vnd.apple.mpegurl" || type == "application/x-mpegurl" || type == "audio/mpegurl" ||
        type == "audio/x-mpegurl") {
        return true;
    }
    const std::string path = lowerAscii(std::string_view(url.target).substr(0, url.target.find('?')));
    return path.ends_with(".m3u8") && !type.starts_with("audio/");
}

AudioError HlsStreamReader::readBody(IcyStreamReader& reader, std::size_t maxBytes, std::string& body) {
    body.clear();
    std::array<std::uint8_t, 16384> buffer{};
    const std::optional<std::uint64_t> length = reader.contentLength();
    while (!length || body.size() < *length) {
        const auto result = reader.read(buffer, kTimeout);
        if (result.status == NetStatus::Closed) {
            break;
        }
        if (result.status != NetStatus::Ok) {
            return result.status == NetStatus::TimedOut ? AudioError::Timeout : AudioError::FileOpen;
        }
        if (body.size() + result.count > maxBytes) {
            return AudioError::FileFormat;
        }
        body.append(reinterpret_cast<const char*>(buffer.data()), result.count);
    }
    return AudioError::Ok;
}

AudioError HlsStreamReader::fetch(const StreamUrl& url, std::size_t maxBytes, std::string& body, StreamUrl& answered) {
    IcyStreamReader reader(cancel_, tls_);
    if (const AudioError error = reader.open(url.toString(), false, kTimeout); error != AudioError::Ok) {
        return error;
    }
    if (const AudioError error = readBody(reader, maxBytes, body); error != AudioError::Ok) {
        return error;
    }
    answered = reader.url();
    return AudioError::Ok;
}

AudioResult<void> HlsStreamReader::open(std::string_view text, const StreamUrl& url) {
    std::string body(text);
    StreamUrl at = url;
    for (int level = 0;; ++level) {
        std::optional<HlsPlaylist> playlist = HlsPlaylist::parse(body, at);
        if (!playlist) {
            return audioFailure(AudioError::FileFormat);
        }
        if (playlist->kind == HlsPlaylist::Kind::Media) {
            playlist_ = std::move(*playlist);
            mediaUrl_ = at;
            break;
        }
        const HlsPlaylist::Variant* variant = playlist->chooseVariant(options_.maxBandwidth);
        const std::optional<StreamUrl> next = variant ? StreamUrl::parse(variant->address) : std::nullopt;
        if (level == kMaxMasterLevels || !next) {
            return audioFailure(AudioError::FileFormat);  // a master that names only masters, or nothing playable
        }
        if (const AudioError error = fetch(*next, kMaxPlaylistBytes, body, at); error != AudioError::Ok) {
            return audioFailure(error);
        }
    }
    // A live playlist may be empty for a moment after the stream starts.
    for (int tries = 0; playlist_.segments.empty() && !playlist_.ended && tries < 2; ++tries) {
        if (!wait(targetOf(playlist_)) || !reload()) {
            break;
        }
    }
    if (playlist_.segments.empty()) {
        return audioFailure(cancel_.raised() ? AudioError::Unknown : AudioError::FileOpen);
    }

    const HlsPlaylist::Segment first = playlist_.segments[startIndex()];
    nextSequence_ = first.sequence;
    const Sinks collect{
        [this](std::span<const std::uint8_t> bytes) {
            early_.insert(early_.end(), bytes.begin(), bytes.end());
            return early_.size() <= kMaxEarlyBytes;
        },
        [this](const std::string& title, const std::string& station) {
            earlyNames_.push_back({early_.size(), title, station});
        },
    };
    titleFromPlaylist(first, collect);
    if (AudioResult<void> begun = begin(first); !begun) {
        return begun;
    }
    const Pumped pumped = pump(collect, true);
    if (pumped == Pumped::Stopped) {
        return audioFailure(cancel_.raised() ? AudioError::Unknown : AudioError::FileFormat);
    }
    if (pumped == Pumped::Failed || segment_->format.empty() || segment_->unsupported) {
        return audioFailure(pumped == Pumped::Failed ? AudioError::FileOpen : AudioError::FileFormat,
                            segment_->unsupported ? "the HLS stream's audio is neither AAC nor MP3" : "");
    }
    formatName_ = segment_->format;
    if (pumped == Pumped::Done) {
        nextSequence_ = segment_->sequence + 1;
        segment_.reset();
    }
    return {};
}

std::size_t HlsStreamReader::startIndex() const {
    const std::size_t count = playlist_.segments.size();
    if (playlist_.ended || count == 0) {
        return 0;
    }
    // Enough segments back from the live edge to fill the buffer, but no
    // further than the third-last: earlier ones may go before we get them.
    const std::size_t earliest = count >= 3 ? count - 3 : 0;
    std::size_t index = count;
    double seconds = 0;
    while (index > earliest && seconds * 1000 < options_.bufferMs) {
        --index;
        seconds += playlist_.segments[index].seconds;
    }
    return index;
}

bool HlsStreamReader::reload() {
    std::string body;
    StreamUrl answered;
    if (fetch(mediaUrl_, kMaxPlaylistBytes, body, answered) != AudioError::Ok) {
        return false;
    }
    std::optional<HlsPlaylist> playlist = HlsPlaylist::parse(body, answered);
    if (!playlist || playlist->kind != HlsPlaylist::Kind::Media) {
        return false;
    }
    playlist_ = std::move(*playlist);
    return true;
}

AudioResult<std::unique_ptr<AesCbcDecryptor>> HlsStreamReader::cipherFor(const HlsPlaylist::Key& key,
                                                                         std::uint64_t sequence) {
    if (key.method == "NONE") {
        return std::unique_ptr<AesCbcDecryptor>();
    }
    if (key.method != "AES-128") {
        // SAMPLE-AES and the like: not ours to undo. The method is the
        // server's text: bounded and kept printable for the log line.
        std::string method = key.method.substr(0, 32);
        std::replace_if(method.begin(), method.end(), [](char c) { return c < 0x20 || c > 0x7E; }, '?');
        return audioFailure(AudioError::FileFormat, "HLS encryption " + method + " is not supported");
    }
    auto found = keys_.find(key.address);
    if (found == keys_.end()) {
        const std::optional<StreamUrl> keyUrl = StreamUrl::parse(key.address);
        std::string bytes;
        StreamUrl answered;
        if (!keyUrl) {
            return audioFailure(AudioError::FileOpen);
        }
        if (const AudioError error = fetch(*keyUrl, kKeyBytes, bytes, answered); error != AudioError::Ok) {
            return audioFailure(error);
        }
        if (bytes.size() != kKeyBytes) {
            return audioFailure(AudioError::FileFormat, "the HLS key is not 16 bytes long");
        }
        if (keys_.size() >= kMaxKeys) {
            keys_.clear();
        }
        AesCbcDecryptor::Block block{};
        std::copy(bytes.begin(), bytes.end(), block.begin());
        found = keys_.emplace(key.address, block).first;
    }
    AesCbcDecryptor::Block iv{};
    if (key.iv) {
        iv = *key.iv;
    } else {
        for (int i = 0; i < 8; ++i) {  // the sequence number, big-endian
            iv[static_cast<std::size_t>(15 - i)] = static_cast<std::uint8_t>(sequence >> (8 * i));
        }
    }
    return std::make_unique<AesCbcDecryptor>(found->second, iv);
}

AudioResult<void> HlsStreamReader::loadInit(const HlsPlaylist::Map& map, std::uint64_t sequence) {
    if (init_ && initMap_ == map) {
        return {};
    }
    const std::optional<StreamUrl> url = StreamUrl::parse(map.address);
    if (!url) {
        return audioFailure(AudioError::FileOpen);
    }
    std::string body;
    StreamUrl answered;
    // A range is cut from the whole resource, which must stay within the bound.
    if (const AudioError error = fetch(*url, kMaxInitBytes, body, answered); error != AudioError::Ok) {
        return audioFailure(error);
    }
    if (map.length > 0) {
        if (map.offset > body.size() || map.length > body.size() - map.offset) {
            return audioFailure(AudioError::FileFormat, "the HLS initialisation section is shorter than its range");
        }
        body = body.substr(static_cast<std::size_t>(map.offset), static_cast<std::size_t>(map.length));
    }
    AudioResult<std::unique_ptr<AesCbcDecryptor>> cipher = cipherFor(map.key, sequence);
    if (!cipher) {
        return Failed<AudioFailure>{cipher.error()};
    }
    std::vector<std::uint8_t> clear;
    if (*cipher) {
        const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(body.data()), body.size());
        std::vector<std::uint8_t> last;
        if (!(*cipher)->update(bytes, clear) || !(*cipher)->finish(last)) {
            return audioFailure(AudioError::FileFormat, "the HLS initialisation section does not decrypt");
        }
        clear.insert(clear.end(), last.begin(), last.end());
    } else {
        clear.assign(body.begin(), body.end());
    }
    std::string unsupported;
    std::optional<Fmp4Track> track = Fmp4Track::parse(clear, unsupported);
    if (!track) {
        return audioFailure(AudioError::FileFormat,
                            unsupported.empty() ? "the HLS initialisation section names no audio track"
                                                : "the HLS stream's audio (" + unsupported.substr(0, 48) +
                                                      ") is not one we play");
    }
    init_ = *track;
    initMap_ = map;
    // Another track: its Opus or FLAC is a logical stream of its own.
    oggStream_ = std::make_unique<Fmp4OggStream>(kOggSerial + static_cast<std::uint32_t>(++initsLoaded_));
    return {};
}

AudioResult<void> HlsStreamReader::begin(const HlsPlaylist::Segment& segment) {
    const std::optional<StreamUrl> url = StreamUrl::parse(segment.address);
    if (!url) {
        return audioFailure(AudioError::FileOpen);
    }
    auto next = std::make_unique<HlsSegment>(cancel_, tls_, segment.sequence);
    if (segment.map) {
        if (AudioResult<void> loaded = loadInit(*segment.map, segment.sequence); !loaded) {
            return loaded;
        }
        next->track = init_;
        next->ogg = oggStream_.get();
    }
    AudioResult<std::unique_ptr<AesCbcDecryptor>> cipher = cipherFor(segment.key, segment.sequence);
    if (!cipher) {
        return Failed<AudioFailure>{cipher.error()};
    }
    next->cipher = std::move(*cipher);
    if (const AudioError error = next->reader.open(url->toString(), false, kTimeout); error != AudioError::Ok) {
        return audioFailure(error);
    }
    segment_ = std::move(next);
    return {};
}

HlsStreamReader::Pumped HlsStreamReader::pump(const Sinks& sinks, bool untilFormatKnown) {
    HlsSegment& segment = *segment_;
    const HlsSegment::TagSink onTag = [&](std::span<const std::uint8_t> tag) {
        const std::optional<id3::Names> names = id3::names(tag);
        if (!names) {
            return;
        }
        // A tag that names only the station keeps the title, and the other way round.
        const std::string& title = names->track.empty() ? lastTitle_ : names->track;
        const std::string& station = names->station.empty() ? lastStation_ : names->station;
        if (title != lastTitle_ || station != lastStation_) {
            lastTitle_ = title;
            lastStation_ = station;
            sinks.names(lastTitle_, lastStation_);
        }
    };
    const std::optional<std::uint64_t> length = segment.reader.contentLength();
    std::array<std::uint8_t, 16384> buffer{};
    std::vector<std::uint8_t> clear;
    for (;;) {
        if (untilFormatKnown && (!segment.format.empty() || segment.unsupported)) {
            return Pumped::FormatKnown;
        }
        const bool whole = length && segment.bodyBytes >= *length;
        const auto result = whole ? NetworkConnection::ReadResult{NetStatus::Closed, 0}
                                  : segment.reader.read(buffer, kTimeout);
        if (result.status == NetStatus::Closed) {
            if (length && segment.bodyBytes < *length) {
                return Pumped::Failed;  // cut short
            }
            if (segment.cipher && (!segment.cipher->finish(clear) || !segment.take(clear, sinks.audio, onTag))) {
                return cancel_.raised() ? Pumped::Stopped : Pumped::Failed;
            }
            return segment.finish(sinks.audio, onTag) ? Pumped::Done : Pumped::Stopped;
        }
        if (result.status != NetStatus::Ok) {
            return cancel_.raised() || result.status == NetStatus::Cancelled ? Pumped::Stopped : Pumped::Failed;
        }
        segment.bodyBytes += result.count;
        std::span<const std::uint8_t> bytes(buffer.data(), result.count);
        if (segment.cipher) {
            if (!segment.cipher->update(bytes, clear)) {
                return Pumped::Failed;
            }
            bytes = clear;
        }
        if (!segment.take(bytes, sinks.audio, onTag)) {
            return Pumped::Stopped;
        }
    }
}

void HlsStreamReader::titleFromPlaylist(const HlsPlaylist::Segment& segment, const Sinks& sinks) {
    if (!segment.title.empty() && segment.title != lastTitle_) {
        lastTitle_ = segment.title;
        sinks.names(lastTitle_, lastStation_);
    }
}

bool HlsStreamReader::wait(Clock::duration time) const {
    const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(time).count();
    if (milliseconds > 0) {
        pollfd entry{cancel_.readFd(), POLLIN, 0};
        ::poll(&entry, 1, static_cast<int>(std::min<long long>(milliseconds, 60000)));
    }
    return !cancel_.raised();
}

HlsStreamReader::End HlsStreamReader::run(const Sinks& sinks) {
    // First what open() read.
    std::size_t at = 0;
    for (const EarlyNames& early : earlyNames_) {
        if (early.offset > at && !sinks.audio(std::span<const std::uint8_t>(early_).subspan(at, early.offset - at))) {
            return End::Stopped;
        }
        at = std::max(at, early.offset);
        sinks.names(early.title, early.station);
    }
    if (at < early_.size() && !sinks.audio(std::span<const std::uint8_t>(early_).subspan(at))) {
        return End::Stopped;
    }
    early_ = {};
    earlyNames_ = {};

    int failures = 0;  // in a row: segments and reloads
    auto lastReload = Clock::now();
    auto lastAdvance = lastReload;
    bool advanced = true;
    for (;;) {
        if (segment_) {
            const Pumped pumped = pump(sinks, false);
            const bool gaveAudio = segment_->audioBytes > 0;
            const std::uint64_t sequence = segment_->sequence;
            segment_.reset();
            if (pumped == Pumped::Stopped) {
                return End::Stopped;
            }
            if (pumped == Pumped::Failed) {
                if (++failures >= 2) {
                    return End::Dropped;
                }
                if (gaveAudio) {
                    nextSequence_ = sequence + 1;  // a retry would play its start twice
                }
                continue;
            }
            failures = 0;
            nextSequence_ = sequence + 1;
        }
        const auto next = std::find_if(playlist_.segments.begin(), playlist_.segments.end(),
                                       [&](const HlsPlaylist::Segment& s) { return s.sequence >= nextSequence_; });
        if (next != playlist_.segments.end()) {
            // A jump in the numbering (segments we missed are gone): on from the first there is.
            nextSequence_ = next->sequence;
            const HlsPlaylist::Segment segment = *next;
            titleFromPlaylist(segment, sinks);
            if (!begin(segment)) {
                if (cancel_.raised()) {
                    return End::Stopped;
                }
                if (++failures >= 2) {
                    return End::Dropped;
                }
            }
            continue;
        }
        if (playlist_.ended) {
            return End::Finished;
        }
        // Reload after a target duration, or half of one after a reload that
        // brought nothing new.
        const auto target = targetOf(playlist_);
        if (!wait(lastReload + (advanced ? target : target / 2) - Clock::now())) {
            return End::Stopped;
        }
        lastReload = Clock::now();
        if (!reload()) {
            if (cancel_.raised()) {
                return End::Stopped;
            }
            if (++failures >= 2) {
                return End::Dropped;
            }
            continue;
        }
        // Numbers far below ours: the packager started over, so do we, near its live edge.
        // (A stale copy from a cache is only a little behind and waits for the next reload.)
        if (!playlist_.segments.empty() &&
            playlist_.segments.back().sequence + 1 + 2 * playlist_.segments.size() < nextSequence_) {
            nextSequence_ = playlist_.segments[startIndex()].sequence;
        }
        advanced = std::any_of(playlist_.segments.begin(), playlist_.segments.end(),
                               [&](const HlsPlaylist::Segment& s) { return s.sequence >= nextSequence_; });
        if (advanced) {
            lastAdvance = lastReload;
            failures = 0;
        } else if (lastReload - lastAdvance >= 3 * target) {
            return End::Dropped;  // the playlist stopped moving
        }
    }
}

}  // namespace korvanel
