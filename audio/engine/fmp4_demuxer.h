#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "stream/ogg_page.h"

namespace korvanel {

// The audio track an fMP4 initialisation section describes, as far as
// turning its samples into elementary audio needs it.
struct Fmp4Track {
    enum class Codec { Aac, Mp3, Opus, Flac };
    Codec codec = Codec::Aac;
    std::uint32_t trackId = 0;
    std::uint32_t defaultSampleSize = 0;  // from the movie's trex, 0 when none
    // AAC: what every ADTS header repeats.
    unsigned profile = 1;  // the audio object type less one
    unsigned frequencyIndex = 4;
    unsigned channelConfiguration = 2;
    // Opus and FLAC: the header packets of the Ogg stream they become.
    std::vector<std::string> oggHeaders;

    // Reads an initialisation section (ftyp, moov); nothing when it holds no
    // audio track we can play, with the codec's name in unsupported when it
    // named one ("opus", "flac", ...).
    static std::optional<Fmp4Track> parse(std::span<const std::uint8_t> init, std::string& unsupported);
};

// The Ogg stream that Opus and FLAC fragments become, one for all the
// segments of a track.
struct Fmp4OggStream {
    explicit Fmp4OggStream(std::uint32_t serial) : pages(serial) {}
    OggPageWriter pages;
    std::int64_t granule = 0;  // samples so far, Opus's pre-skip among them
    bool started = false;      // its header pages are out
};

// Turns the fragments of fMP4 media segments (moof and mdat, with emsg
// among them) into elementary audio, ADTS AAC or MPEG audio as a transport
// stream gives it, or Ogg pages of Opus or FLAC, and hands on the ID3 tags of timed metadata (emsg)
// where they come, before the audio they go with. Bytes come in chunks of
// any size; a box larger than kMaxBoxBytes is passed over unread, so memory
// stays bounded whatever a server sends. Not thread-safe.
class Fmp4Demuxer {
public:
    using AudioSink = std::function<bool(std::span<const std::uint8_t>)>;
    using TagSink = std::function<void(std::span<const std::uint8_t>)>;

    static constexpr std::size_t kMaxBoxBytes = 16 * 1024 * 1024;
    static constexpr std::size_t kMaxSamples = 65536;  // in one fragment

    // Opus and FLAC need the stream their pages continue.
    explicit Fmp4Demuxer(const Fmp4Track& track, Fmp4OggStream* ogg = nullptr) : track_(track), ogg_(ogg) {}

    // False when the audio sink stopped.
    bool feed(std::span<const std::uint8_t> bytes, const AudioSink& audio, const TagSink& onTag);
    // The segment's end: a last box that runs to it is read.
    bool finish(const AudioSink& audio, const TagSink& onTag);

    // Whether bytes begin with a box an fMP4 media segment starts with.
    static bool looksLikeFragment(std::span<const std::uint8_t> bytes);

private:
    bool takeBox(std::span<const std::uint8_t> box, std::size_t headerBytes, const AudioSink& audio,
                 const TagSink& onTag);
    void readFragment(std::span<const std::uint8_t> moof);
    bool readSamples(std::span<const std::uint8_t> mdat, std::size_t headerBytes, const AudioSink& audio);

    bool writeOggPages(std::span<const std::uint8_t> mdat, std::size_t at, const AudioSink& audio);

    const Fmp4Track track_;
    Fmp4OggStream* ogg_;
    std::vector<std::uint8_t> held_;
    std::size_t skip_ = 0;  // bytes of an over-long box still to pass over
    // The last moof's samples, waiting for their mdat.
    std::vector<std::uint32_t> sampleSizes_;
    std::int64_t dataOffset_ = -1;  // from the moof's start, when given
    std::size_t moofBytes_ = 0;
    std::vector<std::uint8_t> frame_;
};

}  // namespace korvanel
