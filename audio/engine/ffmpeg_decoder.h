#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "audio/audio_library.h"
#include "audio/engine/ogg_packet_reader.h"

struct AVFormatContext;
struct AVCodecContext;
struct AVIOContext;
struct AVPacket;
struct AVFrame;
struct SwrContext;
struct AVDictionary;
struct AVCodecParserContext;
struct AVCodecParameters;

namespace korvanel {

struct FfmpegCodecFunctions;
struct FfmpegFormatFunctions;

// Frees an FFmpeg object through the function that takes its pointer's
// address, as FFmpeg's own free functions do.
template <class T>
struct FfmpegRelease {
    void (*release)(T**) = nullptr;
    void operator()(T* object) const { release(&object); }
};

// Demuxes and decodes one audio stream with libavformat/libavcodec and
// converts it with libswresample to signed 16-bit interleaved samples at the
// stream's own rate and channel count (fixed by the first decoded frame;
// later frames are converted to it). A live stream of raw MPEG audio or ADTS
// frames is split by libavcodec's parser instead, and a live Ogg Vorbis or
// Opus stream by our own page reader, without libavformat.
// Used by one thread.
class FfmpegDecoder {
public:
    // Fills the buffer: a byte count > 0, or 0 at the end of the input, or
    // -1 when the read was cancelled.
    using ReadFunction = std::function<int(std::span<std::uint8_t> buffer)>;
    // Asked during every blocking libavformat call: true stops it.
    using InterruptFunction = std::function<bool()>;
    // Takes converted samples; false stops decoding.
    using PcmSink = std::function<bool(std::span<const std::uint8_t> samples)>;
    using MetadataSink = std::function<void(std::vector<std::string> comments)>;

    enum class Step { Decoded, End, Failed, Stopped };

    // Both tables must outlive the decoder; `formats` may be null when only
    // openParsed() is used.
    FfmpegDecoder(const FfmpegCodecFunctions& codecs, const FfmpegFormatFunctions* formats,
                  InterruptFunction interrupted);
    ~FfmpegDecoder();
    FfmpegDecoder(const FfmpegDecoder&) = delete;
    FfmpegDecoder& operator=(const FfmpegDecoder&) = delete;

    // The demuxer for a Content-Type, so start-up need not wait for probing;
    // empty when the type says nothing useful.
    static std::string formatForContentType(std::string_view contentType);
    // Whether openParsed() or openOgg() takes a stream of this format: raw
    // MPEG audio, ADTS or Ogg without a known length (a live stream has no
    // duration to find).
    static bool parsesWithoutDemuxer(const std::string& formatName, std::optional<std::int64_t> totalBytes);

    // Opens over our own reader. formatName may be empty (then the input is
    // probed); totalBytes, when known, lets the demuxer estimate duration.
    AudioError openCustom(ReadFunction read, const std::string& formatName,
                          std::optional<std::int64_t> totalBytes);
    // Opens over our own reader with libavcodec's parser (see
    // parsesWithoutDemuxer); an ID3v2 tag in front is skipped.
    AudioError openParsed(ReadFunction read, const std::string& formatName);
    // Opens a live Ogg stream over our own reader, Vorbis or Opus; any other
    // codec gives FileFormat, and then openingBytes() may hold what was read
    // so far, for libavformat to start over with.
    AudioError openOgg(ReadFunction read);
    std::optional<std::string> openingBytes() const;
    // Opens an address through libavformat's own protocols.
    AudioError openUrl(const std::string& url, std::chrono::milliseconds timeout);

    // Reads and decodes one packet, handing its samples to `pcm` and any new
    // set of stream comments to `metadata`.
    Step decodeNext(const PcmSink& pcm, const MetadataSink& metadata);

    // Bytes taken from the reader that no packet has come from yet, where
    // the decoder can tell (libavcodec's parser); 0 otherwise.
    std::size_t unparsedInputBytes() const { return parser_ ? inputEnd_ - inputStart_ : 0; }

    // Known once the first frame was decoded.
    bool hasFormat() const { return outRate_ > 0; }
    int sampleRate() const { return outRate_; }
    int channels() const { return outChannels_; }
    std::uint32_t channelType() const;
    // Stream duration in microseconds, or -1.
    std::int64_t durationUs() const;
    // Bits per second of the compressed stream, or 0.
    std::int64_t bitRate() const;
    // The stream's comments as "KEY=value".
    std::vector<std::string> comments() const;
    // Container and stream metadata as "key = value" (Windows Media form).
    std::vector<std::string> windowsMediaTags() const;

private:
    // Whether the stream comes in Ogg pages, by our reader or libavformat's.
    bool inOgg() const;
    struct IoDeleter {
        const FfmpegCodecFunctions* codecs = nullptr;
        const FfmpegFormatFunctions* formats = nullptr;
        void operator()(AVIOContext* context) const;
    };
    struct ParserDeleter {
        void (*close)(AVCodecParserContext*) = nullptr;
        void operator()(AVCodecParserContext* parser) const { close(parser); }
    };

