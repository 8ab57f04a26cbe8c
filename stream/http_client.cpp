#include "stream/http_client.h"

#include <array>
#include <optional>
#include <utility>

#include "base/file_util.h"
#include "settings/settings_store.h"
#include "stream/http_address.h"
#include "stream/http_response.h"
#include "stream/tcp_connection.h"

namespace korvanel {

namespace {

constexpr std::size_t kReceiveChunk = 10000;

}  // namespace

HttpClient::HttpClient(const SettingsStore& settings, EventSink& events) : JobPool(0, 2), events_(events) {
    readProxy(settings);
}

HttpClient::~HttpClient() { shutdown(); }

void HttpClient::shutdown() {
    cancel_.raise();
    stopWorkers();
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

bool HttpClient::fetch(const std::string& url, ByteBuffer& out, int stopFd) {
    out.clear();
    const std::optional<HttpAddress> address = HttpAddress::parse(url);
    if (!address) {
        return false;
    }
    const Route via = route();
    const bool useProxy = !via.proxyHost.empty();
    const std::optional<std::string> request =
        buildGetRequest(useProxy ? std::string_view(url) : std::string_view(address->path), address->host, kUserAgent);
    if (!request) {
        return false;
    }
    if (useProxy && (via.proxyPort <= 0 || via.proxyPort > 65535)) {
        return false;
    }

    std::optional<TcpConnection> connection =
        useProxy ? TcpConnection::connect(via.proxyHost, static_cast<std::uint16_t>(via.proxyPort),
                                          via.limits.connectTimeout, cancel_.readFd(), stopFd)
                 : TcpConnection::connect(address->host, address->port, via.limits.connectTimeout, cancel_.readFd(),
                                          stopFd);
    if (!connection || !connection->sendAll(*request, via.limits.idleTimeout)) {
        return false;
    }

    const std::size_t maxResponse = via.limits.maxBodyBytes + kMaxHttpHeaderBytes;
    std::array<char, kReceiveChunk> chunk;
    for (;;) {
        const std::optional<std::size_t> received = connection->receive(chunk.data(), chunk.size(), via.limits.idleTimeout);
        if (!received || (*received > 0 && (out.size() + *received > maxResponse || !out.append(chunk.data(), *received)))) {
            out.clear();  // a partial response is worth nothing
            return false;
        }
        if (*received == 0) {
            break;  // the server closed: the response is complete
        }
    }
    connection.reset();

    const std::optional<std::string_view> body = httpResponseBody(out.view(), via.limits.maxBodyBytes);
    if (!body) {
        out.clear();
        return false;
    }
    out.removeFront(out.size() - body->size());
    return true;
}

Job HttpClient::downloadToFileJob(std::string url, std::string filePath) {
    auto request = std::make_unique<HttpRequest>();
    request->url = std::move(url);
    request->filePath = std::move(filePath);
    Job job;
    job.code = kDownloadToFile;
    job.payload = std::move(request);
    return job;
}

Job HttpClient::fetchToMemoryJob(std::string url) {
    auto request = std::make_unique<HttpRequest>();
    request->url = std::move(url);
    Job job;
    job.code = kFetchToMemory;
    job.payload = std::move(request);
    return job;
}

void HttpClient::runJob(Job& job) {
    const HttpRequest* request = job.payloadAs<HttpRequest>();
    if (request == nullptr) {
        return;
    }
    if (job.code == kDownloadToFile) {
        downloadToFile(*request);
    } else if (job.code == kFetchToMemory) {
        fetchToMemory(*request);
    }
}

void HttpClient::downloadToFile(const HttpRequest& request) {
    ByteBuffer body;
    const bool done = fetch(request.url, body) && writeFileAtomically(request.filePath, body.view());
    events_.post(makeJob(done ? kEventPresetsUpdated : kEventPresetsUpdateFailed));
}

void HttpClient::fetchToMemory(const HttpRequest& request) {
    if (!events_.isListening()) {
        return;
    }
    ByteBuffer body;
    if (fetch(request.url, body)) {
        events_.post(makeJob(kEventPresetsVersion, std::string(body.view())));
    } else {
        events_.post(makeJob(kEventPresetsCheckFailed));
    }
}

}  // namespace korvanel
