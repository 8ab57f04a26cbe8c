#include "stream/ogg_page.h"

namespace korvanel {
namespace {

constexpr std::string_view kCapturePattern{"OggS"};

unsigned char byteAt(std::string_view data, std::size_t offset) {
    return static_cast<unsigned char>(data[offset]);
}

std::uint32_t littleEndian32(std::string_view data, std::size_t offset) {
    return static_cast<std::uint32_t>(byteAt(data, offset)) | static_cast<std::uint32_t>(byteAt(data, offset + 1)) << 8 |
           static_cast<std::uint32_t>(byteAt(data, offset + 2)) << 16 |
           static_cast<std::uint32_t>(byteAt(data, offset + 3)) << 24;
}

}  // namespace

OggPageStatus parseOggPage(std::string_view data, std::size_t offset, OggPage& page) {
    if (offset > data.size()) {
        return OggPageStatus::NotAPage;
    }
    const std::string_view rest = data.substr(offset);
    const std::size_t prefix = rest.size() < 5 ? rest.size() : 5;
    if (rest.substr(0, prefix) != std::string_view("OggS\0", 5).substr(0, prefix)) {
        return OggPageStatus::NotAPage;
    }
    if (rest.size() < OggPage::kFixedHeaderBytes) {
        return OggPageStatus::NeedMore;
    }
    const std::size_t segments = byteAt(rest, 26);
    const std::size_t headerBytes = OggPage::kFixedHeaderBytes + segments;
    if (rest.size() < headerBytes) {
        return OggPageStatus::NeedMore;
    }
    std::size_t bodyBytes = 0;
    int packetsEnded = 0;
    for (std::size_t i = 0; i < segments; ++i) {
        const unsigned char lacing = byteAt(rest, OggPage::kFixedHeaderBytes + i);
        bodyBytes += lacing;
        if (lacing < 255) {
            ++packetsEnded;
        }
    }
    if (rest.size() < headerBytes + bodyBytes) {
        return OggPageStatus::NeedMore;
    }
    page.headerType = byteAt(rest, 5);
    page.serial = littleEndian32(rest, 14);
    page.headerBytes = headerBytes;
    page.pageBytes = headerBytes + bodyBytes;
    page.packetsEnded = packetsEnded;
    page.endsWithPacket = segments == 0 || byteAt(rest, headerBytes - 1) < 255;
    return OggPageStatus::Page;
}

std::size_t findOggCapturePattern(std::string_view data, std::size_t from) {
    return from > data.size() ? std::string_view::npos : data.find(kCapturePattern, from);
}

std::size_t oggUnitBoundaryAtOrAfter(std::string_view data, std::size_t from) {
    std::size_t offset = 0;
    OggPage page;
    while (offset < data.size()) {
        if (parseOggPage(data, offset, page) != OggPageStatus::Page) {
            return data.size();
        }
        if (offset >= from && !page.continued()) {
            return offset;
        }
        offset += page.pageBytes;
    }
    return data.size();
}

namespace {

std::string_view firstPacketOf(std::string_view firstPage) {
    OggPage page;
    if (parseOggPage(firstPage, 0, page) != OggPageStatus::Page) {
        return {};
    }
    return firstPage.substr(page.headerBytes, page.pageBytes - page.headerBytes);
}

bool isFlacMapping(std::string_view packet) {
    return packet.size() >= 13 && packet.substr(0, 5) == "\x7F" "FLAC" && packet.substr(9, 4) == "fLaC";
}

}  // namespace

OggCodec oggCodecOfFirstPage(std::string_view firstPage) {
    const std::string_view packet = firstPacketOf(firstPage);
    if (packet.substr(0, 7) == std::string_view("\x01vorbis", 7)) {
        return OggCodec::Vorbis;
    }
    if (packet.substr(0, 8) == "OpusHead") {
        return OggCodec::Opus;
    }
    return isFlacMapping(packet) ? OggCodec::Flac : OggCodec::Unknown;
}

int oggHeaderPacketCount(std::string_view firstPage) {
    switch (oggCodecOfFirstPage(firstPage)) {
        case OggCodec::Vorbis: return 3;  // identification, comment, setup
        case OggCodec::Opus: return 2;    // identification, tags
        case OggCodec::Flac: {
            // The mapping's own packet, then as many metadata packets as it names.
            const std::string_view packet = firstPacketOf(firstPage);
            const int count = (static_cast<unsigned char>(packet[7]) << 8) | static_cast<unsigned char>(packet[8]);
            return count > 0 ? 1 + count : 0;
        }
        case OggCodec::Unknown: break;
    }
    return 0;
}

int probeVorbisBitrateKbps(std::string_view data) {
    const std::size_t start = findOggCapturePattern(data, 0);
    if (start == std::string_view::npos) {
        return 0;
    }
    // Only the first page's header and its first packet are needed; the rest
    // of the page may not have arrived.
    const std::string_view rest = data.substr(start);
    if (rest.size() < OggPage::kFixedHeaderBytes) {
        return 0;
    }
    const std::size_t packet = OggPage::kFixedHeaderBytes + byteAt(rest, 26);
    // Identification header: type, "vorbis", version, channels, rate,
    // maximum, nominal and minimum bit rate.
    constexpr std::size_t kNominalOffset = 20;
    if (rest.size() < packet + kNominalOffset + 4 || rest.substr(packet, 7) != std::string_view("\x01vorbis", 7)) {
        return 0;
    }
    const auto nominal = static_cast<std::int32_t>(littleEndian32(rest, packet + kNominalOffset));
    return nominal > 0 ? nominal / 1000 : 0;
}

}  // namespace korvanel