    // What one read asks of our reader.
    static constexpr int kIoBufferBytes = 16384;

    static void appendEntries(const FfmpegCodecFunctions& ff, const AVDictionary* dictionary,
                              std::vector<std::string>& out, const char* separator);
    static int readPacket(void* opaque, std::uint8_t* buffer, int size);
    static std::int64_t seek(void* opaque, std::int64_t offset, int whence);
    static int interruptCallback(void* opaque);

    AudioError openStream();
    AudioError openDecoder(int codecId, const AVCodecParameters* parameters, std::string_view extradata = {});
    // Reads until the reader has a packet; nothing at the end or on a stop
    // (then `step` says which).
    std::optional<OggPacketReader::Packet> nextOggPacket(Step& step);
    // Opens the decoder for the logical stream whose first packet this is,
    // reading its other header packets.
    AudioError startOggStream(OggPacketReader::Packet identification);
    Step decodeOgg(const PcmSink& pcm, const MetadataSink& metadata);
    Step decodeParsed(const PcmSink& pcm);
    Step decodeDemuxed(const PcmSink& pcm, const MetadataSink& metadata);
    // Reads into the parser's input; false when the input ended or a read
    // was cancelled (then `step` says which).
    bool refillInput(Step& step);
    Step drain(const PcmSink& pcm);
    // Decodes one packet's bytes (not kept); false when the sink said stop.
    bool decodeBytes(std::uint8_t* data, int size, const PcmSink& pcm);
    bool convert(const AVFrame& frame, const PcmSink& pcm);
    bool receiveFrames(const PcmSink& pcm);
    void takeStreamEvents(const AVPacket& packet, const MetadataSink& metadata);

    const FfmpegCodecFunctions& codecs_;
    const FfmpegFormatFunctions* formats_;
    InterruptFunction interrupted_;
    ReadFunction read_;
    std::optional<std::int64_t> totalBytes_;
    bool readEnded_ = false;
    std::unique_ptr<AVIOContext, IoDeleter> io_;
    std::unique_ptr<AVFormatContext, FfmpegRelease<AVFormatContext>> format_;
    std::unique_ptr<AVCodecParserContext, ParserDeleter> parser_;
    // The parser's input: the bytes from inputStart_ to inputEnd_, then
    // zeroed padding as libavcodec wants it.
    std::vector<std::uint8_t> input_;
    std::size_t inputStart_ = 0;
    std::size_t inputEnd_ = 0;
    std::uint64_t skipBytes_ = 0;  // of a leading ID3v2 tag
    bool startChecked_ = false;
    bool firstPacketChecked_ = false;
    // Ogg without libavformat: the reader, the logical stream decoded, the
    // comments and nominal bit rate of its headers, and while opening the
    // bytes read (up to a bound), for a start over with libavformat.
    std::unique_ptr<OggPacketReader> ogg_;
    std::uint32_t oggSerial_ = 0;
    bool oggStreamOpen_ = false;
    std::vector<std::string> oggComments_;
    std::int64_t oggBitRate_ = 0;
    std::string openingBytes_;
    bool openingBytesWhole_ = false;
    // Samples of encoder and decoder delay still to drop from the output.
    std::size_t skipSamples_ = 0;
    std::unique_ptr<AVCodecContext, FfmpegRelease<AVCodecContext>> codec_;
    std::unique_ptr<AVPacket, FfmpegRelease<AVPacket>> packet_;
    std::unique_ptr<AVFrame, FfmpegRelease<AVFrame>> frame_;
    std::unique_ptr<SwrContext, FfmpegRelease<SwrContext>> resampler_;
    int streamIndex_ = -1;
    int outRate_ = 0;
    int outChannels_ = 0;
    // The input format the resampler was set up for.
    int inRate_ = 0;
    int inFormat_ = -1;
    std::uint64_t inLayoutKey_ = 0;
    std::vector<std::uint8_t> converted_;
    bool flushing_ = false;
};

}  // namespace korvanel
