#include "stream/http_client.h"

#include <array>
#include <span>
#include <optional>
#include <utility>

#include "base/window_event.h"
#include "base/file_util.h"
#include "settings/settings_store.h"
#include "stream/http_address.h"
#include "stream/http_response.h"
#include "stream/chunked_decoder.h"
#include "stream/http_response_head.h"
#include "stream/network_connection.h"
#include "stream/stream_url.h"

namespace korvanel {

namespace {

constexpr std::size_t kReceiveChunk = 10000;

}  // namespace

HttpClient::HttpClient(const SettingsStore& settings, EventSink& events) : events_(events) {
    readProxy(settings);
}

HttpClient::~HttpClient() { shutdown(); }

void HttpClient::shutdown() {
    cancel_.raise();
    workers_.stop();
}

void HttpClient::applySettings(SettingsStore& store) { readProxy(store); }

void HttpClient::collectSettings(SettingsStore&) {}

void HttpClient::readProxy(const SettingsStore& store) {
    std::string host = store.getString(kProxyHostKey);
    const int port = store.getInt(kProxyPortKey);
    std::lock_guard<std::mutex> guard(lock_);
    proxyHost_ = std::move(host);
    proxyPort_ = port;
}

void HttpClient::setLimits(const HttpLimits& limits) {
    std::lock_guard<std::mutex> guard(lock_);
    limits_ = limits;
}

HttpLimits HttpClient::limits() const {
    std::lock_guard<std::mutex> guard(lock_);
    return limits_;
}

HttpClient::Route HttpClient::route() const {
    std::lock_guard<std::mutex> guard(lock_);
    return Route{proxyHost_, proxyPort_, limits_};
}

bool HttpClient::fetch(const std::string& url, ByteBuffer& out, int stopFd, std::string* finalUrl,
                       TlsFailure* secureFailure) {
    out.clear();
    const Route via = route();
    std::string next = url;
    for (int hop = 0;; ++hop) {
        const Answer answer = fetchOnce(next, via, out, stopFd);
        if (secureFailure != nullptr) {
            *secureFailure = answer.secureFailure;
        }
        if (answer.kind == Answer::Kind::Body) {
            if (finalUrl != nullptr) {
                *finalUrl = next;
            }
            return true;
        }
        out.clear();
        if (answer.kind == Answer::Kind::Failed || hop == kMaxRedirects) {
            return false;
        }
        const std::optional<StreamUrl> from = StreamUrl::parse(next);
        const std::optional<StreamUrl> to = from ? from->resolve(answer.location) : std::nullopt;
        if (!to) {
            return false;
        }
        next = to->toString();
    }
}

NetStatus HttpClient::open(NetworkConnection& connection, const HttpAddress& address, const Route& via) {
    const bool useProxy = !via.proxyHost.empty();
    NetStatus status = useProxy ? connection.connect(via.proxyHost, static_cast<std::uint16_t>(via.proxyPort), false,
                                                     via.limits.connectTimeout)
                                : connection.connect(address.host, address.port, address.tls,
                                                     via.limits.connectTimeout);
    if (status == NetStatus::Ok && useProxy && address.tls) {
        status = openTunnel(connection, address, via.limits);
        if (status == NetStatus::Ok) {
            status = connection.startTls(address.host, via.limits.connectTimeout);
        }
    }
    return status;
}

TlsFailure HttpClient::checkCertificate(const std::string& url, int stopFd) {
    const std::optional<HttpAddress> address = HttpAddress::parse(url);
    const Route via = route();
    if (!address || !address->tls || (!via.proxyHost.empty() && (via.proxyPort <= 0 || via.proxyPort > 65535))) {
        return TlsFailure::None;
    }
    NetworkConnection connection(cancel_, stopFd, &tls_);
    return open(connection, *address, via) == NetStatus::TlsFailed ? connection.tlsFailure() : TlsFailure::None;
}

HttpClient::Answer HttpClient::fetchOnce(const std::string& url, const Route& via, ByteBuffer& out, int stopFd) {
    const std::optional<HttpAddress> address = HttpAddress::parse(url);
    if (!address) {
        return {};
    }
    const bool useProxy = !via.proxyHost.empty();
    if (useProxy && (via.proxyPort <= 0 || via.proxyPort > 65535)) {
        return {};
    }
    // A plain proxy takes the whole address; through a tunnel the server
    // sees an ordinary request.
    const bool absoluteTarget = useProxy && !address->tls;
    const std::optional<std::string> request = buildGetRequest(
        absoluteTarget ? std::string_view(url) : std::string_view(address->path), address->hostHeader(), kUserAgent);
    if (!request) {
        return {};
    }

    NetworkConnection connection(cancel_, stopFd, &tls_);
    const auto bytes = [](std::string_view text) {
        return std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    };
    const NetStatus status = open(connection, *address, via);
    if (status == NetStatus::TlsFailed) {
        // The kind travels as the first word, for a reason in the user's language.
        WindowEvent refused = makeEvent(EventKind::SecureFailed, url);
        refused.detail = static_cast<std::int64_t>(connection.tlsFailure());
        events_.post(std::move(refused));
        Answer failed;
        failed.secureFailure = connection.tlsFailure();
        return failed;
    }
    if (status != NetStatus::Ok || connection.writeAll(bytes(*request), via.limits.idleTimeout) != NetStatus::Ok) {
        return {};
    }

    const std::size_t maxResponse = via.limits.maxBodyBytes + kMaxHttpHeaderBytes;
    std::optional<HttpResponseHead> head;
    std::size_t headLength = 0;
    std::optional<ChunkedDecoder> chunked;
    std::string decoded;
    std::array<std::uint8_t, kReceiveChunk> chunk;
    for (;;) {
        const NetworkConnection::ReadResult received = connection.readSome(chunk, via.limits.idleTimeout);
        if (received.status == NetStatus::Closed) {
            break;  // the server closed: the response is complete
        }
        if (received.status != NetStatus::Ok || out.size() + received.count > maxResponse ||
            !out.append(reinterpret_cast<const char*>(chunk.data()), received.count)) {
            return {};  // a partial response is worth nothing
        }
        if (!head) {
            headLength = HttpResponseHead::findEnd(out.view().substr(0, kMaxHttpHeaderBytes));
            if (headLength == 0) {
                continue;
            }
            head = HttpResponseHead::parse(out.view().substr(0, headLength));
            if (!head) {
                return {};
            }
            const std::optional<std::string> coding = head->header("Transfer-Encoding");
            if (coding && coding->find("chunked") != std::string::npos) {
                chunked.emplace();
                chunked->feed(out.view().substr(headLength), decoded);
            }
        } else if (chunked) {
            chunked->feed(std::string_view(reinterpret_cast<const char*>(chunk.data()), received.count), decoded);
        }
        if (chunked && chunked->state() != ChunkedDecoder::State::Running) {
            break;  // the last chunk came (or a broken one): no need to wait for the close
        }
    }

    if (head && head->status >= 300 && head->status < 400 && head->status != 304) {
        Answer redirect;
        redirect.kind = Answer::Kind::Redirect;
        redirect.location = head->header("Location").value_or("");
        return redirect.location.empty() ? Answer{} : redirect;
    }
    const std::optional<std::string_view> body = httpResponseBody(out.view(), via.limits.maxBodyBytes);
    if (!body) {
        return {};
    }
    if (chunked) {
        // A body cut short or broken is no body.
        if (chunked->state() != ChunkedDecoder::State::Done || decoded.size() > via.limits.maxBodyBytes) {
            return {};
        }
        out.clear();
        if (!out.append(decoded.data(), decoded.size())) {
            return {};
        }
    } else {
        out.removeFront(out.size() - body->size());
    }
    Answer answer;
    answer.kind = Answer::Kind::Body;
    return answer;
}

NetStatus HttpClient::openTunnel(NetworkConnection& connection, const HttpAddress& address,
                                 const HttpLimits& limits) {
    const std::string authority = address.hostHeader() + ":" + std::to_string(address.port);
    const std::string request = "CONNECT " + authority + " HTTP/1.0\r\nHost: " + authority +
                                "\r\nUser-Agent: " + kUserAgent + "\r\n\r\n";
    NetStatus status = connection.writeAll(
        std::span(reinterpret_cast<const std::uint8_t*>(request.data()), request.size()), limits.idleTimeout);
    std::string received;
    std::array<std::uint8_t, 1> byte;
    // Byte by byte: whatever follows the proxy's answer belongs to TLS.
    while (status == NetStatus::Ok) {
        const NetworkConnection::ReadResult result = connection.readSome(byte, limits.idleTimeout);
        if (result.status != NetStatus::Ok) {
            return result.status == NetStatus::Closed ? NetStatus::Failed : result.status;
        }
        received.push_back(static_cast<char>(byte[0]));
        if (received.size() > HttpResponseHead::kMaxBytes) {
            return NetStatus::Failed;
        }
        if (HttpResponseHead::findEnd(received) == received.size()) {
            const std::optional<HttpResponseHead> head = HttpResponseHead::parse(received);
            return head && head->status / 100 == 2 ? NetStatus::Ok : NetStatus::Failed;
        }
    }
    return status;
}

HttpRequest HttpRequest::downloadToFile(std::string url, std::string filePath) {
    return HttpRequest{Kind::DownloadToFile, std::move(url), std::move(filePath)};
}

HttpRequest HttpRequest::fetchToMemory(std::string url) { return HttpRequest{Kind::FetchToMemory, std::move(url), {}}; }

HttpRequest HttpRequest::fetchQuietly(std::string url) { return HttpRequest{Kind::FetchQuietly, std::move(url), {}}; }

void HttpClient::post(HttpRequest request) {
    auto queued = std::make_unique<QueuedRequest>();
    queued->request = std::move(request);
    Job job;
    job.payload = std::move(queued);
    workers_.post(std::move(job));
}

void HttpClient::Workers::runJob(Job& job) {
    if (const QueuedRequest* queued = job.payloadAs<QueuedRequest>()) {
        client_.run(queued->request);
    }
}

void HttpClient::run(const HttpRequest& request) {
    switch (request.kind) {
        case HttpRequest::Kind::DownloadToFile:
            downloadToFile(request);
            break;
        case HttpRequest::Kind::FetchToMemory:
            fetchToMemory(request);
            break;
        case HttpRequest::Kind::FetchQuietly: {
            ByteBuffer ignored;
            fetch(request.url, ignored);
            break;
        }
    }
}

void HttpClient::downloadToFile(const HttpRequest& request) {
    ByteBuffer body;
    const bool done = fetch(request.url, body) && writeFileAtomically(request.filePath, body.view());
    events_.post(makeEvent(done ? EventKind::PresetsUpdated : EventKind::PresetsUpdateFailed));
}

void HttpClient::fetchToMemory(const HttpRequest& request) {
    if (!events_.isListening()) {
        return;
    }
    ByteBuffer body;
    if (fetch(request.url, body)) {
        events_.post(makeEvent(EventKind::PresetsVersion, std::string(body.view())));
    } else {
        events_.post(makeEvent(EventKind::PresetsCheckFailed));
    }
}

}  // namespace korvanel
