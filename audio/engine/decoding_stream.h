#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "audio/audio_library.h"
#include "audio/engine/byte_ring.h"
#include "stream/cancel_signal.h"
#include "audio/engine/stream_callbacks.h"

namespace korvanel {

class FfmpegDecoder;
class FfmpegLoader;
class HlsStreamReader;
class IcyStreamReader;
class TlsClientContext;

// One decoding stream: a network thread (URL streams: our ICY reader) feeding
// a decoder thread (FFmpeg) that fills a ring of decoded samples, which
// getData() empties without waiting.
//
// Threads: open*() on the creating thread, which waits until the format is
// known; getData() and the queries from any thread. Stall, resume and end
// are handed to the event sink from getData()'s thread; the sink must only
// post them elsewhere. Download callbacks and metadata syncs run on the
// network or decoder thread, in stream order.
// Lock order: dataLock_, then stateLock_, then the rings' own locks.
class DecodingStream {
public:
    using EventSink = std::function<void(std::uint32_t syncType, std::uint32_t data)>;

    // `ffmpeg` and `tls` must outlive the stream.
    DecodingStream(const FfmpegLoader& ffmpeg, TlsClientContext& tls, StreamHandle handle, std::uint32_t flags,
                   std::uint32_t bufferMs, EventSink events);
    // Cancels every wait and joins both threads.
    ~DecodingStream();
    DecodingStream(const DecodingStream&) = delete;
    DecodingStream& operator=(const DecodingStream&) = delete;

    // An answer that is an HLS playlist plays the stream it names.
    AudioResult<void> openUrl(const std::string& url, DownloadCallback download);
    // Before openUrl: the highest HLS variant to choose, in bits per second (0: any).
    void setHlsBandwidth(std::uint64_t bitsPerSecond) { hlsBandwidth_ = bitsPerSecond; }
    // The Windows Media route through libavformat's protocols; mms:// is
    // tried as mmsh:// and then as mmst://.
    AudioResult<void> openWindowsMedia(const std::string& address);

    // From any thread: an open in progress ends at once with kUnknown, and
    // the stream is of no further use.
    void abortOpen();

    StreamCallbacks& callbacks() { return callbacks_; }
    std::uint32_t flags() const { return flags_; }
    bool runsOn(std::thread::id thread) const;

    // Whole sample frames, never waiting; 0 while none are ready (or while
    // refilling after a stall), -1 once ended and drained.
    std::int32_t getData(std::span<std::uint8_t> buffer);
    ActiveState isActive() const;
    ChannelInfo info() const;
    std::optional<std::vector<std::string>> tags(std::uint32_t type) const;
    std::int64_t length() const;
    std::int64_t position() const { return position_.load(std::memory_order_relaxed); }

    // How far decoding has got: compressed bytes taken and the samples
    // they gave.
    struct DecodeProgress {
        std::uint64_t rawBytes = 0;
        std::uint64_t pcmBytes = 0;
    };
    // Where the compressed byte at rawOffset, which the step from `before`
    // to `after` decoded, comes out in the samples: in proportion within
    // the step, on a whole frame.
    static std::uint64_t placeInStep(std::uint64_t rawOffset, const DecodeProgress& before,
                                     const DecodeProgress& after, std::size_t frameBytes);

