#include "recording/adts_frame_header.h"

#include <array>

namespace korvanel {

namespace {

constexpr std::array kSampleRates = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                     22050, 16000, 12000, 11025, 8000,  7350};

// The first frame confirmed by a matching header where it ends (or that ends
// exactly with the data), so that a stray 0xFFF in other bytes is not taken
// for a frame.
std::optional<std::size_t> firstConfirmedFrame(const unsigned char* bytes, std::size_t length) {
    for (std::size_t offset = 0; offset + AdtsFrameHeader::kSize <= length; ++offset) {
        const auto header = parseAdtsFrameHeader(bytes + offset, length - offset);
        if (!header) {
            continue;
        }
        const std::size_t next = offset + header->frameBytes;
        if (next + AdtsFrameHeader::kSize > length) {
            if (next == length) {
                return offset;
            }
            continue;
        }
        const auto following = parseAdtsFrameHeader(bytes + next, length - next);
        if (following && following->sameStreamAs(*header)) {
            return offset;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<AdtsFrameHeader> parseAdtsFrameHeader(const unsigned char* bytes, std::size_t available) {
    if (available < AdtsFrameHeader::kSize || bytes[0] != 0xFF || (bytes[1] & 0xF6) != 0xF0) {
        return std::nullopt;
    }
    AdtsFrameHeader header;
    header.profile = bytes[2] >> 6;
    header.sampleRateIndex = (bytes[2] >> 2) & 0x0F;
    if (header.sampleRateIndex >= static_cast<int>(kSampleRates.size())) {
        return std::nullopt;
    }
    header.sampleRate = kSampleRates[static_cast<std::size_t>(header.sampleRateIndex)];
    header.channelConfig = ((bytes[2] & 0x01) << 2) | (bytes[3] >> 6);
    header.frameBytes = (static_cast<std::size_t>(bytes[3] & 0x03) << 11) | (static_cast<std::size_t>(bytes[4]) << 3) |
                        (static_cast<std::size_t>(bytes[5]) >> 5);
    header.blocks = (bytes[6] & 0x03) + 1;
    const bool crc = (bytes[1] & 0x01) == 0;
    if (header.frameBytes < AdtsFrameHeader::kSize + (crc ? 2u : 0u)) {
        return std::nullopt;
    }
    return header;
}

std::size_t AdtsStreamFormat::boundaryAtOrAfter(std::string_view frames, std::size_t from) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(frames.data());
    std::size_t offset = 0;
    while (offset < from) {
        const auto header = parseAdtsFrameHeader(bytes + offset, frames.size() - offset);
        if (!header) {
            return frames.size();
        }
        offset += header->frameBytes;
    }
    return offset < frames.size() ? offset : frames.size();
}

int AdtsStreamFormat::probeBitrate(const void* data, std::size_t length) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    const std::optional<std::size_t> first = firstConfirmedFrame(bytes, length);
    if (!first) {
        return 0;
    }
    std::size_t offset = *first;
    std::size_t frameBytes = 0;
    long long samples = 0;
    int sampleRate = 0;
    // A few dozen frames even out the encoder's bit reservoir.
    for (int count = 0; count < 64; ++count) {
        const auto header = parseAdtsFrameHeader(bytes + offset, length - offset);
        if (!header || header->frameBytes > length - offset) {
            break;
        }
        sampleRate = header->sampleRate;
        frameBytes += header->frameBytes;
        samples += 1024LL * header->blocks;
        offset += header->frameBytes;
    }
    if (samples == 0 || sampleRate == 0) {
        return 0;
    }
    return static_cast<int>(static_cast<long long>(frameBytes) * 8 * sampleRate / samples / 1000);
}

StreamKind AdtsStreamFormat::probeKind(const void* data, std::size_t length) {
    return firstConfirmedFrame(static_cast<const unsigned char*>(data), length) ? StreamKind::Aac
                                                                                 : StreamKind::Other;
}

}  // namespace korvanel
