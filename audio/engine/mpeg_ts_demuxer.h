#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace korvanel {

// The audio of an MPEG transport stream as HLS segments carry it: the
// first program's first audio stream as its elementary bytes (ADTS AAC or
// MPEG audio frames, which our parsers decode and our recorder writes), and
// its ID3 timed metadata as whole tags. Segments of one stream may be fed
// one after another; packets split across feeds are joined.
//
// Input is untrusted: the stream resynchronises on the next packet start
// after garbage, tables must fit in one packet, and a metadata tag is
// collected up to kMaxTagBytes.
class MpegTsDemuxer {
public:
    static constexpr std::size_t kPacketBytes = 188;
    static constexpr std::size_t kMaxTagBytes = 256 * 1024;

    enum class Audio { Unknown, Aac, Mpeg, Unsupported };

    using BytesSink = std::function<bool(std::span<const std::uint8_t>)>;

    // Whether bytes begin like a transport stream (a packet start, and the
    // next where there are bytes enough to see it).
    static bool looksLikeTransportStream(std::span<const std::uint8_t> bytes);

    // audio gets elementary bytes; a false from it ends the feed with false.
    bool feed(std::span<const std::uint8_t> bytes, const BytesSink& audio, const BytesSink& tag);
    // The end of a segment: a metadata tag still being collected is handed on.
    void flush(const BytesSink& tag);

    // What the program map named, once one was seen.
    Audio audio() const { return audio_; }

private:
    bool packet(const std::uint8_t* bytes, const BytesSink& audio, const BytesSink& tag);
    void table(std::span<const std::uint8_t> section);

    std::vector<std::uint8_t> partial_;  // a packet's start, from the last feed
    int pmtPid_ = -1;
    int audioPid_ = -1;
    int tagPid_ = -1;
    Audio audio_ = Audio::Unknown;
    bool audioInPes_ = false;  // past the audio PES header
    std::size_t skipPesHeader_ = 0;
    std::vector<std::uint8_t> tagBytes_;
};

}  // namespace korvanel
