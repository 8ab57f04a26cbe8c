#include "audio/engine/network_connection.h"

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

}  // namespace

void NetworkConnection::SslDeleter::operator()(ssl_st* ssl) const { SSL_free(ssl); }
void NetworkConnection::SslContextDeleter::operator()(ssl_ctx_st* context) const {
    SSL_CTX_free(context);
}

NetworkConnection::NetworkConnection(const CancelSignal& cancel) : cancel_(cancel) {}

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
        pollfd fds[2] = {{socket_.get(), static_cast<short>(writable ? POLLOUT : POLLIN), 0},
                         {cancel_.readFd(), POLLIN, 0}};
        const nfds_t count = cancel_.readFd() >= 0 ? 2 : 1;
        // Without a cancel pipe, wake now and then to look at the flag.
        const int waitMs = count == 2 ? millisecondsUntil(deadline)
                                      : std::min(millisecondsUntil(deadline), 100);
        const int ready = ::poll(fds, count, waitMs);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return NetStatus::Failed;
        }
        if (count == 2 && fds[1].revents != 0) {
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
    const Clock::time_point deadline = Clock::now() + timeout;
    // A stop must not wait out a resolver that hangs.
    const int cancelFds[] = {cancel_.readFd()};
    LookupResult lookup = HostLookup::resolve(host, port, AI_ADDRCONFIG, cancelFds, deadline);
    switch (lookup.status) {
        case LookupStatus::Found: break;
        case LookupStatus::Cancelled: return NetStatus::Cancelled;
        case LookupStatus::TimedOut: return NetStatus::TimedOut;
        case LookupStatus::NotFound: return NetStatus::Unresolved;
    }
    const AddressList addresses = std::move(lookup.addresses);

    NetStatus status = NetStatus::Failed;
    bool refusedOnly = true;
    for (const addrinfo* address = addresses.get(); address != nullptr; address = address->ai_next) {
        status = connectOne(address->ai_addr, address->ai_addrlen, address->ai_family, deadline);
        if (status == NetStatus::Ok || status == NetStatus::Cancelled ||
            status == NetStatus::TimedOut) {
            break;
        }
        refusedOnly = refusedOnly && status == NetStatus::Refused;
    }
    if (status != NetStatus::Ok) {
        socket_.reset();
        return status == NetStatus::Failed && refusedOnly ? NetStatus::Refused : status;
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

NetStatus NetworkConnection::connectOne(const void* address, unsigned addressLength, int family,
                                        Clock::time_point deadline) {
    socket_.reset(::socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socket_.valid()) {
        return NetStatus::Failed;
    }
    if (::connect(socket_.get(), static_cast<const sockaddr*>(address), addressLength) == 0) {
        return NetStatus::Ok;
    }
    if (errno == ECONNREFUSED) {
        return NetStatus::Refused;
    }
    if (errno != EINPROGRESS) {
        return NetStatus::Failed;
    }
    const NetStatus waited = waitFor(true, deadline);
    if (waited != NetStatus::Ok) {
        return waited;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(socket_.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        return NetStatus::Failed;
    }
    if (error == 0) {
        return NetStatus::Ok;
    }
    if (error == ECONNREFUSED) {
        return NetStatus::Refused;
    }
    if (error == ETIMEDOUT) {
        return NetStatus::TimedOut;
    }
    return NetStatus::Failed;
}

NetStatus NetworkConnection::startTls(const std::string& host, Clock::time_point deadline) {
    context_.reset(SSL_CTX_new(TLS_client_method()));
    if (!context_) {
        return NetStatus::TlsFailed;
    }
    SSL_CTX_set_min_proto_version(context_.get(), TLS1_2_VERSION);
    SSL_CTX_set_verify(context_.get(), SSL_VERIFY_PEER, nullptr);
    // Streams are often cut without a TLS close; that is an end, not an error.
    SSL_CTX_set_options(context_.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
    if (SSL_CTX_set_default_verify_paths(context_.get()) != 1) {
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
            return SSL_get_verify_result(ssl_.get()) == X509_V_OK ? NetStatus::Ok
                                                                   : NetStatus::TlsFailed;
        }
        const int error = SSL_get_error(ssl_.get(), result);
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
            return NetStatus::TlsFailed;
        }
        const NetStatus waited = waitFor(error == SSL_ERROR_WANT_WRITE, deadline);
        if (waited != NetStatus::Ok) {
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
