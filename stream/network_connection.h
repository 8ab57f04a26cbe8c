#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "stream/cancel_signal.h"
#include "stream/tls_client_context.h"
#include "stream/tls_failure.h"
#include "stream/unique_fd.h"

struct ssl_st;
struct ssl_ctx_st;

namespace korvanel {

enum class NetStatus {
    Ok,
    Closed,      // the peer ended the connection
    TimedOut,
    Cancelled,
    Refused,     // nobody listens there
    Unresolved,  // no address for the host
    Failed,      // any other socket error
    TlsFailed,   // handshake or certificate check failed
};

// One TCP connection, plain or TLS, whose every wait is a poll() bounded by
// a time-out and the cancel signal. TLS checks the certificate chain against
// the system's CA store (SSL_CERT_FILE and SSL_CERT_DIR override it, as for
// every OpenSSL program) and the certificate against the host name.
// Used by one thread at a time.
class NetworkConnection {
public:
    struct ReadResult {
        NetStatus status = NetStatus::Ok;
        std::size_t count = 0;
    };

    // otherCancelFd (or -1) ends every wait too, as soon as it is readable:
    // the owner's shutdown and one caller's stop can both end a request.
    // tls: the owner's shared TLS settings; without them the connection
    // makes its own.
    explicit NetworkConnection(const CancelSignal& cancel, int otherCancelFd = -1, TlsClientContext* tls = nullptr);
    ~NetworkConnection();
    NetworkConnection(const NetworkConnection&) = delete;
    NetworkConnection& operator=(const NetworkConnection&) = delete;

    // Tries the host's addresses within one time-out as browsers do: IPv6
    // and IPv4 in turn, a new attempt every kAttemptDelay while the earlier
    // ones still wait, the first to connect wins.
    NetStatus connect(const std::string& host, std::uint16_t port, bool tls,
                      std::chrono::milliseconds timeout);
    static constexpr std::chrono::milliseconds kAttemptDelay{250};
    // TLS over the connection as it stands (a proxy's tunnel), for host.
    NetStatus startTls(const std::string& host, std::chrono::milliseconds timeout);
    // Why the last TLS start failed, for the user; empty when it did not.
    const std::string& tlsError() const { return tlsError_; }
    // The same as a kind, for a text in the user's language.
    TlsFailure tlsFailure() const { return tlsFailure_; }
    NetStatus writeAll(std::span<const std::uint8_t> data, std::chrono::milliseconds timeout);
    // At least one byte, or a status other than Ok.
    ReadResult readSome(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout);
    void close();

private:
    struct SslDeleter {
        void operator()(ssl_st* ssl) const;
    };

    NetStatus connectRacing(const void* addresses, std::chrono::steady_clock::time_point deadline);
    NetStatus startTls(const std::string& host, std::chrono::steady_clock::time_point deadline);
    // Waits for the socket to become readable (or writable); Ok when it did.
    NetStatus waitFor(bool writable, std::chrono::steady_clock::time_point deadline) const;

    const CancelSignal& cancel_;
    int otherCancelFd_ = -1;
    UniqueFd socket_;
    std::string tlsError_;
    TlsFailure tlsFailure_ = TlsFailure::None;
    TlsClientContext* tls_ = nullptr;
    std::shared_ptr<ssl_ctx_st> context_;
    std::unique_ptr<ssl_st, SslDeleter> ssl_;
};

}  // namespace korvanel
