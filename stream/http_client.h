#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "base/event_sink.h"
#include "base/job_pool.h"
#include "settings/settings_listener.h"
#include "stream/byte_buffer.h"
#include "stream/cancel_signal.h"
#include "stream/network_connection.h"
#include "stream/http_address.h"

namespace korvanel {

// Bounds of one fetch, so an address that is really an endless audio stream,
// or a server that goes silent, fails instead of holding a worker forever.
struct HttpLimits {
    std::chrono::milliseconds connectTimeout{10000};
    std::chrono::milliseconds idleTimeout{15000};  // silence while sending or receiving
    std::size_t maxBodyBytes = 16 * 1024 * 1024;
};

// A fetch queued to the HTTP client's workers, and what becomes of its body.
struct HttpRequest {
    enum class Kind {
        DownloadToFile,  // written over filePath; the window hears whether it was
        FetchToMemory,   // handed to the window
        FetchQuietly,    // dropped (a report to a server)
    };
    Kind kind = Kind::FetchQuietly;
    std::string url;
    std::string filePath;  // only for DownloadToFile

    // The body goes over filePath; a file beside it is renamed over it only
    // when all arrived.
    static HttpRequest downloadToFile(std::string url, std::string filePath);
    static HttpRequest fetchToMemory(std::string url);
    static HttpRequest fetchQuietly(std::string url);
};

// A minimal HTTP/1.0 GET over TCP or TLS (http:// and https://), directly or
// through the HTTP proxy of "General/Proxy" and "General/ProxyPort" (which
// tunnels https with CONNECT). Follows up to kMaxRedirects redirects, each
// hop under the same bounds, and undoes chunked bodies. A secure connection
// that fails its checks is reported to the window (EventKind::SecureFailed)
// before the fetch fails. Offered as a blocking fetch and as queued requests
// that run on up to two workers of its own and report to the main window's
// queue through the event sink.
//
// Threads: fetch(), checkCertificate() and post() may run on any thread,
// several at once; queued requests run on the workers. applySettings() runs
// on the window thread; lock_ guards the proxy and the limits it writes.
// shutdown() (also run by the destructor) cancels fetches in progress and
// joins the workers; afterwards every fetch fails at once and posted
// requests are dropped.
class HttpClient : public SettingsListener {
public:
    static constexpr const char* kUserAgent = "Korvanel Radio v0.3.6";
    static constexpr const char* kProxyHostKey = "General/Proxy";
    static constexpr const char* kProxyPortKey = "General/ProxyPort";
    static constexpr int kMaxRedirects = 5;

    // Reads the proxy from settings; reports the queued requests' results to events.
    HttpClient(const SettingsStore& settings, EventSink& events);
    ~HttpClient() override;

    // Blocking GET. On success out holds the body (headers removed, as
    // received otherwise). On any failure out is empty and false returns:
    // not an http:// or https:// address, an address too long for the
    // request, no connection, a certificate that does not check out, a
    // status line other than "HTTP/1.x 200 OK" (after the redirects), no end
    // of the headers, a malformed chunked body, a time-out, or a body over
    // the size bound. A readable stopFd (or -1) ends it at once, as
    // shutdown() does. finalUrl, when given, receives the address that
    // answered after the redirects, against which the body's relative
    // addresses resolve. secureFailure, when given, receives why a secure
    // connection of the fetch was refused (None when none was).
    bool fetch(const std::string& url, ByteBuffer& out, int stopFd = -1, std::string* finalUrl = nullptr,
               TlsFailure* secureFailure = nullptr);
    // Only connects to an https:// address and checks its certificate, as a
    // fetch would: why it is refused, or None (also for an address that is
    // not https:// or a server that cannot be reached). Nothing is posted.
    TlsFailure checkCertificate(const std::string& url, int stopFd = -1);

    // Queues the request for the workers; never waits.
    void post(HttpRequest request);

    void setLimits(const HttpLimits& limits);
    HttpLimits limits() const;

    void shutdown();

    void applySettings(SettingsStore& store) override;
    void collectSettings(SettingsStore& store) override;

private:
    // Up to two fetches at once, so a report to a server never waits behind
    // a slow download.
    class Workers final : public JobPool {
    public:
        explicit Workers(HttpClient& client) : JobPool(0, 2), client_(client) {}
        ~Workers() override { stopWorkers(); }
        void stop() { stopWorkers(); }

    private:
        void runJob(Job& job) override;
        HttpClient& client_;
    };
    struct QueuedRequest : JobPayload {
        HttpRequest request;
    };

    void run(const HttpRequest& request);
    struct Route {
        std::string proxyHost;  // empty: connect to the address's own host
        int proxyPort = 0;
        HttpLimits limits;
    };

    // One request: the body, a redirect's Location, or a failure.
    struct Answer {
        enum class Kind { Body, Redirect, Failed } kind = Kind::Failed;
        std::string location;
        TlsFailure secureFailure = TlsFailure::None;
    };
    Answer fetchOnce(const std::string& url, const Route& via, ByteBuffer& out, int stopFd);
    // Connected to the address's server, directly or through the proxy's
    // tunnel, TLS started where the address asks for it.
    NetStatus open(NetworkConnection& connection, const HttpAddress& address, const Route& via);

    // CONNECT through the proxy to the address; Ok once the proxy agreed.
    static NetStatus openTunnel(NetworkConnection& connection, const HttpAddress& address, const HttpLimits& limits);
    Route route() const;
    void readProxy(const SettingsStore& store);
    void downloadToFile(const HttpRequest& request);
    void fetchToMemory(const HttpRequest& request);

    EventSink& events_;
    CancelSignal cancel_;
    TlsClientContext tls_;
    mutable std::mutex lock_;  // guards the three fields below
    std::string proxyHost_;
    int proxyPort_ = 0;
    HttpLimits limits_;
    Workers workers_{*this};  // last: stopped before the rest goes
};

}  // namespace korvanel