    static constexpr std::size_t kRawBufferBytes = 65536;
    // Open waits at most this long for the first decoded samples.
    static constexpr std::chrono::milliseconds kOpenTimeout{15000};
    // A live stream that sends nothing this long has ended.
    static constexpr std::chrono::milliseconds kSilenceTimeout{10000};
    // A stream whose bytes yield no samples for this long has ended (or
    // failed to open): FFmpeg's parsers keep bytes without a frame header
    // in memory, so garbage would otherwise grow it without bound. Far
    // above any tag or header a real stream begins with.
    static constexpr std::uint64_t kMaxBytesWithoutSamples = 8 * 1024 * 1024;

private:
    AudioResult<void> openHls();
    void startDecoder(const std::string& formatName, std::optional<std::int64_t> totalBytes);
    void runNetwork(std::size_t metadataInterval);
    void runHls();
    // Metadata that came after audioBytes of the stream: fired now, placed
    // in the samples once decoding gets there.
    void announceMetadata(std::string text, std::uint64_t audioBytes, std::uint32_t& tickets);
    using Opener = std::function<AudioError(std::unique_ptr<FfmpegDecoder>& decoder)>;
    void runDecoder(const Opener& open, bool windowsMedia);
    enum class Demuxer { NotNeeded, Needed };
    // Waits for FFmpeg's libraries, which only the decoder thread needs.
    AudioError newDecoder(std::unique_ptr<FfmpegDecoder>& decoder, Demuxer demuxer);
    bool deliverPcm(std::span<const std::uint8_t> samples, FfmpegDecoder& decoder,
                    bool windowsMedia);
    void publishReady(const FfmpegDecoder& decoder, bool windowsMedia);
    void publishFailure(AudioError error);
    // Why an open failed, from the decoder's error and the network's state.
    AudioError failureReason(AudioError decoderError, bool windowsMedia) const;
    AudioResult<void> waitUntilOpen();
    int readRaw(std::span<std::uint8_t> buffer);
    void cancel();

    const FfmpegLoader& ffmpeg_;
    TlsClientContext& tls_;
    const StreamHandle handle_;
    const std::uint32_t flags_;
    const std::uint32_t bufferMs_;
    const EventSink events_;
    CancelSignal cancel_;
    StreamCallbacks callbacks_;
    std::unique_ptr<IcyStreamReader> reader_;
    std::unique_ptr<HlsStreamReader> hls_;  // an HLS stream's, in place of reading reader_
    std::uint64_t hlsBandwidth_ = 0;
    std::unique_ptr<ByteRing> raw_;
    // Created by the decoder thread before it reports ready; fixed afterwards.
    std::unique_ptr<ByteRing> pcm_;
    std::size_t frameBytes_ = 4;
    std::size_t resumeLevel_ = 0;
    std::uint64_t bytesWithoutSamples_ = 0;  // the decoder thread's
    std::uint64_t rawRead_ = 0;              // the decoder thread's
    // ICY metadata whose place in the samples the decoder thread gives
    // once it has decoded up to it; the network thread adds them.
    struct Mark {
        std::uint32_t ticket = 0;
        std::uint64_t rawOffset = 0;
    };
    std::mutex progressLock_;
    DecodeProgress progress_;  // the decoder thread's; read under the lock
    std::deque<Mark> marks_;
    static constexpr std::size_t kMaxMarks = 256;

    mutable std::mutex stateLock_;
    std::condition_variable stateChanged_;
    bool ready_ = false;
    std::optional<AudioError> failure_;
    bool live_ = true;
    ChannelInfo info_;
    std::int64_t lengthBytes_ = audio::kUnknownLength;
    std::vector<std::string> httpTags_;
    std::vector<std::string> icyTags_;
    // ICY metadata by the decoded position it applies from; the tags give
    // the one that applies where getData() has read to.
    struct IcyBlock {
        std::uint32_t ticket = 0;
        std::optional<std::uint64_t> position;  // nothing until placed
        std::string text;
    };
    std::deque<IcyBlock> icyMetadata_;
    static constexpr std::size_t kMaxIcyBlocks = 256;
    std::vector<std::string> comments_;
    std::vector<std::string> windowsMediaTags_;
    std::optional<std::uint64_t> contentLength_;

    std::mutex dataLock_;
    std::atomic<bool> stalled_{false};
    bool endReported_ = false;
    std::atomic<std::int64_t> position_{0};
    std::atomic<std::uint64_t> bodyBytes_{0};
    std::atomic<bool> networkTimedOut_{false};
    std::atomic<bool> readyFlag_{false};  // ready_, for the network thread
    std::atomic<bool> pulled_{false};     // getData() was called

    std::thread network_;
    std::thread decoder_;
};

}  // namespace korvanel
