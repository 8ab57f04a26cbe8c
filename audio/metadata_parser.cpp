#include "audio/metadata_parser.h"

#include <charconv>
#include <cstdint>

#include "base/ascii_text.h"
#include "audio/channel_notice.h"
#include "audio/recording_sink.h"
#include "audio/stream_info.h"
#include "settings/text_encoding.h"

namespace korvanel {
namespace {

constexpr std::string_view kIcyUrl = "icy-url:";
constexpr std::string_view kIcyName = "icy-name:";
constexpr std::string_view kStreamTitle = "StreamTitle='";
constexpr std::string_view kStreamName = "StreamName='";
constexpr std::string_view kTitleEnd = "';";
// Windows Media tags read "Key = value": the value starts key length + 3 in.
constexpr std::size_t kBitrateValueOffset = 10;
constexpr std::size_t kTitleValueOffset = 8;
constexpr std::size_t kAuthorValueOffset = 9;

bool startsWithLower(std::string_view text, std::string_view lowerPrefix) {
    if (text.size() < lowerPrefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < lowerPrefix.size(); ++i) {
        if (lowerAscii(text[i]) != lowerPrefix[i]) {
            return false;
        }
    }
    return true;
}

// The text from offset on; nothing when it is shorter.
std::string_view from(std::string_view text, std::size_t offset) {
    return offset <= text.size() ? text.substr(offset) : std::string_view{};
}

// Leading white space, a sign and digits, as atoi reads them; 0 when there is
// no number or it does not fit.
long long leadingNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
        ++i;
    }
    if (i < text.size() && text[i] == '+') {
        ++i;
    }
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data() + i, text.data() + text.size(), value);
    (void)end;
    return error == std::errc{} ? value : 0;
}

std::string joined(const std::string& first, const std::string& second) {
    if (!first.empty() && !second.empty()) {
        return first + " - " + second;
    }
    return first.empty() ? second : first;
}

}  // namespace

MetadataParser::MetadataParser(StreamInfo& info, RecordingSink* recorder, ChannelNotices* notices)
    : info_(info), recorder_(recorder), notices_(notices) {}

void MetadataParser::parseHeaders(std::span<const std::string> headers) {
    Reading reading;
    for (const std::string& header : headers) {
        // Header names are case-insensitive in HTTP; servers differ.
        const std::string lower = lowerAscii(header);
        const std::size_t url = lower.find(kIcyUrl);
        if (url != std::string::npos) {
            info_.setStationUrl(cleanValue(from(header, url + kIcyUrl.size())));
        }
        const std::size_t name = lower.find(kIcyName);
        if (name != std::string::npos) {
            reading.stationName = cleanValue(from(header, name + kIcyName.size()));
        }
    }
    apply(reading);
    tellRecorder();
    report(true);
}

void MetadataParser::parseMetadata(std::span<const std::string> texts) {
    const Reading reading = read(texts);
    const bool changed = apply(reading);
    tellRecorder();
    report(changed);
}

MetadataParser::Reading MetadataParser::metadataArrived(std::span<const std::string> texts) {
    Reading reading = read(texts);
    {
        std::lock_guard<std::mutex> guard(arrivedLock_);
        reading.arrival = ++arrivals_;
        if (reading.title) {
            arrivedTitle_ = StreamInfo::trimmed(*reading.title);
        }
        if (reading.stationName) {
            arrivedStationName_ = StreamInfo::trimmed(*reading.stationName);
        }
    }
    tellRecorder();
    return reading;
}

void MetadataParser::metadataHeard(const Reading& reading) {
    const bool changed = apply(reading);
    {
        // Heard up to the last arrival: the stream information says it all.
        std::lock_guard<std::mutex> guard(arrivedLock_);
        if (reading.arrival == arrivals_) {
            arrivedTitle_.reset();
            arrivedStationName_.reset();
        }
    }
    report(changed);
}

MetadataParser::Reading MetadataParser::read(std::span<const std::string> texts) const {
    if (texts.empty()) {
        return {};
    }
    switch (info_.kind()) {
        case StreamKind::Other: return {};
        case StreamKind::OggVorbis:
        case StreamKind::OggOpus:
        case StreamKind::OggFlac: return readOggComments(texts);
        case StreamKind::WindowsMedia: return readWindowsMediaTags(texts);
        case StreamKind::Mp3:
        case StreamKind::MpegLayer1:
        case StreamKind::MpegLayer2:
        case StreamKind::Mpeg2Layer1:
        case StreamKind::Mpeg2Layer2:
        case StreamKind::Mpeg2Layer3:
        case StreamKind::Aac: return readIcyMetadata(texts);
    }
    return {};
}

