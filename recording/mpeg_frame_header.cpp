#include "recording/mpeg_frame_header.h"

#include <cstring>

namespace korvanel {
namespace {

// [table][index]: MPEG-1 Layers I, II, III; MPEG-2 Layer I; MPEG-2 Layers II and III.
constexpr int kBitrates[5][16] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
};

constexpr int kMpeg1SampleRates[3] = {44100, 48000, 32000};

}  // namespace

int mpegBitrateKbps(MpegVersion version, int layer, int index) {
    if (layer < 1 || layer > 3 || index < 0 || index > 15) {
        return 0;
    }
    if (version == MpegVersion::Mpeg1) {
        return kBitrates[layer - 1][index];
    }
    return kBitrates[layer == 1 ? 3 : 4][index];
}

std::optional<MpegFrameHeader> parseMpegFrameHeader(const unsigned char* bytes, std::size_t available) {
    if (available < MpegFrameHeader::kSize || bytes[0] != 0xFF || (bytes[1] & 0xE0) != 0xE0) {
        return std::nullopt;
    }
    const int versionBits = (bytes[1] >> 3) & 3;
    const int layerBits = (bytes[1] >> 1) & 3;
    const int bitrateIndex = bytes[2] >> 4;
    const int rateIndex = (bytes[2] >> 2) & 3;
    if (versionBits == 1 || layerBits == 0 || bitrateIndex == 15 || rateIndex == 3) {
        return std::nullopt;
    }

    MpegFrameHeader header;
    header.version = versionBits == 3 ? MpegVersion::Mpeg1 : versionBits == 2 ? MpegVersion::Mpeg2 : MpegVersion::Mpeg25;
    header.layer = 4 - layerBits;
    header.bitrateKbps = mpegBitrateKbps(header.version, header.layer, bitrateIndex);
    const int rateDivisor = header.version == MpegVersion::Mpeg1 ? 1 : header.version == MpegVersion::Mpeg2 ? 2 : 4;
    header.sampleRate = kMpeg1SampleRates[rateIndex] / rateDivisor;
    header.padding = (bytes[2] & 0x02) != 0;
    header.crc = (bytes[1] & 0x01) == 0;
    header.mono = (bytes[3] >> 6) == 3;

    const bool mpeg1 = header.version == MpegVersion::Mpeg1;
    const long bitsPerSecond = header.bitrateKbps * 1000L;
    const long padding = header.padding ? 1 : 0;
    header.samplesPerFrame = header.layer == 1 ? 384 : header.layer == 3 && !mpeg1 ? 576 : 1152;
    if (header.bitrateKbps == 0) {
        // Free format: the length is not in the header, and the padding
        // bit alone must not pass for a frame of 1 or 4 bytes.
        header.frameBytes = 0;
    } else if (header.layer == 1) {
        header.frameBytes = static_cast<std::size_t>((12 * bitsPerSecond / header.sampleRate + padding) * 4);
    } else {
        const long slotsFactor = header.samplesPerFrame / 8;  // 144 or 72
        header.frameBytes = static_cast<std::size_t>(slotsFactor * bitsPerSecond / header.sampleRate + padding);
    }
    return header;
}

std::size_t mpegInfoTagOffset(const MpegFrameHeader& header) {
    const bool mpeg1 = header.version == MpegVersion::Mpeg1;
    const std::size_t sideInfo = mpeg1 ? (header.mono ? 17 : 32) : (header.mono ? 9 : 17);
    return MpegFrameHeader::kSize + (header.crc ? 2 : 0) + sideInfo;
}

bool isMpegInfoFrame(const MpegFrameHeader& header, const unsigned char* bytes) {
    if (header.layer != 3) {
        return false;
    }
    const auto tagAt = [&](std::size_t offset, const char* tag) {
        return offset + 4 <= header.frameBytes && std::memcmp(bytes + offset, tag, 4) == 0;
    };
    const std::size_t offset = mpegInfoTagOffset(header);
    constexpr std::size_t kVbriOffset = 36;
    return tagAt(offset, "Xing") || tagAt(offset, "Info") || tagAt(kVbriOffset, "VBRI");
}

std::optional<MpegFrameHeader> findFirstMpegFrame(const void* data, std::size_t length) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t offset = 0; offset + MpegFrameHeader::kSize <= length; ++offset) {
        const auto header = parseMpegFrameHeader(bytes + offset, length - offset);
        if (!header || header->frameBytes == 0) {
            continue;
        }
        const std::size_t next = offset + header->frameBytes;
        if (next > length - MpegFrameHeader::kSize) {
            return header;  // nothing follows in the data to check it against
        }
        const auto following = parseMpegFrameHeader(bytes + next, length - next);
        if (following && following->sameStreamAs(*header)) {
            if (isMpegInfoFrame(*header, bytes + offset)) {
                offset = next - 1;  // go on with the frame after it
                continue;
            }
            return header;
        }
    }
    return std::nullopt;
}

std::size_t countMpegFrames(std::string_view frames) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(frames.data());
    std::size_t count = 0;
    std::size_t offset = 0;
    while (offset < frames.size()) {
        const auto header = parseMpegFrameHeader(bytes + offset, frames.size() - offset);
        if (!header || header->frameBytes == 0 || header->frameBytes > frames.size() - offset) {
            break;
        }
        offset += header->frameBytes;
        ++count;
    }
    return count;
}

StreamKind mpegStreamKind(const MpegFrameHeader& header) {
    if (header.version == MpegVersion::Mpeg25) {
        return StreamKind::Other;
    }
    const bool mpeg1 = header.version == MpegVersion::Mpeg1;
    switch (header.layer) {
    case 1:
        return mpeg1 ? StreamKind::MpegLayer1 : StreamKind::Mpeg2Layer1;
    case 2:
        return mpeg1 ? StreamKind::MpegLayer2 : StreamKind::Mpeg2Layer2;
    default:
        return mpeg1 ? StreamKind::Mp3 : StreamKind::Mpeg2Layer3;
    }
}

}  // namespace korvanel
