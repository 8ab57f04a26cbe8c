#include "stream/network_connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <vector>

#include "stream/host_lookup.h"

namespace korvanel {
namespace {

using Clock = std::chrono::steady_clock;

int millisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() <= 0 ? 0 : static_cast<int>(std::min<long long>(left.count(), 60000));
}

bool isIpLiteral(const std::string& host) {
    unsigned char buffer[sizeof(in6_addr)];
    return ::inet_pton(AF_INET, host.c_str(), buffer) == 1 ||
           ::inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

// Writing to a socket the peer closed raises SIGPIPE inside OpenSSL's write;
// hold the signal back on this thread and swallow it instead.
class SigpipeGuard {
public:
    SigpipeGuard() {
        sigset_t pipeOnly;
        sigemptyset(&pipeOnly);
        sigaddset(&pipeOnly, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipeOnly, &old_);
    }
    ~SigpipeGuard() {
        if (!wasPending_) {
            sigset_t pipeOnly;
            sigemptyset(&pipeOnly);
            sigaddset(&pipeOnly, SIGPIPE);
            const timespec none{0, 0};
            while (sigtimedwait(&pipeOnly, nullptr, &none) > 0) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

private:
    sigset_t old_;
    bool wasPending_ = false;
};

// The addresses in the order to try them: the resolver's first family
// first, then the families in turn (RFC 8305, section 4).
std::vector<const addrinfo*> interleaved(const addrinfo* list) {
    std::vector<const addrinfo*> first;
    std::vector<const addrinfo*> second;
    const int firstFamily = list != nullptr ? list->ai_family : AF_UNSPEC;
    for (const addrinfo* address = list; address != nullptr; address = address->ai_next) {
        (address->ai_family == firstFamily ? first : second).push_back(address);
    }
    std::vector<const addrinfo*> order;
    for (std::size_t i = 0; i < std::max(first.size(), second.size()); ++i) {
        if (i < first.size()) {
            order.push_back(first[i]);
        }
        if (i < second.size()) {
            order.push_back(second[i]);
        }
    }
    return order;
}

NetStatus statusOfError(int error) {
    switch (error) {
        case ECONNREFUSED: return NetStatus::Refused;
        case ETIMEDOUT: return NetStatus::TimedOut;
        default: return NetStatus::Failed;
    }
}

TlsFailure kindOfVerifyResult(long verified) {
    switch (verified) {
        case X509_V_OK: return TlsFailure::None;
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_CERT_NOT_YET_VALID:
        case X509_V_ERR_CRL_HAS_EXPIRED:
        case X509_V_ERR_CRL_NOT_YET_VALID: return TlsFailure::Expired;
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH: return TlsFailure::HostMismatch;
        default: return TlsFailure::Untrusted;
    }
}

TlsFailure kindOfTlsFailure(ssl_st* ssl) {
    const TlsFailure kind = ssl != nullptr ? kindOfVerifyResult(SSL_get_verify_result(ssl)) : TlsFailure::None;
    return kind == TlsFailure::None ? TlsFailure::Handshake : kind;
}

std::string describeTlsFailure(ssl_st* ssl) {
    if (ssl != nullptr) {
        const long verified = SSL_get_verify_result(ssl);
        if (verified != X509_V_OK) {
            return std::string("certificate not trusted: ") + X509_verify_cert_error_string(verified);
        }
    }
    const unsigned long error = ERR_peek_last_error();
    if (error != 0) {
        char text[256];
        ERR_error_string_n(error, text, sizeof text);
        return std::string("TLS handshake failed: ") + text;
    }
    return "TLS handshake failed";
}

}  // namespace

void NetworkConnection::SslDeleter::operator()(ssl_st* ssl) const { SSL_free(ssl); }

NetworkConnection::NetworkConnection(const CancelSignal& cancel, int otherCancelFd, TlsClientContext* tls)
    : cancel_(cancel), otherCancelFd_(otherCancelFd), tls_(tls) {}

NetworkConnection::~NetworkConnection() { close(); }

void NetworkConnection::close() {
    ssl_.reset();
    context_.reset();
    socket_.reset();
}

NetStatus NetworkConnection::waitFor(bool writable, Clock::time_point deadline) const {
    for (;;) {
        if (cancel_.raised()) {
            return NetStatus::Cancelled;
        }
        pollfd fds[3] = {{socket_.get(), static_cast<short>(writable ? POLLOUT : POLLIN), 0},
                         {cancel_.readFd(), POLLIN, 0},
                         {otherCancelFd_, POLLIN, 0}};
        // Without a cancel pipe, wake now and then to look at the flag.
        const int waitMs = cancel_.readFd() >= 0 ? millisecondsUntil(deadline)
                                                 : std::min(millisecondsUntil(deadline), 100);
        // A negative descriptor is left out by poll().
        const int ready = ::poll(fds, 3, waitMs);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return NetStatus::Failed;
        }
        if (fds[1].revents != 0 || fds[2].revents != 0) {
            return NetStatus::Cancelled;
        }
        if (fds[0].revents != 0) {
            return NetStatus::Ok;  // errors and hang-ups show in the next call
        }
        if (Clock::now() >= deadline) {
            return NetStatus::TimedOut;
        }
    }
}

NetStatus NetworkConnection::connect(const std::string& host, std::uint16_t port, bool tls,
                                     std::chrono::milliseconds timeout) {
    close();
    tlsError_.clear();
    tlsFailure_ = TlsFailure::None;
    const Clock::time_point deadline = Clock::now() + timeout;
    // A stop must not wait out a resolver that hangs.
    const int cancelFds[] = {cancel_.readFd(), otherCancelFd_};
    LookupResult lookup = HostLookup::resolve(host, port, AI_ADDRCONFIG, cancelFds, deadline);
    switch (lookup.status) {
        case LookupStatus::Found: break;
        case LookupStatus::Cancelled: return NetStatus::Cancelled;
        case LookupStatus::TimedOut: return NetStatus::TimedOut;
        case LookupStatus::NotFound: return NetStatus::Unresolved;
    }
    const AddressList addresses = std::move(lookup.addresses);
    NetStatus status = connectRacing(addresses.get(), deadline);
    if (status != NetStatus::Ok) {
        socket_.reset();
        return status;
    }
    const int noDelay = 1;
    ::setsockopt(socket_.get(), IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    if (tls) {
        status = startTls(host, deadline);
        if (status != NetStatus::Ok) {
            close();
        }
    }
    return status;
}

NetStatus NetworkConnection::connectRacing(const void* addresses, Clock::time_point deadline) {
    const std::vector<const addrinfo*> order = interleaved(static_cast<const addrinfo*>(addresses));
    struct Attempt {
        UniqueFd socket;
    };
    std::vector<Attempt> pending;
    std::size_t next = 0;
    Clock::time_point nextStart = Clock::now();
    bool refusedOnly = true;
    NetStatus lastFailure = NetStatus::Failed;
    const auto failed = [&](NetStatus status) {
        refusedOnly = refusedOnly && status == NetStatus::Refused;
        lastFailure = status;
    };
    for (;;) {
        if (cancel_.raised()) {
            return NetStatus::Cancelled;
        }
        // A new attempt when it is due, or at once when none is waiting.
        while (next < order.size() && (pending.empty() || Clock::now() >= nextStart)) {
            const addrinfo* address = order[next++];
            UniqueFd socket(::socket(address->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
            if (!socket.valid()) {
                failed(NetStatus::Failed);
                continue;
            }
            if (::connect(socket.get(), address->ai_addr, address->ai_addrlen) == 0) {
                socket_ = std::move(socket);
                return NetStatus::Ok;
            }
            if (errno != EINPROGRESS) {
                failed(statusOfError(errno));
                continue;
            }
            pending.push_back(Attempt{std::move(socket)});
            nextStart = Clock::now() + kAttemptDelay;
        }
        if (pending.empty()) {
            return refusedOnly ? NetStatus::Refused : lastFailure;
        }
        if (Clock::now() >= deadline) {
            return NetStatus::TimedOut;
        }
        std::vector<pollfd> fds;
        for (const Attempt& attempt : pending) {
            fds.push_back({attempt.socket.get(), POLLOUT, 0});
        }
        fds.push_back({cancel_.readFd(), POLLIN, 0});
        fds.push_back({otherCancelFd_, POLLIN, 0});
        Clock::time_point wake = deadline;
        if (next < order.size()) {
            wake = std::min(wake, nextStart);
        }
        int waitMs = millisecondsUntil(wake);
        if (cancel_.readFd() < 0) {
            waitMs = std::min(waitMs, 100);
        }
        const int ready = ::poll(fds.data(), fds.size(), waitMs);
        if (ready < 0 && errno != EINTR) {
            return NetStatus::Failed;
        }
        if (ready <= 0) {
            continue;
        }
        if (fds[pending.size()].revents != 0 || fds[pending.size() + 1].revents != 0) {
            return NetStatus::Cancelled;
        }
        for (std::size_t i = pending.size(); i-- > 0;) {
            if (fds[i].revents == 0) {
                continue;
            }
            int error = 0;
            socklen_t length = sizeof error;
            if (::getsockopt(pending[i].socket.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
                error = EIO;
            }
            if (error == 0) {
                socket_ = std::move(pending[i].socket);
                return NetStatus::Ok;  // the others close as they go
            }
            failed(statusOfError(error));
            pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(i));
            // The next address need not wait for a failure.
            nextStart = Clock::now();
        }
    }
}

NetStatus NetworkConnection::startTls(const std::string& host, std::chrono::milliseconds timeout) {
    tlsError_.clear();
    tlsFailure_ = TlsFailure::None;
    const NetStatus status = startTls(host, Clock::now() + timeout);
    if (status != NetStatus::Ok) {
        close();
    }
    return status;
}

NetStatus NetworkConnection::startTls(const std::string& host, Clock::time_point deadline) {
    if (tls_ != nullptr) {
        context_ = tls_->get();
    } else {
        TlsClientContext own;
        context_ = own.get();
    }
    // Until the handshake gives a verdict, a failure is the handshake's.
    tlsFailure_ = TlsFailure::Handshake;
    if (!context_) {
        tlsError_ = "TLS is not available";
        return NetStatus::TlsFailed;
    }
    ssl_.reset(SSL_new(context_.get()));
    if (!ssl_ || SSL_set_fd(ssl_.get(), socket_.get()) != 1) {
        return NetStatus::TlsFailed;
    }
    if (isIpLiteral(host)) {
        X509_VERIFY_PARAM* param = SSL_get0_param(ssl_.get());
        if (X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) != 1) {
            return NetStatus::TlsFailed;
        }
    } else {
        // SSL_set_tlsext_host_name, without the macro's C cast.
        if (SSL_ctrl(ssl_.get(), SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                     const_cast<char*>(host.c_str())) != 1 ||
            SSL_set1_host(ssl_.get(), host.c_str()) != 1) {
            return NetStatus::TlsFailed;
        }
    }
    SigpipeGuard guard;
    for (;;) {
        ERR_clear_error();
        const int result = SSL_connect(ssl_.get());
        if (result == 1) {
            if (SSL_get_verify_result(ssl_.get()) == X509_V_OK) {
                tlsFailure_ = TlsFailure::None;
                return NetStatus::Ok;
            }
            tlsError_ = describeTlsFailure(ssl_.get());
            tlsFailure_ = kindOfTlsFailure(ssl_.get());
            return NetStatus::TlsFailed;
        }
        const int error = SSL_get_error(ssl_.get(), result);
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
            tlsError_ = describeTlsFailure(ssl_.get());
            tlsFailure_ = kindOfTlsFailure(ssl_.get());
            return NetStatus::TlsFailed;
        }
        const NetStatus waited = waitFor(error == SSL_ERROR_WANT_WRITE, deadline);
        if (waited != NetStatus::Ok) {
            tlsFailure_ = TlsFailure::None;  // a time-out or a stop, not a refusal
            return waited;
        }
    }
}

NetStatus NetworkConnection::writeAll(std::span<const std::uint8_t> data,
                                      std::chrono::milliseconds timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    SigpipeGuard guard;
    while (!data.empty()) {
        if (ssl_) {
            ERR_clear_error();
            const int chunk = static_cast<int>(std::min<std::size_t>(data.size(), 1 << 20));
            const int result = SSL_write(ssl_.get(), data.data(), chunk);
            if (result > 0) {
                data = data.subspan(static_cast<std::size_t>(result));
                continue;
            }
            const int error = SSL_get_error(ssl_.get(), result);
            if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
                return NetStatus::Failed;
            }
            const NetStatus waited = waitFor(error == SSL_ERROR_WANT_WRITE, deadline);
            if (waited != NetStatus::Ok) {
                return waited;
            }
            continue;
        }
        const ssize_t sent = ::send(socket_.get(), data.data(), data.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            data = data.subspan(static_cast<std::size_t>(sent));
            continue;
        }
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const NetStatus waited = waitFor(true, deadline);
            if (waited != NetStatus::Ok) {
                return waited;
            }
            continue;
        }
        return NetStatus::Failed;
    }
    return NetStatus::Ok;
}

NetworkConnection::ReadResult NetworkConnection::readSome(std::span<std::uint8_t> buffer,
                                                          std::chrono::milliseconds timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    if (!socket_.valid()) {
        return {NetStatus::Failed, 0};
    }
    for (;;) {
        if (cancel_.raised()) {
            return {NetStatus::Cancelled, 0};
        }
        if (ssl_) {
            ERR_clear_error();
            const int chunk = static_cast<int>(std::min<std::size_t>(buffer.size(), 1 << 20));
            const int result = SSL_read(ssl_.get(), buffer.data(), chunk);
            if (result > 0) {
                return {NetStatus::Ok, static_cast<std::size_t>(result)};
            }
            const int error = SSL_get_error(ssl_.get(), result);
            if (error == SSL_ERROR_ZERO_RETURN) {
                return {NetStatus::Closed, 0};
            }
            if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
                return {error == SSL_ERROR_SYSCALL ? NetStatus::Closed : NetStatus::Failed, 0};
            }
            const NetStatus waited = waitFor(error == SSL_ERROR_WANT_WRITE, deadline);
            if (waited != NetStatus::Ok) {
                return {waited, 0};
            }
            continue;
        }
        const ssize_t received = ::recv(socket_.get(), buffer.data(), buffer.size(), 0);
        if (received > 0) {
            return {NetStatus::Ok, static_cast<std::size_t>(received)};
        }
        if (received == 0) {
            return {NetStatus::Closed, 0};
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            return {errno == ECONNRESET ? NetStatus::Closed : NetStatus::Failed, 0};
        }
        const NetStatus waited = waitFor(false, deadline);
        if (waited != NetStatus::Ok) {
            return {waited, 0};
        }
    }
}

}  // namespace korvanel
