#include "recording/ogg_file_start.h"

#include <algorithm>
#include <array>
#include <functional>
#include <vector>

#include "base/ascii_text.h"
#include "recording/ogg_file_output.h"

namespace korvanel {

namespace {

constexpr std::size_t kGranuleOffset = 6;
constexpr std::size_t kSerialOffset = 14;
constexpr std::int64_t kNoGranule = -1;

std::uint64_t littleEndian(std::string_view data, std::size_t at, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        value = (value << 8) | static_cast<unsigned char>(data[at + static_cast<std::size_t>(i)]);
    }
    return value;
}

// Calls packet(bytes, granule) for each packet the pages complete, in
// order, until it returns false; granule is the page's for the last packet
// ended on a page and none for the others. The serial of the first page
// goes to serial. False when the bytes are not whole pages.
bool forEachPacket(std::string_view pages, std::uint32_t& serial,
                   const std::function<bool(std::string_view packet, std::int64_t granule)>& packet) {
    std::string current;
    OggPage page;
    bool first = true;
    for (std::size_t offset = 0; offset < pages.size(); offset += page.pageBytes) {
        if (parseOggPage(pages, offset, page) != OggPageStatus::Page) {
            return false;
        }
        if (first) {
            serial = static_cast<std::uint32_t>(littleEndian(pages, offset + kSerialOffset, 4));
            first = false;
        }
        const auto granule = static_cast<std::int64_t>(littleEndian(pages, offset + kGranuleOffset, 8));
        const std::size_t segments = page.headerBytes - OggPage::kFixedHeaderBytes;
        const auto lacingAt = [&](std::size_t i) {
            return static_cast<unsigned char>(pages[offset + OggPage::kFixedHeaderBytes + i]);
        };
        std::size_t lastEnd = segments;
        for (std::size_t i = 0; i < segments; ++i) {
            lastEnd = lacingAt(i) < 255 ? i : lastEnd;
        }
        std::size_t body = offset + page.headerBytes;
        for (std::size_t i = 0; i < segments; ++i) {
            const unsigned char lacing = lacingAt(i);
            current.append(pages.substr(body, lacing));
            body += lacing;
            if (lacing < 255) {
                if (!packet(current, i == lastEnd ? granule : kNoGranule)) {
                    return true;
                }
                current.clear();
            }
        }
    }
    return true;
}

std::vector<std::string> packetsOf(std::string_view pages, std::uint32_t& serial) {
    std::vector<std::string> packets;
    if (!forEachPacket(pages, serial, [&packets](std::string_view packet, std::int64_t) {
            packets.emplace_back(packet);
            return true;
        })) {
        packets.clear();
    }
    return packets;
}

// A Vorbis comment block (vendor, then "KEY=value" entries) with the tags
// in place of the stream's own; nothing when the block is cut short.
std::optional<std::string> retagged(std::string_view block, const FileTags& tags) {
    if (block.size() < 8) {
        return std::nullopt;
    }
    const std::uint64_t vendorBytes = littleEndian(block, 0, 4);
    if (vendorBytes > block.size() - 8) {
        return std::nullopt;
    }
    std::size_t at = 4 + vendorBytes;
    const std::uint64_t count = littleEndian(block, at, 4);
    at += 4;
    std::vector<std::string_view> kept;
    for (std::uint64_t i = 0; i < count; ++i) {
        if (block.size() - at < 4) {
            return std::nullopt;
        }
        const std::uint64_t length = littleEndian(block, at, 4);
        at += 4;
        if (length > block.size() - at) {
            return std::nullopt;
        }
        const std::string_view entry = block.substr(at, length);
        at += length;
        const std::string key = lowerAscii(entry.substr(0, entry.find('=')));
        if (key != "title" && key != "artist" && key != "organization") {
            kept.push_back(entry);
        }
    }
    std::vector<std::string> added;
    for (const auto& [key, value] : {std::pair<const char*, const std::string&>{"TITLE=", tags.title},
                                     {"ARTIST=", tags.artist},
                                     {"ORGANIZATION=", tags.organization}}) {
        if (!value.empty()) {
            added.push_back(key + value);
        }
    }
    std::string out;
    appendLittleEndian(out, vendorBytes, 4);
    out.append(block.substr(4, vendorBytes));
    appendLittleEndian(out, kept.size() + added.size(), 4);
    for (const std::string_view entry : kept) {
        appendLittleEndian(out, entry.size(), 4);
        out.append(entry);
    }
    for (const std::string& entry : added) {
        appendLittleEndian(out, entry.size(), 4);
        out.append(entry);
    }
    return out;
}

std::optional<std::string> retaggedPacket(std::string_view packet, OggCodec codec, const FileTags& tags) {
    static constexpr std::string_view kVorbis("\x03vorbis", 7);
    switch (codec) {
        case OggCodec::Vorbis: {
            if (!packet.starts_with(kVorbis)) {
                return std::nullopt;
            }
            const std::optional<std::string> block = retagged(packet.substr(kVorbis.size()), tags);
            // The framing bit ends a Vorbis comment header.
            return block ? std::optional<std::string>(std::string(kVorbis) + *block + '\x01') : std::nullopt;
        }
        case OggCodec::Opus: {
            if (!packet.starts_with("OpusTags")) {
                return std::nullopt;
            }
            const std::optional<std::string> block = retagged(packet.substr(8), tags);
            return block ? std::optional<std::string>("OpusTags" + *block) : std::nullopt;
        }
        case OggCodec::Flac: {
            // A metadata block: its type (and the last-block flag), its length, the comments.
            const std::optional<std::string> block = retagged(packet.substr(std::min<std::size_t>(4, packet.size())), tags);
            if (!block || block->size() >= (1u << 24)) {
                return std::nullopt;
            }
            std::string out(1, packet[0]);
            for (int shift = 16; shift >= 0; shift -= 8) {
                out += static_cast<char>((block->size() >> shift) & 0xFF);
            }
            return out + *block;
        }
        case OggCodec::Unknown: break;
    }
    return std::nullopt;
}

// Which header packet holds the comments.
std::optional<std::size_t> commentPacketOf(const std::vector<std::string>& packets, OggCodec codec) {
    if (codec == OggCodec::Flac) {
        for (std::size_t i = 1; i < packets.size(); ++i) {
            if (!packets[i].empty() && (static_cast<unsigned char>(packets[i][0]) & 0x7F) == 4) {
                return i;
            }
        }
        return std::nullopt;
    }
    return packets.size() >= 2 ? std::optional<std::size_t>(1) : std::nullopt;
}

}  // namespace

