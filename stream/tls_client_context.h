#pragma once

#include <memory>
#include <mutex>
#include <string>

struct ssl_ctx_st;

namespace korvanel {

// What every secure connection of one owner shares: the TLS client settings
// and the CA store, read once. Reading the system's store costs
// milliseconds, which each connection (a playlist, then its stream, then
// every reconnect) would pay again.
//
// Threads: get() from any thread, several at once; lock_ guards both
// members, and a context handed out stays valid while the caller holds it.
class TlsClientContext {
public:
    // The context for the store SSL_CERT_FILE and SSL_CERT_DIR name now (the
    // system's when they are unset): made on first use and again only when
    // they change. Null when OpenSSL could not make one.
    std::shared_ptr<ssl_ctx_st> get();

private:
    std::mutex lock_;
    std::string store_;  // the variables the context was made with
    std::shared_ptr<ssl_ctx_st> context_;
};

}  // namespace korvanel
