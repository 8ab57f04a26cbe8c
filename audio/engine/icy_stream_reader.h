#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "audio/audio_library.h"
#include "stream/cancel_signal.h"
#include "stream/chunked_decoder.h"
#include "stream/http_response_head.h"
#include "stream/network_connection.h"
#include "stream/stream_url.h"

namespace korvanel {

// The network side of a URL stream: one HTTP/1.0 GET (asking for ICY
// metadata when wanted), up to five redirects, then the body bytes as they
// come, ICY metadata still in them, a chunked body undone (a broken chunk
// ends the stream as a failure, never as audio). Accepts "ICY 200 OK" and
// "HTTP/1.x 200".
// Used by one thread at a time; every wait ends on the cancel signal.
class IcyStreamReader {
public:
    static constexpr int kMaxRedirects = 5;
    static constexpr std::chrono::milliseconds kTimeout{5000};

    // tls: the shared TLS settings (null: the connection makes its own).
    explicit IcyStreamReader(const CancelSignal& cancel, TlsClientContext* tls = nullptr);

    // Connects and reads the answer's head. Failures come as the library's
    // error codes: kTimeout when a connection or answer does not come within
    // the time-out, kFileOpen for every other failure.
    AudioError open(const std::string& url, bool requestMetadata,
                    std::chrono::milliseconds timeout = kTimeout);

    const HttpResponseHead& head() const { return head_; }
    // The address finally answered (after redirects).
    const StreamUrl& url() const { return url_; }
    std::optional<std::uint64_t> contentLength() const;

    // Body bytes: first those put back, then those that came with the
    // head, then the socket's.
    NetworkConnection::ReadResult read(std::span<std::uint8_t> buffer,
                                       std::chrono::milliseconds timeout);
    // Puts bytes read from the body back in front of it: a look at the first
    // bytes costs the decoder none of them. Replaces what was put back before
    // and not yet read again.
    void unread(std::string bytes);
    // The body as sent, chunk lines and all.
    NetworkConnection::ReadResult readRaw(std::span<std::uint8_t> buffer,
                                          std::chrono::milliseconds timeout);

private:
    AudioError request(const StreamUrl& url, bool requestMetadata,
                       std::chrono::steady_clock::time_point deadline);

    const CancelSignal& cancel_;
    NetworkConnection connection_;
    HttpResponseHead head_;
    StreamUrl url_;
    std::vector<std::uint8_t> pending_;  // body bytes read with the head
    std::size_t pendingOffset_ = 0;
    std::optional<ChunkedDecoder> chunked_;  // when the body is chunked
    std::string decoded_;                    // undone, not yet read
    std::size_t decodedOffset_ = 0;
    std::string putBack_;  // body bytes to be read again
    std::size_t putBackOffset_ = 0;
};

}  // namespace korvanel