std::optional<std::string> oggHeadersWithTags(std::string_view headerPages, OggCodec codec, const FileTags& tags) {
    std::uint32_t serial = 0;
    std::vector<std::string> packets = packetsOf(headerPages, serial);
    const std::optional<std::size_t> comments = commentPacketOf(packets, codec);
    if (!comments) {
        return std::nullopt;
    }
    std::optional<std::string> replaced = retaggedPacket(packets[*comments], codec, tags);
    if (!replaced) {
        return std::nullopt;
    }
    packets[*comments] = std::move(*replaced);
    // Each header packet on pages of its own, at granule position 0.
    std::string out;
    OggPageWriter writer(serial);
    for (std::size_t i = 0; i < packets.size(); ++i) {
        writer.write(out, {{packets[i], 0}}, i == 0);
    }
    return out;
}

std::int64_t oggGranuleShift(std::string_view audioPages, OggCodec codec, std::string_view headerPages) {
    if (codec != OggCodec::Opus && codec != OggCodec::Flac) {
        return 0;
    }
    std::int64_t preSkip = 0;
    std::uint32_t serial = 0;
    if (codec == OggCodec::Opus) {
        const std::vector<std::string> headers = packetsOf(headerPages, serial);
        if (headers.empty() || headers[0].size() < 12) {
            return 0;
        }
        preSkip = static_cast<std::int64_t>(littleEndian(headers[0], 10, 2));
    }
    std::int64_t samples = 0;
    std::int64_t shift = 0;
    forEachPacket(audioPages, serial, [&](std::string_view packet, std::int64_t granule) {
        samples += codec == OggCodec::Opus ? opusPacketSamples(packet) : flacFrameSamples(packet);
        if (granule == kNoGranule) {
            return true;
        }
        if (granule < 0) {
            return false;  // no position a stream gives: left as it is
        }
        // The page's granule counts every packet ended on it; the first
        // such page tells where the file's audio sits in the stream.
        shift = granule - preSkip - samples;
        return false;
    });
    return std::max<std::int64_t>(shift, 0);
}

}  // namespace korvanel