MetadataParser::Reading MetadataParser::readOggComments(std::span<const std::string> texts) {
    std::string artist;
    std::string title;
    bool named = false;
    for (const std::string& comment : texts) {
        if (startsWithLower(comment, "artist=")) {
            artist = cleanValue(from(comment, 7));
            named = true;
        } else if (startsWithLower(comment, "title=")) {
            title = cleanValue(from(comment, 6));
            named = true;
        }
    }
    // A title that is there but empty is a new, untitled track: the old
    // title must not stay on the screen or in the next file's name.
    Reading reading;
    if (named) {
        reading.title = joined(artist, title);
        reading.changed = true;
    }
    return reading;
}

MetadataParser::Reading MetadataParser::readWindowsMediaTags(std::span<const std::string> texts) const {
    std::string author;
    std::string title;
    Reading reading;
    for (const std::string& tag : texts) {
        const std::string lower = lowerAscii(tag);
        if (info_.bitrate() == 0 && !reading.bitrate && lower.find("bitrate") != std::string::npos) {
            const long long bitsPerSecond = leadingNumber(from(tag, kBitrateValueOffset));
            if (bitsPerSecond > 0 && bitsPerSecond / 1024 <= INT32_MAX) {
                reading.bitrate = static_cast<int>(bitsPerSecond / 1024);
                reading.changed = true;
            }
        }
        if (lower.starts_with("title")) {
            title = cleanValue(from(tag, kTitleValueOffset));
            reading.changed = true;
        } else if (lower.starts_with("author")) {
            author = cleanValue(from(tag, kAuthorValueOffset));
            reading.changed = true;
        }
    }
    std::string name = joined(author, title);
    if (!name.empty()) {
        reading.stationName = std::move(name);
    }
    return reading;
}

MetadataParser::Reading MetadataParser::readIcyMetadata(std::span<const std::string> texts) {
    Reading reading;
    reading.titleIfChanged = true;
    for (const std::string& text : texts) {
        if (std::optional<std::string> title = icyStreamTitle(text)) {
            reading.title = std::move(title);
        }
        // Not in the servers' ICY blocks, but in those we make of a stream's own tags (HLS).
        if (std::optional<std::string> name = icyField(text, kStreamName); name && !name->empty()) {
            reading.stationName = std::move(name);
        }
    }
    return reading;
}

bool MetadataParser::apply(const Reading& reading) {
    bool changed = reading.changed;
    if (reading.bitrate) {
        info_.setBitrate(*reading.bitrate);
    }
    if (reading.stationName) {
        info_.setStationName(*reading.stationName);
    }
    if (reading.title) {
        if (reading.titleIfChanged) {
            changed = info_.setTitleIfChanged(*reading.title) || changed;
        } else {
            info_.setTitle(*reading.title);
        }
    }
    return changed;
}

void MetadataParser::tellRecorder() {
    if (recorder_ == nullptr) {
        return;
    }
    StreamInfo::Snapshot info = info_.snapshot();
    {
        std::lock_guard<std::mutex> guard(arrivedLock_);
        if (arrivedTitle_) {
            info.title = *arrivedTitle_;
        }
        if (arrivedStationName_) {
            info.stationName = *arrivedStationName_;
        }
    }
    recorder_->onStreamInfo(info);
}

void MetadataParser::report(bool changed) {
    if (changed && notices_ != nullptr) {
        notices_->notify(ChannelNotice::InfoParsed);
    }
}

std::optional<std::string> MetadataParser::icyStreamTitle(std::string_view text) {
    return icyField(text, kStreamTitle);
}

std::optional<std::string> MetadataParser::icyField(std::string_view text, std::string_view opening) {
    text = text.substr(0, text.find('\0'));
    const std::size_t start = text.find(opening);
    if (start == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view value = text.substr(start + opening.size());
    value = value.substr(0, value.find(kTitleEnd));
    return decodeCharacterReferences(cleanValue(value));
}

std::string MetadataParser::decodeCharacterReferences(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t amp = text.find("&#", i);
        if (amp == std::string_view::npos) {
            break;
        }
        out.append(text.substr(i, amp - i));
        std::size_t digits = amp + 2;
        int base = 10;
        if (digits < text.size() && (text[digits] == 'x' || text[digits] == 'X')) {
            base = 16;
            ++digits;
        }
        const std::size_t semicolon = text.find(';', digits);
        std::uint32_t cp = 0;
        bool valid = false;
        if (semicolon != std::string_view::npos && semicolon > digits &&
            semicolon - digits <= 8) {
            const auto [end, error] =
                std::from_chars(text.data() + digits, text.data() + semicolon, cp, base);
            valid = error == std::errc{} && end == text.data() + semicolon && cp != 0 &&
                    cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
        }
        if (valid) {
            appendUtf8(out, cp);
            i = semicolon + 1;
        } else {
            out.append(text.substr(amp, 2));
            i = amp + 2;
        }
    }
    out.append(text.substr(std::min(i, text.size())));
    return out;
}

std::string MetadataParser::cleanValue(std::string_view text) {
    text = text.substr(0, text.find('\0'));
    const std::string utf8 = toUtf8(text);
    return std::string(truncateUtf8(utf8, kMaxValueBytes));
}

}  // namespace korvanel
