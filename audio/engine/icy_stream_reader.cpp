#include "audio/engine/icy_stream_reader.h"

#include <algorithm>
#include <charconv>
#include <utility>

#include "base/product.h"

namespace korvanel {
namespace {

using Clock = std::chrono::steady_clock;

std::chrono::milliseconds leftUntil(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return std::max(left, std::chrono::milliseconds(0));
}

AudioError errorFor(NetStatus status) {
    switch (status) {
        case NetStatus::Ok: return AudioError::Ok;
        case NetStatus::TimedOut: return AudioError::Timeout;
        case NetStatus::Cancelled: return AudioError::Unknown;
        default: return AudioError::FileOpen;
    }
}

bool isRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

}  // namespace

IcyStreamReader::IcyStreamReader(const CancelSignal& cancel, TlsClientContext* tls)
    : cancel_(cancel), connection_(cancel, -1, tls) {}

AudioError IcyStreamReader::open(const std::string& url, bool requestMetadata,
                                 std::chrono::milliseconds timeout) {
    std::optional<StreamUrl> target = StreamUrl::parse(url);
    if (!target) {
        return AudioError::FileOpen;
    }
    for (int redirects = 0;; ++redirects) {
        const AudioError error = request(*target, requestMetadata, Clock::now() + timeout);
        if (error != AudioError::Ok) {
            return error;
        }
        if (head_.status == 200) {
            url_ = *target;
            const std::optional<std::string> coding = head_.header("Transfer-Encoding");
            if (coding && coding->find("chunked") != std::string::npos) {
                chunked_.emplace();
            }
            return AudioError::Ok;
        }
        if (!isRedirect(head_.status) || redirects == kMaxRedirects) {
            return AudioError::FileOpen;
        }
        const std::optional<std::string> location = head_.header("Location");
        target = location ? target->resolve(*location) : std::nullopt;
        if (!target) {
            return AudioError::FileOpen;
        }
    }
}

AudioError IcyStreamReader::request(const StreamUrl& url, bool requestMetadata,
                                    Clock::time_point deadline) {
    connection_.close();
    pending_.clear();
    pendingOffset_ = 0;
    chunked_.reset();
    decoded_.clear();
    decodedOffset_ = 0;
    head_ = HttpResponseHead{};

    NetStatus status = connection_.connect(url.host, url.port, url.tls, leftUntil(deadline));
    if (status != NetStatus::Ok) {
        return errorFor(status);
    }
    std::string text = "GET " + url.target + " HTTP/1.0\r\nHost: " + url.hostHeader() +
                       "\r\nUser-Agent: " + product::kName + "/" + product::kVersion +
                       "\r\nAccept: */*\r\n";
    if (requestMetadata) {
        text += "Icy-MetaData: 1\r\n";
    }
    text += "Connection: close\r\n\r\n";
    status = connection_.writeAll(
        std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()),
        leftUntil(deadline));
    if (status != NetStatus::Ok) {
        return errorFor(status);
    }

    std::string received;
    std::uint8_t chunk[4096];
    for (;;) {
        const auto result = connection_.readSome(chunk, leftUntil(deadline));
        if (result.status != NetStatus::Ok) {
            return errorFor(result.status == NetStatus::Closed ? NetStatus::Failed : result.status);
        }
        // Look for the end only in what could hold it, so a slow head stays linear.
        const std::size_t searchFrom = received.size() >= 3 ? received.size() - 3 : 0;
        received.append(reinterpret_cast<const char*>(chunk), result.count);
        const std::size_t end = HttpResponseHead::findEnd(std::string_view(received).substr(searchFrom));
        if (end != 0) {
            const std::size_t headLength = searchFrom + end;
            if (headLength > HttpResponseHead::kMaxBytes) {
                return AudioError::FileOpen;
            }
            std::optional<HttpResponseHead> head =
                HttpResponseHead::parse(std::string_view(received).substr(0, headLength));
            if (!head) {
                return AudioError::FileOpen;
            }
            head_ = std::move(*head);
            pending_.assign(received.begin() + static_cast<std::ptrdiff_t>(headLength),
                            received.end());
            return AudioError::Ok;
        }
        if (received.size() > HttpResponseHead::kMaxBytes) {
            return AudioError::FileOpen;
        }
    }
}

std::optional<std::uint64_t> IcyStreamReader::contentLength() const {
    const std::optional<std::string> value = head_.header("Content-Length");
    if (!value || value->empty()) {
        return std::nullopt;
    }
    std::uint64_t length = 0;
    const char* end = value->data() + value->size();
    const auto [stop, error] = std::from_chars(value->data(), end, length);
    if (error != std::errc() || stop != end) {
        return std::nullopt;
    }
    return length;
}

void IcyStreamReader::unread(std::string bytes) {
    putBack_ = std::move(bytes);
    putBackOffset_ = 0;
}

NetworkConnection::ReadResult IcyStreamReader::read(std::span<std::uint8_t> buffer,
                                                    std::chrono::milliseconds timeout) {
    if (putBackOffset_ < putBack_.size()) {
        const std::size_t count = std::min(buffer.size(), putBack_.size() - putBackOffset_);
        std::copy_n(putBack_.begin() + static_cast<std::ptrdiff_t>(putBackOffset_), count, buffer.begin());
        putBackOffset_ += count;
        if (putBackOffset_ == putBack_.size()) {
            unread({});
        }
        return {NetStatus::Ok, count};
    }
    if (!chunked_) {
        return readRaw(buffer, timeout);
    }
    while (decodedOffset_ == decoded_.size()) {
        decoded_.clear();
        decodedOffset_ = 0;
        if (chunked_->state() == ChunkedDecoder::State::Done) {
            return {NetStatus::Closed, 0};
        }
        std::uint8_t raw[4096];
        const NetworkConnection::ReadResult result = readRaw(raw, timeout);
        if (result.status != NetStatus::Ok) {
            // Closed before the last chunk: the stream was cut, not ended.
            return {result.status == NetStatus::Closed ? NetStatus::Failed : result.status, 0};
        }
        if (chunked_->feed(std::string_view(reinterpret_cast<const char*>(raw), result.count), decoded_) ==
            ChunkedDecoder::State::Malformed) {
            return {NetStatus::Failed, 0};
        }
    }
    const std::size_t count = std::min(buffer.size(), decoded_.size() - decodedOffset_);
    std::copy_n(decoded_.begin() + static_cast<std::ptrdiff_t>(decodedOffset_), count, buffer.begin());
    decodedOffset_ += count;
    return {NetStatus::Ok, count};
}

NetworkConnection::ReadResult IcyStreamReader::readRaw(std::span<std::uint8_t> buffer,
                                                       std::chrono::milliseconds timeout) {
    if (pendingOffset_ < pending_.size()) {
        const std::size_t count = std::min(buffer.size(), pending_.size() - pendingOffset_);
        std::copy_n(pending_.begin() + static_cast<std::ptrdiff_t>(pendingOffset_), count,
                    buffer.begin());
        pendingOffset_ += count;
        if (pendingOffset_ == pending_.size()) {
            pending_.clear();
            pendingOffset_ = 0;
        }
        return {NetStatus::Ok, count};
    }
    if (cancel_.raised()) {
        return {NetStatus::Cancelled, 0};
    }
    return connection_.readSome(buffer, timeout);
}

}  // namespace korvanel
