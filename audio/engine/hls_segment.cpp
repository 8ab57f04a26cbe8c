#include "audio/engine/hls_segment.h"

#include <algorithm>
#include <optional>
#include <string_view>

#include "audio/engine/id3_tag.h"

namespace korvanel {
namespace {

// "aac" or "mp3" for the first bytes of elementary audio; "" when they are
// neither an ADTS nor an MPEG audio frame start.
std::string formatOfFrames(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 2 || bytes[0] != 0xFF) {
        return "";
    }
    if ((bytes[1] & 0xF6) == 0xF0) {
        return "aac";  // ADTS: sync and layer 0
    }
    if ((bytes[1] & 0xE0) == 0xE0 && (bytes[1] & 0x06) != 0) {
        return "mp3";
    }
    return "";
}

}  // namespace

HlsSegment::HlsSegment(const CancelSignal& cancel, TlsClientContext* tls, std::uint64_t number)
    : reader(cancel, tls), sequence(number) {}

bool HlsSegment::take(std::span<const std::uint8_t> bytes, const AudioSink& sink, const TagSink& onTag) {
    if (container_ == Container::Undecided) {
        head_.insert(head_.end(), bytes.begin(), bytes.end());
        if (head_.size() < 3) {
            return true;
        }
        // A box's type comes after its size: eight bytes tell an MP4 fragment.
        const bool framesOrTags = head_[0] == 0xFF || (head_[0] == 'I' && head_[1] == 'D' && head_[2] == '3');
        if (!framesOrTags && !MpegTsDemuxer::looksLikeTransportStream(head_) && head_.size() < 8) {
            return true;
        }
        decide();
        std::vector<std::uint8_t> held = std::move(head_);
        head_.clear();
        return unsupported || take(held, sink, onTag);
    }
    const auto audio = [&](std::span<const std::uint8_t> frames) {
        audioBytes += frames.size();
        return sink(frames);
    };
    if (container_ == Container::Fragmented) {
        return fragments_->feed(bytes, audio, onTag);
    }
    if (container_ == Container::TransportStream) {
        const bool more = demuxer_.feed(bytes, audio, [&](std::span<const std::uint8_t> tag) {
            onTag(tag);
            return true;
        });
        switch (demuxer_.audio()) {
            case MpegTsDemuxer::Audio::Aac: format = "aac"; break;
            case MpegTsDemuxer::Audio::Mpeg: format = "mp3"; break;
            case MpegTsDemuxer::Audio::Unsupported: unsupported = true; break;
            case MpegTsDemuxer::Audio::Unknown: break;
        }
        return more;
    }
    if (inTags_ || !head_.empty()) {
        head_.insert(head_.end(), bytes.begin(), bytes.end());
        if (inTags_ && !skipTags(onTag)) {
            return true;  // more of a tag to come
        }
        bytes = head_;
    }
    if (format.empty()) {
        if (bytes.size() < 2) {
            if (head_.empty()) {
                head_.assign(bytes.begin(), bytes.end());
            }
            return true;  // too little to tell a frame start yet
        }
        format = formatOfFrames(bytes);
        unsupported = format.empty();
    }
    const bool more = bytes.empty() || audio(bytes);
    head_.clear();
    return more;
}

void HlsSegment::decide() {
    if (MpegTsDemuxer::looksLikeTransportStream(head_)) {
        container_ = Container::TransportStream;
    } else if (Fmp4Demuxer::looksLikeFragment(head_)) {
        container_ = Container::Fragmented;
        if (!track) {
            unsupported = true;  // fragments without the section that says what they hold
            return;
        }
        fragments_ = std::make_unique<Fmp4Demuxer>(*track, ogg);
        format = track->codec == Fmp4Track::Codec::Aac ? "aac" : track->codec == Fmp4Track::Codec::Mp3 ? "mp3" : "ogg";
    } else {
        container_ = Container::Packed;
    }
}

bool HlsSegment::finish(const AudioSink& sink, const TagSink& onTag) {
    if (container_ == Container::Fragmented) {
        const auto audio = [&](std::span<const std::uint8_t> frames) {
            audioBytes += frames.size();
            return sink(frames);
        };
        return !fragments_ || fragments_->finish(audio, onTag);
    }
    if (container_ == Container::Undecided && !head_.empty()) {
        decide();
        if (container_ != Container::Packed) {
            std::vector<std::uint8_t> held = std::move(head_);
            head_.clear();
            return unsupported || (take(held, sink, onTag) && finish(sink, onTag));
        }
    }
    if (container_ == Container::TransportStream) {
        demuxer_.flush([&](std::span<const std::uint8_t> tag) {
            onTag(tag);
            return true;
        });
        return true;
    }
    container_ = Container::Packed;
    inTags_ = false;
    std::vector<std::uint8_t> rest = std::move(head_);
    head_.clear();
    return rest.empty() || take(rest, sink, onTag);
}

bool HlsSegment::skipTags(const TagSink& onTag) {
    for (;;) {
        if (skip_ > 0) {
            const std::size_t count = std::min(skip_, head_.size());
            head_.erase(head_.begin(), head_.begin() + static_cast<std::ptrdiff_t>(count));
            skip_ -= count;
            if (skip_ > 0) {
                return false;
            }
        }
        static constexpr std::string_view kMark = "ID3";
        const std::size_t compared = std::min(head_.size(), kMark.size());
        if (!std::equal(head_.begin(), head_.begin() + static_cast<std::ptrdiff_t>(compared), kMark.begin())) {
            inTags_ = false;
            return true;
        }
        if (head_.size() < id3::kHeaderBytes) {
            return false;
        }
        const std::optional<std::size_t> length = id3::tagLength(head_);
        if (!length) {
            inTags_ = false;
            return true;
        }
        if (*length > kMaxId3Bytes) {
            skip_ = *length;  // too long to read: passed over unread
            continue;
        }
        if (head_.size() < *length) {
            return false;
        }
        onTag(std::span<const std::uint8_t>(head_.data(), *length));
        head_.erase(head_.begin(), head_.begin() + static_cast<std::ptrdiff_t>(*length));
    }
}

}  // namespace korvanel
