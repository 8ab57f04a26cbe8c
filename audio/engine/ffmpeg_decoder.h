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

struct AVFormatContext;
struct AVCodecContext;
struct AVIOContext;
struct AVPacket;
struct AVFrame;
struct SwrContext;
struct AVDictionary;

namespace korvanel {

struct FfmpegFunctions;

// Demuxes and decodes one audio stream with libavformat/libavcodec and
// converts it with libswresample to signed 16-bit interleaved samples at the
// stream's own rate and channel count (fixed by the first decoded frame;
// later frames are converted to it). Used by one thread.
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

    // `ff` must outlive the decoder.
    FfmpegDecoder(const FfmpegFunctions& ff, InterruptFunction interrupted);
    ~FfmpegDecoder();
    FfmpegDecoder(const FfmpegDecoder&) = delete;
    FfmpegDecoder& operator=(const FfmpegDecoder&) = delete;

    // The demuxer for a Content-Type, so start-up need not wait for probing;
    // empty when the type says nothing useful.
    static std::string formatForContentType(std::string_view contentType);

    // Opens over our own reader. formatName may be empty (then the input is
    // probed); totalBytes, when known, lets the demuxer estimate duration.
    AudioError openCustom(ReadFunction read, const std::string& formatName,
                          std::optional<std::int64_t> totalBytes);
    // Opens an address through libavformat's own protocols.
    AudioError openUrl(const std::string& url, std::chrono::milliseconds timeout);

    // Reads and decodes one packet, handing its samples to `pcm` and any new
    // set of stream comments to `metadata`.
    Step decodeNext(const PcmSink& pcm, const MetadataSink& metadata);

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
    // Frees through the FFmpeg function that takes the pointer's address.
    template <class T>
    struct Release {
        void (*release)(T**) = nullptr;
        void operator()(T* object) const { release(&object); }
    };
    struct IoDeleter {
        const FfmpegFunctions* ff = nullptr;
        void operator()(AVIOContext* context) const;
    };

    static int readPacket(void* opaque, std::uint8_t* buffer, int size);
    static std::int64_t seek(void* opaque, std::int64_t offset, int whence);
    static int interruptCallback(void* opaque);

    AudioError openStream();
    bool convert(const AVFrame& frame, const PcmSink& pcm);
    bool receiveFrames(const PcmSink& pcm);
    void takeStreamEvents(const AVPacket& packet, const MetadataSink& metadata);

    const FfmpegFunctions& ff_;
    InterruptFunction interrupted_;
    ReadFunction read_;
    std::optional<std::int64_t> totalBytes_;
    bool readEnded_ = false;
    std::unique_ptr<AVIOContext, IoDeleter> io_;
    std::unique_ptr<AVFormatContext, Release<AVFormatContext>> format_;
    std::unique_ptr<AVCodecContext, Release<AVCodecContext>> codec_;
    std::unique_ptr<AVPacket, Release<AVPacket>> packet_;
    std::unique_ptr<AVFrame, Release<AVFrame>> frame_;
    std::unique_ptr<SwrContext, Release<SwrContext>> resampler_;
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
