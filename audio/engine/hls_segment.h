#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "audio/engine/aes_cbc_decryptor.h"
#include "audio/engine/fmp4_demuxer.h"
#include "audio/engine/icy_stream_reader.h"
#include "audio/engine/mpeg_ts_demuxer.h"

namespace korvanel {

class CancelSignal;
class TlsClientContext;

// One HLS segment being read: its connection, its cipher, and what its
// bytes are (a transport stream, or packed audio behind ID3 tags), turned
// into elementary audio bytes and the ID3 tags among them.
//
// Used by the HLS reader's one thread.
class HlsSegment {
public:
    using TagSink = std::function<void(std::span<const std::uint8_t>)>;
    // A false answer stops the segment.
    using AudioSink = std::function<bool(std::span<const std::uint8_t>)>;

    // Longer ID3 tags are passed over unread.
    static constexpr std::size_t kMaxId3Bytes = 256 * 1024;

    HlsSegment(const CancelSignal& cancel, TlsClientContext* tls, std::uint64_t number);

    // Clear bytes of the segment, in order. False when the audio sink stopped.
    bool take(std::span<const std::uint8_t> bytes, const AudioSink& sink, const TagSink& onTag);
    // The segment's end: what waited for more is handed on.
    bool finish(const AudioSink& sink, const TagSink& onTag);

    IcyStreamReader reader;
    const std::uint64_t sequence;
    std::unique_ptr<AesCbcDecryptor> cipher;
    // The initialisation section's track, for fragmented MP4 segments.
    std::optional<Fmp4Track> track;
    // Where Opus and FLAC fragments go on, across segments.
    Fmp4OggStream* ogg = nullptr;
    std::string format;        // "aac", "mp3" or (fragments of Opus or FLAC) "ogg" once seen
    bool unsupported = false;  // audio we cannot decode
    std::uint64_t audioBytes = 0;
    std::uint64_t bodyBytes = 0;

private:
    enum class Container { Undecided, TransportStream, Packed, Fragmented };

    // Which container head_ begins: fragments need the track.
    void decide();
    // Packed audio starts with ID3 tags; true once head_ holds audio only.
    bool skipTags(const TagSink& onTag);

    Container container_ = Container::Undecided;
    MpegTsDemuxer demuxer_;
    std::unique_ptr<Fmp4Demuxer> fragments_;
    std::vector<std::uint8_t> head_;
    bool inTags_ = true;
    std::size_t skip_ = 0;
};

}  // namespace korvanel
