#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace korvanel {

class ByteRing;
class CancelSignal;
class HlsStreamReader;
class IcyStreamReader;
class SamplePlayout;
class StreamCallbacks;
class TitlePlacement;

// Carries a stream's compressed audio from the network into the raw ring
// the decoder reads: an ICY body split from its metadata, or the segments
// of an HLS stream. The bytes go to the download callback on the way, and
// the titles to their placement.
//
// Threads: runIcy or runHls once, on the stream's network thread;
// bodyBytes and timedOut from any thread (atomics).
class NetworkFeed {
public:
    // Everything passed must outlive the run. `ready` turns true once the
    // stream's first samples are out.
    NetworkFeed(StreamCallbacks& callbacks, TitlePlacement& titles, const SamplePlayout& playout,
                const CancelSignal& cancel, const std::atomic<bool>& ready)
        : callbacks_(callbacks), titles_(titles), playout_(playout), cancel_(cancel), ready_(ready) {}

    void runIcy(IcyStreamReader& reader, ByteRing& raw, std::size_t metadataInterval);
    void runHls(HlsStreamReader& reader, ByteRing& raw);

    // Body bytes that came, metadata included.
    std::uint64_t bodyBytes() const { return bodyBytes_.load(); }
    // The server went silent: before the first samples, a failed open.
    bool timedOut() const { return timedOut_.load(); }

private:
    void ended(ByteRing& raw);

    StreamCallbacks& callbacks_;
    TitlePlacement& titles_;
    const SamplePlayout& playout_;
    const CancelSignal& cancel_;
    const std::atomic<bool>& ready_;
    std::atomic<std::uint64_t> bodyBytes_{0};
    std::atomic<bool> timedOut_{false};
};

}  // namespace korvanel
