#include "stream/hls_playlist.h"

#include <algorithm>
#include <charconv>
#include <map>

#include "base/ascii_text.h"

namespace korvanel {
namespace {

constexpr std::string_view kHeader = "#EXTM3U";
constexpr std::string_view kTargetDuration = "#EXT-X-TARGETDURATION:";
constexpr std::string_view kMediaSequence = "#EXT-X-MEDIA-SEQUENCE:";
constexpr std::string_view kStreamInf = "#EXT-X-STREAM-INF:";
constexpr std::string_view kExtInf = "#EXTINF:";
constexpr std::string_view kKey = "#EXT-X-KEY:";
constexpr std::string_view kMap = "#EXT-X-MAP:";
constexpr std::string_view kDiscontinuity = "#EXT-X-DISCONTINUITY";
constexpr std::string_view kEndList = "#EXT-X-ENDLIST";

std::string_view trimmed(std::string_view text) { return trimmedAscii(text, " \t\r"); }

// The lines of a text, without their ends; a UTF-8 byte order mark before
// the first is dropped.
std::vector<std::string_view> linesOf(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        lines.push_back(trimmed(text.substr(0, end)));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    return lines;
}

std::uint64_t unsignedOf(std::string_view text) {
    std::uint64_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

double secondsOf(std::string_view text) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    (void)end;
    return error == std::errc{} && value >= 0 && value < 86400 ? value : 0;
}

// An attribute list, "NAME=value,NAME="quoted, value"": names as written,
// values without their quotes.
std::map<std::string, std::string> attributesOf(std::string_view text) {
    std::map<std::string, std::string> attributes;
    while (!text.empty()) {
        const std::size_t equals = text.find('=');
        if (equals == std::string_view::npos) {
            break;
        }
        const std::string name(trimmed(text.substr(0, equals)));
        text.remove_prefix(equals + 1);
        std::string value;
        if (text.starts_with('"')) {
            const std::size_t close = text.find('"', 1);
            value = std::string(text.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
            text = close == std::string_view::npos ? std::string_view() : text.substr(close + 1);
        } else {
            const std::size_t comma = text.find(',');
            value = std::string(trimmed(text.substr(0, comma)));
            text = comma == std::string_view::npos ? text.substr(text.size()) : text.substr(comma);
        }
        const std::size_t comma = text.find(',');
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        attributes.emplace(name, std::move(value));
    }
    return attributes;
}

// title="..." and artist="..." after an #EXTINF duration, as one title.
std::string titleOf(std::string_view rest) {
    const std::string lower = lowerAscii(rest);
    const auto quoted = [&](std::string_view key) -> std::string {
        std::size_t at = 0;
        while ((at = lower.find(key, at)) != std::string::npos) {
            // A whole attribute name, not the end of a longer one.
            if (at == 0 || lower[at - 1] == ',' || lower[at - 1] == ' ') {
                const std::size_t start = at + key.size();
                const std::size_t close = rest.find('"', start);
                return std::string(rest.substr(start, close == std::string_view::npos ? std::string_view::npos
                                                                                    : close - start));
            }
            at += key.size();
        }
        return {};
    };
    const std::string artist = quoted("artist=\"");
    const std::string title = quoted("title=\"");
    if (!artist.empty() && !title.empty()) {
        return artist + " - " + title;
    }
    return artist.empty() ? title : artist;
}

std::optional<std::array<std::uint8_t, 16>> ivOf(std::string_view text) {
    if (!(text.starts_with("0x") || text.starts_with("0X")) || text.size() != 34) {
        return std::nullopt;
    }
    std::array<std::uint8_t, 16> iv{};
    for (std::size_t i = 0; i < iv.size(); ++i) {
        const char* digits = text.data() + 2 + i * 2;
        const auto [end, error] = std::from_chars(digits, digits + 2, iv[i], 16);
        if (error != std::errc{} || end != digits + 2) {
            return std::nullopt;
        }
    }
    return iv;
}

// An address in the playlist, resolved against the playlist's own; empty
// for anything that is not http or https.
std::string addressOf(std::string_view line, const StreamUrl& base) {
    const std::optional<StreamUrl> resolved = base.resolve(line);
    return resolved ? resolved->toString() : std::string();
}

}  // namespace

bool HlsPlaylist::recognise(std::string_view text) {
    const std::vector<std::string_view> lines = linesOf(text.substr(0, std::min<std::size_t>(text.size(), 1 << 20)));
    const auto first = std::find_if(lines.begin(), lines.end(), [](std::string_view line) { return !line.empty(); });
    if (first == lines.end() || *first != kHeader) {
        return false;
    }
    return std::any_of(first, lines.end(), [](std::string_view line) {
        return line.starts_with(kTargetDuration) || line.starts_with(kStreamInf);
    });
}

std::optional<HlsPlaylist> HlsPlaylist::parse(std::string_view text, const StreamUrl& base) {
    if (!recognise(text)) {
        return std::nullopt;
    }
    HlsPlaylist playlist;
    std::optional<Variant> variant;  // a #EXT-X-STREAM-INF waiting for its address
    Segment next;                    // what the lines so far say of the next segment
    bool described = false;
    std::uint64_t count = 0;
    for (const std::string_view line : linesOf(text)) {
        if (line.empty() || line.size() > kMaxLineBytes) {
            continue;
        }
        if (line.front() != '#') {
            const std::string address = addressOf(line, base);
            if (variant) {
                variant->address = address;
                if (!address.empty() && playlist.variants.size() < kMaxVariants) {
                    playlist.variants.push_back(std::move(*variant));
                }
                variant.reset();
            } else if (described || playlist.kind == Kind::Media) {
                next.sequence = playlist.mediaSequence + count++;
                next.address = address;
                if (!address.empty()) {
                    playlist.segments.push_back(next);
                    if (playlist.segments.size() >= 2 * kMaxSegments) {
                        playlist.segments.erase(playlist.segments.begin(),
                                                playlist.segments.begin() + static_cast<std::ptrdiff_t>(kMaxSegments));
                    }
                }
                next.seconds = 0;
                next.title.clear();
                next.discontinuity = false;
                described = false;
            }
        } else if (line.starts_with(kStreamInf)) {
            playlist.kind = Kind::Master;
            const auto attributes = attributesOf(line.substr(kStreamInf.size()));
            Variant listed;
            if (const auto found = attributes.find("BANDWIDTH"); found != attributes.end()) {
                listed.bandwidth = unsignedOf(found->second);
            }
            if (const auto found = attributes.find("CODECS"); found != attributes.end()) {
                listed.codecs = found->second;
            }
            if (const auto found = attributes.find("NAME"); found != attributes.end()) {
                listed.name = found->second;
            }
            variant = std::move(listed);
        } else if (line.starts_with(kTargetDuration)) {
            playlist.targetSeconds = secondsOf(line.substr(kTargetDuration.size()));
        } else if (line.starts_with(kMediaSequence)) {
            // It numbers the first segment; once segments are listed, a
            // later one would number them backwards.
            if (count == 0) {
                playlist.mediaSequence = unsignedOf(line.substr(kMediaSequence.size()));
            }
        } else if (line.starts_with(kExtInf)) {
            const std::string_view rest = line.substr(kExtInf.size());
            const std::size_t comma = rest.find(',');
            next.seconds = secondsOf(rest.substr(0, comma));
            next.title = comma == std::string_view::npos ? std::string() : titleOf(rest.substr(comma + 1));
            described = true;
        } else if (line == kDiscontinuity) {
            next.discontinuity = true;
        } else if (line.starts_with(kKey)) {
            const auto attributes = attributesOf(line.substr(kKey.size()));
            Key key;
            if (const auto found = attributes.find("METHOD"); found != attributes.end()) {
                key.method = found->second;
            }
            if (const auto found = attributes.find("URI"); found != attributes.end()) {
                key.address = addressOf(found->second, base);
            }
            if (const auto found = attributes.find("IV"); found != attributes.end()) {
                key.iv = ivOf(found->second);
            }
            next.key = std::move(key);
        } else if (line.starts_with(kMap)) {
            const auto attributes = attributesOf(line.substr(kMap.size()));
            Map map;
            map.key = next.key;
            if (const auto found = attributes.find("URI"); found != attributes.end()) {
                map.address = addressOf(found->second, base);
            }
            // BYTERANGE="<length>[@<offset>]"
            if (const auto found = attributes.find("BYTERANGE"); found != attributes.end()) {
                const std::string_view range = found->second;
                const std::size_t at = range.find('@');
                map.length = unsignedOf(range.substr(0, at));
                map.offset = at == std::string_view::npos ? 0 : unsignedOf(range.substr(at + 1));
            }
            if (map.address.empty()) {
                next.map.reset();
            } else {
                next.map = std::move(map);
            }
        } else if (line == kEndList) {
            playlist.ended = true;
        }
    }
    if (playlist.segments.size() > kMaxSegments) {
        playlist.segments.erase(playlist.segments.begin(),
                                playlist.segments.end() - static_cast<std::ptrdiff_t>(kMaxSegments));
    }
    if (playlist.kind == Kind::Master) {
        playlist.segments.clear();
    }
    return playlist;
}

const HlsPlaylist::Variant* HlsPlaylist::chooseVariant(std::uint64_t maxBandwidth) const {
    const Variant* best = nullptr;
    const Variant* lowest = nullptr;
    for (const Variant& candidate : variants) {
        if (lowest == nullptr || candidate.bandwidth < lowest->bandwidth) {
            lowest = &candidate;
        }
        const bool fits = maxBandwidth == 0 || candidate.bandwidth <= maxBandwidth;
        if (fits && (best == nullptr || candidate.bandwidth > best->bandwidth)) {
            best = &candidate;
        }
    }
    return best != nullptr ? best : lowest;
}

}  // namespace korvanel
