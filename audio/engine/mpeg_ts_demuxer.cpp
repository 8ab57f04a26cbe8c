#include "audio/engine/mpeg_ts_demuxer.h"

#include <algorithm>

namespace korvanel {
namespace {

constexpr std::uint8_t kSyncByte = 0x47;
constexpr int kPatPid = 0;
constexpr std::uint8_t kTablePat = 0x00;
constexpr std::uint8_t kTablePmt = 0x02;

MpegTsDemuxer::Audio audioOfStreamType(std::uint8_t type) {
    switch (type) {
        case 0x0F: return MpegTsDemuxer::Audio::Aac;         // ADTS
        case 0x03:
        case 0x04: return MpegTsDemuxer::Audio::Mpeg;        // MPEG-1 and -2 audio
        case 0x11:                                            // LATM AAC
        case 0x81:                                            // AC-3
        case 0x87: return MpegTsDemuxer::Audio::Unsupported;  // E-AC-3
        default: return MpegTsDemuxer::Audio::Unknown;
    }
}

constexpr std::uint8_t kStreamTypeId3 = 0x15;

// The payload after a PES header, or nothing while the header is not whole.
std::size_t pesHeaderBytes(std::span<const std::uint8_t> payload) {
    if (payload.size() < 9 || payload[0] != 0 || payload[1] != 0 || payload[2] != 1) {
        return 0;
    }
    return 9 + std::size_t{payload[8]};
}

}  // namespace

bool MpegTsDemuxer::looksLikeTransportStream(std::span<const std::uint8_t> bytes) {
    return !bytes.empty() && bytes[0] == kSyncByte && (bytes.size() <= kPacketBytes || bytes[kPacketBytes] == kSyncByte);
}

bool MpegTsDemuxer::feed(std::span<const std::uint8_t> bytes, const BytesSink& audio, const BytesSink& tag) {
    if (!partial_.empty()) {
        const std::size_t take = std::min(kPacketBytes - partial_.size(), bytes.size());
        partial_.insert(partial_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(take));
        bytes = bytes.subspan(take);
        if (partial_.size() < kPacketBytes) {
            return true;
        }
        const bool more = packet(partial_.data(), audio, tag);
        partial_.clear();
        if (!more) {
            return false;
        }
    }
    while (!bytes.empty()) {
        if (bytes[0] != kSyncByte) {
            // Garbage: on to the next byte that may start a packet.
            const auto next = std::find(bytes.begin() + 1, bytes.end(), kSyncByte);
            bytes = bytes.subspan(static_cast<std::size_t>(next - bytes.begin()));
            continue;
        }
        if (bytes.size() < kPacketBytes) {
            partial_.assign(bytes.begin(), bytes.end());
            return true;
        }
        if (!packet(bytes.data(), audio, tag)) {
            return false;
        }
        bytes = bytes.subspan(kPacketBytes);
    }
    return true;
}

void MpegTsDemuxer::flush(const BytesSink& tag) {
    if (!tagBytes_.empty()) {
        tag(tagBytes_);
        tagBytes_.clear();
    }
    partial_.clear();
}

bool MpegTsDemuxer::packet(const std::uint8_t* bytes, const BytesSink& audio, const BytesSink& tag) {
    const bool unitStart = (bytes[1] & 0x40) != 0;
    const int pid = (bytes[1] & 0x1F) << 8 | bytes[2];
    const std::uint8_t control = (bytes[3] >> 4) & 0x03;
    std::size_t at = 4;
    if (control == 2 || control == 3) {
        at += 1 + std::size_t{bytes[4]};  // the adaptation field
    }
    if ((control & 0x01) == 0 || at >= kPacketBytes) {
        return true;  // no payload
    }
    std::span<const std::uint8_t> payload(bytes + at, kPacketBytes - at);

    if (pid == kPatPid || pid == pmtPid_) {
        if (unitStart) {
            const std::size_t pointer = payload[0];
            if (pointer + 1 < payload.size()) {
                table(payload.subspan(pointer + 1));
            }
        }
        return true;
    }
    if (pid == audioPid_) {
        if (unitStart) {
            audioInPes_ = false;
            skipPesHeader_ = pesHeaderBytes(payload);
            if (skipPesHeader_ == 0 || skipPesHeader_ > payload.size()) {
                return true;  // a header we cannot read, or one over several packets: its payload is lost
            }
            audioInPes_ = true;
            payload = payload.subspan(skipPesHeader_);
        }
        return !audioInPes_ || payload.empty() || audio(payload);
    }
    if (pid == tagPid_) {
        if (unitStart) {
            if (!tagBytes_.empty()) {
                tag(tagBytes_);
            }
            tagBytes_.clear();
            const std::size_t header = pesHeaderBytes(payload);
            if (header == 0 || header > payload.size()) {
                return true;
            }
            tagBytes_.reserve(payload.size() - header);
            payload = payload.subspan(header);
            tagBytes_.insert(tagBytes_.end(), payload.begin(), payload.end());
        } else if (!tagBytes_.empty() && tagBytes_.size() + payload.size() <= kMaxTagBytes) {
            tagBytes_.insert(tagBytes_.end(), payload.begin(), payload.end());
        }
    }
    return true;
}

void MpegTsDemuxer::table(std::span<const std::uint8_t> section) {
    if (section.size() < 12) {
        return;
    }
    const std::uint8_t id = section[0];
    const std::size_t length = std::size_t{section[1] & 0x0Fu} << 8 | section[2];
    // Without its 4-byte CRC, which is not checked: a broken table shows
    // as audio that will not decode, which the decoder bounds.
    if (length < 9 || 3 + length > section.size()) {
        return;
    }
    const std::span<const std::uint8_t> body = section.subspan(8, 3 + length - 8 - 4);
    if (id == kTablePat) {
        for (std::size_t at = 0; at + 4 <= body.size(); at += 4) {
            const int program = body[at] << 8 | body[at + 1];
            if (program != 0) {  // 0 names the network table
                pmtPid_ = (body[at + 2] & 0x1F) << 8 | body[at + 3];
                return;
            }
        }
        return;
    }
    if (id != kTablePmt || body.size() < 4) {
        return;
    }
    const std::size_t programInfo = std::size_t{body[2] & 0x0Fu} << 8 | body[3];
    std::size_t at = 4 + programInfo;
    int audioPid = -1;
    int tagPid = -1;
    Audio audio = Audio::Unknown;
    while (at + 5 <= body.size()) {
        const std::uint8_t type = body[at];
        const int pid = (body[at + 1] & 0x1F) << 8 | body[at + 2];
        const std::size_t info = std::size_t{body[at + 3] & 0x0Fu} << 8 | body[at + 4];
        const Audio kind = audioOfStreamType(type);
        if (audioPid < 0 && kind != Audio::Unknown) {
            audioPid = pid;
            audio = kind;
        } else if (tagPid < 0 && type == kStreamTypeId3) {
            tagPid = pid;
        }
        at += 5 + info;
    }
    if (audioPid != audioPid_) {
        audioInPes_ = false;
    }
    audioPid_ = audioPid;
    tagPid_ = tagPid;
    audio_ = audio;
}

}  // namespace korvanel
