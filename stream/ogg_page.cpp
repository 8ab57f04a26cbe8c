#include "stream/ogg_page.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

namespace korvanel {

namespace {

constexpr std::array<std::uint32_t, 256> makeChecksumTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t value = i << 24;
        for (int bit = 0; bit < 8; ++bit) {
            value = (value & 0x80000000u) != 0 ? (value << 1) ^ 0x04C11DB7u : value << 1;
        }
        table[i] = value;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> kChecksumTable = makeChecksumTable();

constexpr std::size_t kChecksumOffset = 22;

}  // namespace

void appendLittleEndian(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

std::uint32_t oggPageChecksum(std::string_view page) {
    std::uint32_t checksum = 0;
    for (std::size_t i = 0; i < page.size(); ++i) {
        const bool inField = i >= kChecksumOffset && i < kChecksumOffset + 4;
        const auto byte = inField ? 0u : static_cast<unsigned char>(page[i]);
        checksum = (checksum << 8) ^ kChecksumTable[((checksum >> 24) & 0xFF) ^ byte];
    }
    return checksum;
}

void OggPageWriter::write(std::string& out, const std::vector<Packet>& packets, bool firstOfStream) {
    struct Lacing {
        unsigned char value;
        const Packet* ends;  // the packet it ends, if any
    };
    std::vector<Lacing> lacing;
    for (const Packet& packet : packets) {
        lacing.insert(lacing.end(), packet.bytes.size() / 255, Lacing{255, nullptr});
        lacing.push_back(Lacing{static_cast<unsigned char>(packet.bytes.size() % 255), &packet});
    }
    std::size_t packet = 0;
    std::size_t within = 0;  // bytes of packets[packet] already on pages
    for (std::size_t from = 0; from < lacing.size(); from += 255) {
        const std::size_t count = std::min<std::size_t>(255, lacing.size() - from);
        std::int64_t granule = -1;  // a page that ends no packet has no position
        for (std::size_t i = from; i < from + count; ++i) {
            granule = lacing[i].ends != nullptr ? lacing[i].ends->granule : granule;
        }
        std::string page = "OggS";
        page += '\0';
        page += static_cast<char>((within > 0 ? OggPage::kContinued : 0) |
                                  (firstOfStream && from == 0 ? OggPage::kFirstPage : 0));
        appendLittleEndian(page, static_cast<std::uint64_t>(granule), 8);
        appendLittleEndian(page, serial_, 4);
        appendLittleEndian(page, sequence_++, 4);
        appendLittleEndian(page, 0, 4);
        page += static_cast<char>(count);
        std::string body;
        for (std::size_t i = from; i < from + count; ++i) {
            page += static_cast<char>(lacing[i].value);
            body.append(packets[packet].bytes.substr(within, lacing[i].value));
            within += lacing[i].value;
            if (lacing[i].ends != nullptr) {
                ++packet;
                within = 0;
            }
        }
        page += body;
        const std::uint32_t checksum = oggPageChecksum(page);
        for (int i = 0; i < 4; ++i) {
            page[kChecksumOffset + static_cast<std::size_t>(i)] = static_cast<char>((checksum >> (8 * i)) & 0xFF);
        }
        out += page;
    }
}

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

int opusPacketSamples(std::string_view packet) {
    if (packet.empty()) {
        return 0;
    }
    static constexpr std::array<int, 4> kSilk = {480, 960, 1920, 2880};
    static constexpr std::array<int, 2> kHybrid = {480, 960};
    static constexpr std::array<int, 4> kCelt = {120, 240, 480, 960};
    const auto toc = static_cast<unsigned char>(packet[0]);
    const unsigned config = toc >> 3;
    const int frame = config < 12 ? kSilk[config % 4] : config < 16 ? kHybrid[config % 2] : kCelt[config % 4];
    const unsigned code = toc & 3;
    const int frames = code == 0 ? 1 : code < 3 ? 2 : packet.size() >= 2 ? static_cast<unsigned char>(packet[1]) & 0x3F : 0;
    // No packet holds more than 120 ms.
    return std::min(frame * frames, 5760);
}

int flacFrameSamples(std::string_view frame) {
    if (frame.size() < 5 || static_cast<unsigned char>(frame[0]) != 0xFF ||
        (static_cast<unsigned char>(frame[1]) & 0xFE) != 0xF8) {
        return 0;
    }
    const unsigned code = static_cast<unsigned char>(frame[2]) >> 4;
    if (code == 1) {
        return 192;
    }
    if (code >= 2 && code <= 5) {
        return 576 << (code - 2);
    }
    if (code >= 8) {
        return 256 << (code - 8);
    }
    if (code != 6 && code != 7) {
        return 0;
    }
    // The size follows the frame's number, coded like UTF-8 in 1 to 7 bytes.
    const auto lead = static_cast<unsigned char>(frame[4]);
    std::size_t numberBytes = 0;
    for (std::size_t ones = 0; ones < 8; ++ones) {
        if ((lead & (0x80u >> ones)) == 0) {
            numberBytes = ones == 0 ? 1 : ones;
            break;
        }
    }
    const std::size_t at = 4 + numberBytes;
    if (numberBytes == 0 || (lead >= 0x80 && numberBytes < 2) || at + (code == 7 ? 2 : 1) > frame.size()) {
        return 0;
    }
    const unsigned size = code == 6 ? static_cast<unsigned char>(frame[at])
                                    : (static_cast<unsigned>(static_cast<unsigned char>(frame[at])) << 8) |
                                          static_cast<unsigned char>(frame[at + 1]);
    return static_cast<int>(size) + 1;
}

}  // namespace korvanel
