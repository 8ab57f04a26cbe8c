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
#include "audio/engine/network_feed.h"
#include "audio/engine/sample_playout.h"
#include "audio/engine/stream_callbacks.h"
#include "audio/engine/title_placement.h"
#include "stream/cancel_signal.h"

namespace korvanel {

class FfmpegDecoder;
class FfmpegLoader;
class HlsStreamReader;
class IcyStreamReader;
class TlsClientContext;

// One decoding stream: opens its source (an ICY or HLS answer through our
// readers, or the Windows Media route through libavformat), then a network
// thread (NetworkFeed) feeds a decoder thread (FFmpeg) that fills the
// sample playout's ring, which getData() empties without waiting. The
// titles among the compressed bytes find their place in the samples
// through TitlePlacement.
//
// Threads: open*() on the creating thread, which waits until the format is
// known; abortOpen(), getData() and the queries from any thread. Stall,
// resume and end are handed to the event sink from getData()'s thread; the
// sink must only post them elsewhere. Download callbacks and metadata syncs
// run on the network or decoder thread, in stream order.
// stateLock_ guards the format, the tags and the open's outcome. The
// playout, the placement and the callbacks lock themselves; none of their
// locks is taken under stateLock_, nor stateLock_ under theirs.
class DecodingStream {
public:
    using EventSink = std::function<void(std::uint32_t syncType, std::uint32_t data)>;

    // `ffmpeg` and `tls` must outlive the stream.
    DecodingStream(const FfmpegLoader& ffmpeg, TlsClientContext& tls, std::uint32_t flags,
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
    std::int64_t position() const { return playout_.position(); }

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
    const std::uint32_t flags_;
    const std::uint32_t bufferMs_;
    const EventSink events_;
    CancelSignal cancel_;
    StreamCallbacks callbacks_;
    std::unique_ptr<IcyStreamReader> reader_;
    std::unique_ptr<HlsStreamReader> hls_;  // an HLS stream's, in place of reading reader_
    std::uint64_t hlsBandwidth_ = 0;
    std::unique_ptr<ByteRing> raw_;
    std::uint64_t bytesWithoutSamples_ = 0;  // the decoder thread's
    std::uint64_t rawRead_ = 0;              // the decoder thread's
    std::atomic<bool> readyFlag_{false};  // ready_, for the other threads
    std::atomic<bool> pulled_{false};     // getData() was called
    TitlePlacement titles_;
    SamplePlayout playout_;
    NetworkFeed feed_;

    mutable std::mutex stateLock_;
    std::condition_variable stateChanged_;
    bool ready_ = false;
    std::optional<AudioError> failure_;
    bool live_ = true;
    ChannelInfo info_;
    std::int64_t lengthBytes_ = audio::kUnknownLength;
    std::vector<std::string> httpTags_;
    std::vector<std::string> icyTags_;
    std::vector<std::string> comments_;
    std::vector<std::string> windowsMediaTags_;
    std::optional<std::uint64_t> contentLength_;

    std::thread network_;
    std::thread decoder_;
};

}  // namespace korvanel
